// Tables from bytes already in memory: tables_from_texts(data, layers) loads
// one version of the table bundle; tables_from_wmo_csv(directory) is the WMO
// CSV source with its code and flag tables; csv_records(data, dialect) reads
// table records as the loaders do, for tests.
#include <string_view>

#include "py_common/args.hpp"
#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/module_types.hpp"
#include "py_common/pyref.hpp"
#include "py_native/functions.hpp"
#include "py_native/path_arg.hpp"
#include "tables/csv_reader.hpp"
#include "tables/table_texts.hpp"
#include "tables/wmo_csv_tables.hpp"

namespace skyrec::py {
namespace {

// `item` as a [start, end) slice of `data`; TypeError or ValueError otherwise.
bool span_arg(PyObject* item, std::string_view data, std::string_view& out) {
    if (!PyTuple_Check(item) && !PyList_Check(item)) {
        PyErr_SetString(PyExc_TypeError, "a table text must be a (start, end) pair");
        return false;
    }
    Ref fast = Ref::steal(PySequence_Fast(item, "a table text must be a (start, end) pair"));
    if (!fast) return false;
    std::uint64_t start = 0, end = 0;
    if (PySequence_Fast_GET_SIZE(fast.get()) != 2 ||
        !uint_arg(PySequence_Fast_GET_ITEM(fast.get(), 0), "start", data.size(), &start) ||
        !uint_arg(PySequence_Fast_GET_ITEM(fast.get(), 1), "end", data.size(), &end)) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "a table text must be a (start, end) pair");
        return false;
    }
    if (end < start) {
        PyErr_SetString(PyExc_ValueError, "a table text ends before it starts");
        return false;
    }
    out = data.substr(start, end - start);
    return true;
}

bool optional_span_arg(PyObject* item, std::string_view data, std::optional<std::string_view>& out) {
    if (item == Py_None) return true;
    std::string_view span;
    if (!span_arg(item, data, span)) return false;
    out = span;
    return true;
}

// (element span or None, sequence span or None, [(file name, start, end), ...]).
bool layer_arg(PyObject* item, std::string_view data, TableTexts& out) {
    Ref layer = Ref::steal(PySequence_Fast(item, "a table layer must be a sequence"));
    if (!layer) return false;
    if (PySequence_Fast_GET_SIZE(layer.get()) != 3) {
        PyErr_SetString(PyExc_TypeError, "a table layer has three items");
        return false;
    }
    PyObject** parts = PySequence_Fast_ITEMS(layer.get());
    if (!optional_span_arg(parts[0], data, out.element_table) ||
        !optional_span_arg(parts[1], data, out.sequence_file)) {
        return false;
    }
    Ref codes = Ref::steal(PySequence_Fast(parts[2], "code tables must be a sequence"));
    if (!codes) return false;
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(codes.get());
    out.code_tables.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        Ref entry = Ref::steal(PySequence_Fast(PySequence_Fast_GET_ITEM(codes.get(), i), "bad code table entry"));
        if (!entry) return false;
        if (PySequence_Fast_GET_SIZE(entry.get()) != 3 || !PyUnicode_Check(PySequence_Fast_GET_ITEM(entry.get(), 0))) {
            PyErr_SetString(PyExc_TypeError, "a code table entry is (file name, start, end)");
            return false;
        }
        PyObject** fields = PySequence_Fast_ITEMS(entry.get());
        Py_ssize_t length = 0;
        const char* name = PyUnicode_AsUTF8AndSize(fields[0], &length);
        if (name == nullptr) return false;
        Ref pair = Ref::steal(PyTuple_Pack(2, fields[1], fields[2]));
        std::string_view bytes;
        if (!pair || !span_arg(pair.get(), data, bytes)) return false;
        // The name's UTF-8 lives as long as the str, which the list holds.
        out.code_tables.emplace_back(std::string_view(name, static_cast<std::size_t>(length)), bytes);
    }
    return true;
}

PyObject* tables_from_texts(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"data", "layers", nullptr};
    PyObject *data_obj, *layers_obj;
    if (!parse_args(args, kwargs, "OO:tables_from_texts", names, &data_obj, &layers_obj)) return nullptr;
    auto bytes = bytes_arg(data_obj, "data");
    if (!bytes) return nullptr;
    const std::string_view data(reinterpret_cast<const char*>(bytes->data), bytes->size);
    Ref layers = Ref::steal(PySequence_Fast(layers_obj, "layers must be a sequence"));
    if (!layers) return nullptr;
    std::vector<TableTexts> texts(static_cast<std::size_t>(PySequence_Fast_GET_SIZE(layers.get())));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (!layer_arg(PySequence_Fast_GET_ITEM(layers.get(), static_cast<Py_ssize_t>(i)), data, texts[i])) {
            return nullptr;
        }
    }
    Result<TableSet> tables = TableSet{};
    for (const TableTexts& layer : texts) {
        if (Status read = read_table_texts(*tables, layer, NumberBlanks::Ignored); !read) {
            tables = std::move(read).error();
            break;
        }
    }
    return finish(std::move(tables), new_table_set);
}

PyObject* tables_from_wmo_csv(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"directory", nullptr};
    PyObject* path_obj;
    if (!parse_args(args, kwargs, "O:tables_from_wmo_csv", names, &path_obj)) return nullptr;
    auto path = path_arg(path_obj, "directory");
    if (!path) return nullptr;
    return finish(load_wmo_csv_tables_with_codes(*path), new_table_set);
}

PyObject* csv_records(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"data", "dialect", nullptr};
    PyObject *data_obj, *dialect_obj;
    if (!parse_args(args, kwargs, "OO:csv_records", names, &data_obj, &dialect_obj)) return nullptr;
    auto bytes = bytes_arg(data_obj, "data");
    if (!bytes) return nullptr;
    auto dialect_name = str_arg(dialect_obj, "dialect");
    if (!dialect_name) return nullptr;
    if (*dialect_name != "wmo" && *dialect_name != "element") {
        PyErr_SetString(PyExc_ValueError, "dialect must be 'wmo' or 'element'");
        return nullptr;
    }
    const CsvDialect dialect = *dialect_name == "wmo" ? CsvDialect::Wmo : CsvDialect::ElementTable;
    Ref records = Ref::steal(PyList_New(0));
    if (!records) return nullptr;
    const std::string_view data(reinterpret_cast<const char*>(bytes->data), bytes->size);
    bool failed = false;  // a Python error is set: stop reading
    Status read = for_each_record(data, dialect, [&](const CsvRecord& record) -> Status {
        Ref fields = Ref::steal(PyList_New(static_cast<Py_ssize_t>(record.field_count())));
        for (std::size_t i = 0; fields && i < record.field_count(); ++i) {
            const std::string_view field = record.field(i);
            PyObject* item = PyBytes_FromStringAndSize(field.data(), static_cast<Py_ssize_t>(field.size()));
            if (item == nullptr)
                fields = Ref{};
            else
                PyList_SET_ITEM(fields.get(), static_cast<Py_ssize_t>(i), item);
        }
        failed = !fields || PyList_Append(records.get(), fields.get()) != 0;
        return failed ? Status(BufrError::text("")) : Status(Ok{});
    });
    if (failed) return nullptr;
    Ref error = read ? Ref::borrow(Py_None) : Ref::steal(to_py(read.error().message()));
    if (!error) return nullptr;
    return PyTuple_Pack(2, records.get(), error.get());
}

}  // namespace

PyMethodDef tables_from_texts_def = {"tables_from_texts", kw_method(guard<tables_from_texts>),
                                     METH_VARARGS | METH_KEYWORDS, "tables_from_texts(data, layers)\n--\n\n"};
PyMethodDef tables_from_wmo_csv_def = {"tables_from_wmo_csv", kw_method(guard<tables_from_wmo_csv>),
                                       METH_VARARGS | METH_KEYWORDS, "tables_from_wmo_csv(directory)\n--\n\n"};
PyMethodDef csv_records_def = {"csv_records", kw_method(guard<csv_records>), METH_VARARGS | METH_KEYWORDS,
                               "csv_records(data, dialect)\n--\n\n"};

}  // namespace skyrec::py
