// decode_columns(data, start, message, tables): one message's values as
// columns, decoded as decode_block decodes them (a block of one message, its
// codes left 32 bits wide), with "subset_starts": where each subset's values
// start. No Python object is made per value.
#include <vector>

#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/pyref.hpp"
#include "py_common/unlocked.hpp"
#include "py_native/decode_error.hpp"
#include "py_native/functions.hpp"
#include "py_native/message_arg.hpp"
#include "py_native/result_dict.hpp"
#include "py_native/value_columns.hpp"
#include "sinks/block_columns.hpp"

namespace skyrec::py {
namespace {

static_assert(sizeof(std::size_t) == sizeof(std::uint64_t), "subset starts travel as 64-bit integers");

PyObject* decode_columns(PyObject*, PyObject* args, PyObject* kwargs) {
    auto in = message_args(args, kwargs, "OOOO:decode_columns");
    if (!in) return nullptr;
    BlockBuilder builder(ArraySet::untagged());
    const auto decoded = unlocked(
        [&] { return builder.append(*in->message, *in->tables, in->section4_data(), in->bytes.size, MessageTag{}); },
        raise_decode_error);
    if (!decoded) return nullptr;
    const std::vector<std::size_t> starts = builder.subset_starts();
    BlockColumns columns = builder.take();
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    const bool ok = set_value_columns(dict.get(), columns) && set_item(dict.get(), "subset_starts", owned_copy(starts));
    return ok ? dict.release() : nullptr;
}

}  // namespace

PyMethodDef decode_columns_def = {"decode_columns", kw_method(guard<decode_columns>), METH_VARARGS | METH_KEYWORDS,
                                  "decode_columns(data, start, message, tables)\n--\n\n"};

}  // namespace skyrec::py
