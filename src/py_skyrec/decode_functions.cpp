// decode_values and decode_values_with_tables: the first message of a buffer,
// framed, then its section 4 decoded into a list of DecodedValue.
#include <optional>
#include <string>
#include <vector>

#include "decode/decode_section4.hpp"
#include "message/scan.hpp"
#include "py_common/args.hpp"
#include "py_common/errors.hpp"
#include "py_common/held_tables.hpp"
#include "py_common/module_types.hpp"
#include "py_common/pyref.hpp"
#include "py_common/signal_watch.hpp"
#include "py_skyrec/value_list.hpp"
#include "tables/definitions_root.hpp"
#include "tables/eccodes_tables.hpp"

namespace skyrec::py {
namespace {

struct FirstMessage {
    BufrMessage record;
    ByteView bytes;
};

// The whole buffer is scanned (a bad later message fails the call), then the
// first message alone is framed.
Result<FirstMessage> frame_first_message(ByteView data) {
    auto slices = scan_messages(data);
    if (!slices) return std::move(slices).error();
    if (slices->empty()) return BufrError::missing_marker();
    const ByteView bytes = slices->front().in(data);
    auto record = frame_message(bytes);
    if (!record) return std::move(record).error();
    return FirstMessage{std::move(record).value(), bytes};
}

// Decodes into new objects while `tables` lives: the records borrow its texts.
// `cache`, when given, is what the tables' object keeps across calls;
// tables loaded for one call get a cache of their own.
PyObject* decode_to_list(const FirstMessage& message, const TableSet& tables, ValueListCache* cache = nullptr) {
    std::optional<ValueListCache> own;
    if (cache == nullptr) cache = &own.emplace(tables);
    ValueListBuilder builder(cache->strings);
    SignalWatch watch;
    const Status status = decode_section4_into(message.record, tables, message.record.section4_data(message.bytes),
                                               builder, nullptr, &cache->elements);
    // A handler's exception first: the builder stops for it without one of its own.
    if (watch.raised()) return nullptr;
    if (builder.failed()) return nullptr;  // with its Python error set
    if (!status) return raise(status.error());
    return builder.finish();
}

// decode_values and decode_values_with_definitions: the message is framed
// before any table is read, so a bad message is reported before a bad path.
template <class Load>
PyObject* decode_with_loaded_tables(PyObject* args, PyObject* kwargs, const char* format, const char* path_name,
                                    Load&& load) {
    const char* const names[] = {"data", path_name, nullptr};
    PyObject *data_obj, *path_obj;
    if (!parse_args(args, kwargs, format, names, &data_obj, &path_obj)) return nullptr;
    auto data = bytes_arg(data_obj, "data");
    if (!data) return nullptr;
    auto path = str_arg(path_obj, path_name);
    if (!path) return nullptr;
    auto message = frame_first_message(*data);
    if (!message) return raise(message.error());
    auto tables = load(*path, message->record);
    if (!tables) return raise(tables.error());
    return decode_to_list(*message, *tables);
}

PyObject* decode_values(PyObject*, PyObject* args, PyObject* kwargs) {
    return decode_with_loaded_tables(
        args, kwargs, "OO:decode_values", "table_dir",
        [](const std::string& dir, const BufrMessage&) { return load_table_directory(dir); });
}

PyObject* decode_values_with_definitions(PyObject*, PyObject* args, PyObject* kwargs) {
    return decode_with_loaded_tables(
        args, kwargs, "OO:decode_values_with_definitions", "definitions_root",
        [](const std::string& root, const BufrMessage& m) { return select_definitions_tables(root, m); });
}

PyObject* decode_values_with_tables(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"data", "tables", nullptr};
    PyObject *data_obj, *tables_obj;
    if (!parse_args(args, kwargs, "OO:decode_values_with_tables", names, &data_obj, &tables_obj)) return nullptr;
    auto data = bytes_arg(data_obj, "data");
    if (!data) return nullptr;
    HeldTables* tables = held_tables_arg(tables_obj, "tables");
    if (tables == nullptr) return nullptr;
    auto message = frame_first_message(*data);
    if (!message) return raise(message.error());
    return decode_to_list(*message, tables->tables, &tables->value_list_cache());
}

}  // namespace

PyMethodDef decode_values_def = {"decode_values", kw_method(guard<decode_values>), METH_VARARGS | METH_KEYWORDS,
                                 "decode_values(data, table_dir)\n--\n\n"};
PyMethodDef decode_values_with_definitions_def = {
    "decode_values_with_definitions", kw_method(guard<decode_values_with_definitions>), METH_VARARGS | METH_KEYWORDS,
    "decode_values_with_definitions(data, definitions_root)\n--\n\n"};
PyMethodDef decode_values_with_tables_def = {"decode_values_with_tables", kw_method(guard<decode_values_with_tables>),
                                             METH_VARARGS | METH_KEYWORDS,
                                             "decode_values_with_tables(data, tables)\n--\n\n"};

}  // namespace skyrec::py
