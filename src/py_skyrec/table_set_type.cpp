// The Python class TableSet: loaded BUFR tables, their lookups and expansion.
#include <string>

#include "py_common/args.hpp"
#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/held_tables.hpp"
#include "py_common/module_common.hpp"
#include "py_common/module_types.hpp"
#include "tables/definitions_root.hpp"
#include "tables/display_expansion.hpp"
#include "tables/eccodes_tables.hpp"
#include "tables/wmo_csv_tables.hpp"

namespace skyrec::py {
namespace {

constexpr std::uint64_t kMaxCode = 0xFFFFFFFFu;
constexpr std::uint64_t kMaxRaw = 0xFFFFFFFFFFFFFFFFu;

const TableSet& tables_of(PyObject* self) noexcept { return unbox<HeldTables>(self).tables; }

PyObject* table_set_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {nullptr};
    if (!parse_args(args, kwargs, ":TableSet", names)) return nullptr;
    return guarded([&] { return box(type, HeldTables{}); });
}

// A static method that loads a table set from the one `path` argument.
template <Result<TableSet> (*Load)(const std::string&)>
PyObject* load_from_path(PyObject* args, PyObject* kwargs, const char* format) {
    static const char* const names[] = {"path", nullptr};
    PyObject* path_obj;
    if (!parse_args(args, kwargs, format, names, &path_obj)) return nullptr;
    auto path = str_arg(path_obj, "path");
    if (!path) return nullptr;
    return finish(Load(*path), new_table_set);
}

PyObject* table_set_from_eccodes(PyObject*, PyObject* args, PyObject* kwargs) {
    return load_from_path<load_table_directory>(args, kwargs, "O:from_eccodes");
}

PyObject* table_set_from_bufr4_45(PyObject*, PyObject* args, PyObject* kwargs) {
    return load_from_path<load_wmo_csv_tables>(args, kwargs, "O:from_bufr4_45");
}

PyObject* table_set_from_definitions(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"path", "message", nullptr};
    PyObject *path_obj, *message_obj;
    if (!parse_args(args, kwargs, "OO:from_definitions", names, &path_obj, &message_obj)) return nullptr;
    auto path = str_arg(path_obj, "path");
    if (!path) return nullptr;
    const BufrMessage* message = bufr_message_arg(message_obj, "message");
    if (message == nullptr) return nullptr;
    return finish(select_definitions_tables(*path, *message), new_table_set);
}

// A lookup result as a new object, or None when absent.
template <class T, class Wrap>
PyObject* found_or_none(const T* found, Wrap&& wrap) {
    if (found == nullptr) Py_RETURN_NONE;
    return wrap(*found);
}

// Parses the one `code` argument of a lookup method.
bool code_only_arg(PyObject* args, PyObject* kwargs, const char* format, DescriptorCode* code) {
    static const char* const names[] = {"code", nullptr};
    PyObject* code_obj;
    std::uint64_t value = 0;
    if (!parse_args(args, kwargs, format, names, &code_obj) || !uint_arg(code_obj, "code", kMaxCode, &value)) {
        return false;
    }
    *code = static_cast<DescriptorCode>(value);
    return true;
}

PyObject* table_set_get_element(PyObject* self, PyObject* args, PyObject* kwargs) {
    DescriptorCode code = 0;
    if (!code_only_arg(args, kwargs, "O:get_element", &code)) return nullptr;
    return found_or_none(tables_of(self).element(code), new_element_definition);
}

PyObject* table_set_get_sequence(PyObject* self, PyObject* args, PyObject* kwargs) {
    DescriptorCode code = 0;
    if (!code_only_arg(args, kwargs, "O:get_sequence", &code)) return nullptr;
    return found_or_none(tables_of(self).sequence(code), new_sequence_definition);
}

PyObject* table_set_get_meaning(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"code", "raw", nullptr};
    PyObject *code_obj, *raw_obj;
    if (!parse_args(args, kwargs, "OO:get_meaning", names, &code_obj, &raw_obj)) return nullptr;
    std::uint64_t code = 0, raw = 0;
    if (!uint_arg(code_obj, "code", kMaxCode, &code) || !uint_arg(raw_obj, "raw", kMaxRaw, &raw)) return nullptr;
    const std::string* meaning = tables_of(self).meaning(static_cast<DescriptorCode>(code), raw);
    return found_or_none(meaning, [](const std::string& text) { return to_py(text); });
}

PyObject* table_set_expand(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"descriptors", nullptr};
    PyObject* descriptors_obj;
    if (!parse_args(args, kwargs, "O:expand", names, &descriptors_obj)) return nullptr;
    auto descriptors = descriptor_list_arg(descriptors_obj, "descriptors");
    if (!descriptors) return nullptr;
    return finish(expand_descriptors(tables_of(self), *descriptors),
                  [](const std::vector<DescriptorCode>& codes) { return to_py(codes); });
}

PyObject* table_set_element_count(PyObject* self, void*) { return to_py(tables_of(self).element_count()); }
PyObject* table_set_sequence_count(PyObject* self, void*) { return to_py(tables_of(self).sequence_count()); }

PyObject* table_set_repr(PyObject* self) {
    const TableSet& t = tables_of(self);
    return to_py("TableSet(elements=" + std::to_string(t.element_count()) +
                 ", sequences=" + std::to_string(t.sequence_count()) + ")");
}

constexpr int kStatic = METH_VARARGS | METH_KEYWORDS | METH_STATIC;
constexpr int kMethod = METH_VARARGS | METH_KEYWORDS;

PyMethodDef table_set_methods[] = {
    {"from_eccodes", kw_method(guard<table_set_from_eccodes>), kStatic, "from_eccodes(path)\n--\n\n"},
    {"from_bufr4_45", kw_method(guard<table_set_from_bufr4_45>), kStatic, "from_bufr4_45(path)\n--\n\n"},
    {"from_definitions", kw_method(guard<table_set_from_definitions>), kStatic,
     "from_definitions(path, message)\n--\n\n"},
    {"get_element", kw_method(guard<table_set_get_element>), kMethod, "get_element($self, code)\n--\n\n"},
    {"get_sequence", kw_method(guard<table_set_get_sequence>), kMethod, "get_sequence($self, code)\n--\n\n"},
    {"get_meaning", kw_method(guard<table_set_get_meaning>), kMethod, "get_meaning($self, code, raw)\n--\n\n"},
    {"expand", kw_method(guard<table_set_expand>), kMethod, "expand($self, descriptors)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef table_set_getset[] = {
    {"element_count", table_set_element_count, nullptr, nullptr, nullptr},
    {"sequence_count", table_set_sequence_count, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

// Kept for compatibility: the class lives under "builtins", not the module's name.
PyObject* create_table_set_type(PyObject* module) {
    return boxed_type<HeldTables>(module, "builtins.TableSet",
                                  {{Py_tp_new, slot(table_set_new)},
                                   {Py_tp_repr, slot(guard<table_set_repr>)},
                                   {Py_tp_methods, table_set_methods},
                                   {Py_tp_getset, table_set_getset},
                                   {Py_tp_doc, const_cast<char*>("TableSet()\n--\n\n")}});
}

PyObject* new_table_set(TableSet&& tables) { return box(types.table_set, HeldTables{std::move(tables), nullptr}); }

HeldTables* held_tables_arg(PyObject* obj, const char* name) {
    return instance_arg(obj, types.table_set, name) ? &unbox<HeldTables>(obj) : nullptr;
}

const TableSet* table_set_arg(PyObject* obj, const char* name) {
    const HeldTables* held = held_tables_arg(obj, name);
    return held == nullptr ? nullptr : &held->tables;
}

}  // namespace skyrec::py
