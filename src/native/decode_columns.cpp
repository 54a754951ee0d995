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
#include "native/bytearrays.hpp"
#include "native/functions.hpp"
#include "native/message_arg.hpp"

namespace skyrec::py {
namespace {

struct Column {
    const char* key;
    std::size_t item_size;
    Ref array;  // a bytearray of count * item_size bytes
    void* data() const noexcept { return PyByteArray_AS_STRING(array.get()); }
};

PyObject* pointed(const std::string* text) { return str_of(*text); }

static_assert(sizeof(std::size_t) == sizeof(std::uint64_t), "subset starts travel as 64-bit integers");

PyObject* columns_dict(std::vector<Column>& columns, const ColumnCategories& categories, std::size_t count,
                       const std::vector<std::size_t>& starts) {
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    for (Column& column : columns) {
        if (PyDict_SetItemString(dict.get(), column.key, column.array.get()) != 0) return nullptr;
    }
    const bool ok = set_item(dict.get(), "count", PyLong_FromSize_t(count)) &&
                    set_item(dict.get(), "subset_starts", bytearray_of(starts)) &&
                    set_item(dict.get(), "element_names", list_of(categories.element_names, pointed)) &&
                    set_item(dict.get(), "element_units", list_of(categories.element_units, pointed)) &&
                    set_item(dict.get(), "meanings", list_of(categories.meanings, pointed)) &&
                    set_item(dict.get(), "texts", list_of(categories.texts, str_of));
    return ok ? dict.release() : nullptr;
}

PyObject* decode_columns(PyObject*, PyObject* args, PyObject* kwargs) {
    auto in = message_args(args, kwargs, "OOOO:decode_columns");
    if (!in) return nullptr;
    return guarded([&]() -> PyObject* {
        std::vector<std::size_t> starts;
        auto values = in->decode(starts);
        if (!values) return raise(values.error());
        const std::size_t count = values->size();

        std::vector<Column> columns;
        columns.reserve(8);
        for (auto [key, size] : {std::pair<const char*, std::size_t>{"descriptor", sizeof(DescriptorCode)},
                                 {"value", sizeof(double)},
                                 {"raw", sizeof(std::uint64_t)},
                                 {"raw_present", sizeof(std::uint8_t)},
                                 {"subset", sizeof(std::uint32_t)},
                                 {"element", sizeof(std::int32_t)},
                                 {"text", sizeof(std::int32_t)},
                                 {"meaning", sizeof(std::int32_t)}}) {
            Ref array = Ref::steal(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count * size)));
            if (!array) return nullptr;
            columns.push_back({key, size, std::move(array)});
        }
        const ColumnArrays out{
            static_cast<DescriptorCode*>(columns[0].data()), static_cast<double*>(columns[1].data()),
            static_cast<std::uint64_t*>(columns[2].data()),  static_cast<std::uint8_t*>(columns[3].data()),
            static_cast<std::uint32_t*>(columns[4].data()),  static_cast<std::int32_t*>(columns[5].data()),
            static_cast<std::int32_t*>(columns[6].data()),   static_cast<std::int32_t*>(columns[7].data()),
        };
        const ColumnCategories categories = [&] {
            WithoutGil unlocked;
            return fill_columns(*in->tables, *values, starts, out);
        }();
        return columns_dict(columns, categories, count, starts);
    });
}

}  // namespace

PyMethodDef decode_columns_def = {"decode_columns", kw_method(decode_columns), METH_VARARGS | METH_KEYWORDS,
                                  "decode_columns(data, start, message, tables)\n--\n\n"};

}  // namespace skyrec::py
