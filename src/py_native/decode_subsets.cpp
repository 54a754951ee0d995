// decode_subsets(data, start, message, tables): the message's values as
// _skyrec decodes them, with the index of each subset's first value.
#include <vector>

#include "decode/decode_section4.hpp"
#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/module_types.hpp"
#include "py_common/pyref.hpp"
#include "py_common/unlocked.hpp"
#include "py_native/decode_error.hpp"
#include "py_native/functions.hpp"
#include "py_native/message_arg.hpp"

namespace skyrec::py {
namespace {

PyObject* decode_subsets(PyObject*, PyObject* args, PyObject* kwargs) {
    auto in = message_args(args, kwargs, "OOOO:decode_subsets");
    if (!in) return nullptr;
    std::vector<std::size_t> starts;
    auto values = unlocked([&] { return decode_section4(*in->message, *in->tables, in->section4_data(), &starts); },
                           raise_decode_error);
    if (!values) return nullptr;
    Ref list = Ref::steal(decoded_value_list(*values));
    Ref start_list = Ref::steal(list_of(starts, [](std::size_t i) { return PyLong_FromSize_t(i); }));
    if (!list || !start_list) return nullptr;
    return PyTuple_Pack(2, list.get(), start_list.get());
}

}  // namespace

PyMethodDef decode_subsets_def = {"decode_subsets", kw_method(guard<decode_subsets>), METH_VARARGS | METH_KEYWORDS,
                                  "decode_subsets(data, start, message, tables)\n--\n\n"};

}  // namespace skyrec::py
