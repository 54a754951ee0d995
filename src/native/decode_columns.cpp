// decode_columns(data, start, message, tables): the message's values as
// columns, each a bytearray of fixed-size items that NumPy takes as it is
// (np.frombuffer), and the category lists that the code columns index.
// No Python object is made per value.
#include <string>
#include <string_view>
#include <vector>

#include "columns/column_builder.hpp"
#include "lib/boxed.hpp"
#include "lib/errors.hpp"
#include "lib/pyref.hpp"
#include "lib/signal_watch.hpp"
#include "native/bytearrays.hpp"
#include "native/column_bytearrays.hpp"
#include "native/decode_error.hpp"
#include "native/functions.hpp"
#include "native/message_arg.hpp"

namespace skyrec::py {
namespace {

PyObject* pointed(const std::string* text) { return lossy_str(*text); }

static_assert(sizeof(std::size_t) == sizeof(std::uint64_t), "subset starts travel as 64-bit integers");

PyObject* columns_dict(const ColumnBytearrays& columns, const ColumnCategories& categories, std::size_t count,
                       const std::vector<std::size_t>& starts) {
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    const bool ok = columns.add_to(dict.get()) && set_item(dict.get(), "count", PyLong_FromSize_t(count)) &&
                    set_item(dict.get(), "subset_starts", bytearray_of(starts)) &&
                    set_item(dict.get(), "element_names", list_of(categories.element_names, pointed)) &&
                    set_item(dict.get(), "element_units", list_of(categories.element_units, pointed)) &&
                    set_item(dict.get(), "element_keys", list_of(categories.element_keys, pointed)) &&
                    set_item(dict.get(), "meanings", list_of(categories.meanings, pointed)) &&
                    set_item(dict.get(), "texts", list_of(categories.texts, lossy_str));
    return ok ? dict.release() : nullptr;
}

PyObject* decode_columns(PyObject*, PyObject* args, PyObject* kwargs) {
    auto in = message_args(args, kwargs, "OOOO:decode_columns");
    if (!in) return nullptr;
    std::vector<std::size_t> starts;
    SignalWatch watch;
    auto values = in->decode(starts);
    if (watch.raised()) return nullptr;
    if (!values) return raise_decode_error(values.error());
    const std::size_t count = values->size();

    const auto columns = ColumnBytearrays::make(count);
    if (!columns) return nullptr;
    const ColumnArrays out = columns->arrays();
    const ColumnCategories categories = [&] {
        WithoutGil unlocked;
        return fill_columns(*in->tables, *values, starts, out);
    }();
    return columns_dict(*columns, categories, count, starts);
}

}  // namespace

PyMethodDef decode_columns_def = {"decode_columns", kw_method(guard<decode_columns>), METH_VARARGS | METH_KEYWORDS,
                                  "decode_columns(data, start, message, tables)\n--\n\n"};

}  // namespace skyrec::py
