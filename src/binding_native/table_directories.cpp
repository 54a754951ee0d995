// table_directories(root, message): where a definitions root keeps the tables
// that `message` names, as the loader of TableSet.from_definitions looks for
// them, so that what is shown is what is read; resolve_table_dir(path): where
// a table directory's name leads through alias files; definitions_tables(root,
// message): TableSet.from_definitions, its errors raised as DecodeError naming
// the file they are about; eccodes_tables(path): TableSet.from_eccodes. Both
// read numeric fields as ecCodes does, blanks around them ignored.
#include "binding/args.hpp"
#include "binding/boxed.hpp"
#include "binding/errors.hpp"
#include "binding/module_types.hpp"
#include "binding/pyref.hpp"
#include "binding_native/decode_error.hpp"
#include "binding_native/functions.hpp"
#include "tables/definitions_root.hpp"
#include "tables/eccodes_tables.hpp"

namespace skyrec::py {
namespace {

// As os functions do: a NUL byte would cut the path short at the system.
bool path_without_nul(const std::string& path) {
    if (path.find('\0') == std::string::npos) return true;
    PyErr_SetString(PyExc_ValueError, "embedded null byte");
    return false;
}

// (master directory as named, the directory it leads to or None when there is
// none, local directory as named or None when the message declares none).
PyObject* table_directories(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"root", "message", nullptr};
    PyObject *root_obj, *message_obj;
    if (!parse_args(args, kwargs, "OO:table_directories", names, &root_obj, &message_obj)) return nullptr;
    auto root = str_arg(root_obj, "root");
    if (!root || !path_without_nul(*root)) return nullptr;
    const BufrMessage* message = bufr_message_arg(message_obj, "message");
    if (message == nullptr) return nullptr;
    const std::filesystem::path master = master_directory(*root, *message);
    auto resolved = resolve_table_dir(master.native());
    Ref named = Ref::steal(to_py(master.native()));
    Ref found = resolved ? Ref::steal(to_py(resolved.value())) : Ref::borrow(Py_None);
    Ref local = message->local_tables_version_number != 0 ? Ref::steal(to_py(local_directory(*root, *message).native()))
                                                          : Ref::borrow(Py_None);
    if (!named || !found || !local) return nullptr;
    return PyTuple_Pack(3, named.get(), found.get(), local.get());
}

PyObject* definitions_tables(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"root", "message", nullptr};
    PyObject *root_obj, *message_obj;
    if (!parse_args(args, kwargs, "OO:definitions_tables", names, &root_obj, &message_obj)) return nullptr;
    auto root = str_arg(root_obj, "root");
    if (!root) return nullptr;
    const BufrMessage* message = bufr_message_arg(message_obj, "message");
    if (message == nullptr) return nullptr;
    auto tables = select_definitions_tables(*root, *message, NumberBlanks::Ignored);
    if (!tables) return raise_decode_error(tables.error());
    return new_table_set(std::move(tables).value());
}

PyObject* eccodes_tables(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"path", nullptr};
    PyObject* path_obj;
    if (!parse_args(args, kwargs, "O:eccodes_tables", names, &path_obj)) return nullptr;
    auto path = str_arg(path_obj, "path");
    if (!path) return nullptr;
    return finish(load_table_directory(*path, NumberBlanks::Ignored), new_table_set);
}

PyObject* resolve_directory(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"path", nullptr};
    PyObject* path_obj;
    if (!parse_args(args, kwargs, "O:resolve_table_dir", names, &path_obj)) return nullptr;
    auto path = str_arg(path_obj, "path");
    if (!path || !path_without_nul(*path)) return nullptr;
    return finish(resolve_table_dir(*path), [](const std::string& found) { return to_py(found); });
}

}  // namespace

PyMethodDef resolve_table_dir_def = {"resolve_table_dir", kw_method(guard<resolve_directory>),
                                     METH_VARARGS | METH_KEYWORDS, "resolve_table_dir(path)\n--\n\n"};
PyMethodDef eccodes_tables_def = {"eccodes_tables", kw_method(guard<eccodes_tables>), METH_VARARGS | METH_KEYWORDS,
                                  "eccodes_tables(path)\n--\n\n"};
PyMethodDef definitions_tables_def = {"definitions_tables", kw_method(guard<definitions_tables>),
                                      METH_VARARGS | METH_KEYWORDS, "definitions_tables(root, message)\n--\n\n"};
PyMethodDef table_directories_def = {"table_directories", kw_method(guard<table_directories>),
                                     METH_VARARGS | METH_KEYWORDS, "table_directories(root, message)\n--\n\n"};

}  // namespace skyrec::py
