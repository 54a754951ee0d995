// table_directories(root, message): where a definitions root keeps the tables
// that `message` names, as the loader of TableSet.from_definitions looks for
// them, so that what is shown is what is read; resolve_table_dir(path): where
// a table directory's name leads through alias files; definitions_tables(root,
// message, meanings=True): TableSet.from_definitions (over several roots
// searched in order when `root` is a list of them; without the code tables
// when not `meanings`), its errors raised as DecodeError naming the file
// they are about; directory_tables(path): TableSet.from_eccodes. Both
// read numeric fields as ecCodes does, blanks around them ignored. Paths are
// the file system's (path_arg.hpp).
#include "py_common/args.hpp"
#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/module_types.hpp"
#include "py_common/pyref.hpp"
#include "py_native/decode_error.hpp"
#include "py_native/functions.hpp"
#include "py_native/path_arg.hpp"
#include "tables/definitions_root.hpp"
#include "tables/eccodes_tables.hpp"

namespace skyrec::py {
namespace {

// (master directory as named, the directory it leads to or None when there is
// none, local directory as named or None when the message declares none).
PyObject* table_directories(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"root", "message", nullptr};
    PyObject *root_obj, *message_obj;
    if (!parse_args(args, kwargs, "OO:table_directories", names, &root_obj, &message_obj)) return nullptr;
    auto root = path_arg(root_obj, "root");
    if (!root) return nullptr;
    const BufrMessage* message = bufr_message_arg(message_obj, "message");
    if (message == nullptr) return nullptr;
    const std::filesystem::path master = master_directory(*root, *message);
    auto resolved = resolve_table_dir(master.native());
    Ref named = Ref::steal(path_str(master.native()));
    Ref found = resolved ? Ref::steal(path_str(resolved.value())) : Ref::borrow(Py_None);
    Ref local = message->local_tables_version_number != 0
                    ? Ref::steal(path_str(local_directory(*root, *message).native()))
                    : Ref::borrow(Py_None);
    if (!named || !found || !local) return nullptr;
    return PyTuple_Pack(3, named.get(), found.get(), local.get());
}

PyObject* definitions_tables(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"root", "message", "meanings", nullptr};
    PyObject *root_obj, *message_obj;
    int meanings = 1;
    if (!parse_args(args, kwargs, "OO|p:definitions_tables", names, &root_obj, &message_obj, &meanings)) {
        return nullptr;
    }
    auto roots = paths_arg(root_obj, "root");
    if (!roots) return nullptr;
    const BufrMessage* message = bufr_message_arg(message_obj, "message");
    if (message == nullptr) return nullptr;
    auto tables = select_tables_from_roots(*roots, *message, NumberBlanks::Ignored,
                                           meanings ? CodeTables::Read : CodeTables::Skipped);
    if (!tables) return raise_decode_error(tables.error());
    return new_table_set(std::move(tables).value());
}

PyObject* directory_tables(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"path", nullptr};
    PyObject* path_obj;
    if (!parse_args(args, kwargs, "O:directory_tables", names, &path_obj)) return nullptr;
    auto path = path_arg(path_obj, "path");
    if (!path) return nullptr;
    return finish(load_table_directory(*path, NumberBlanks::Ignored), new_table_set);
}

PyObject* resolve_directory(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"path", nullptr};
    PyObject* path_obj;
    if (!parse_args(args, kwargs, "O:resolve_table_dir", names, &path_obj)) return nullptr;
    auto path = path_arg(path_obj, "path");
    if (!path) return nullptr;
    return finish(resolve_table_dir(*path), path_str);
}

}  // namespace

PyMethodDef resolve_table_dir_def = {"resolve_table_dir", kw_method(guard<resolve_directory>),
                                     METH_VARARGS | METH_KEYWORDS, "resolve_table_dir(path)\n--\n\n"};
PyMethodDef directory_tables_def = {"directory_tables", kw_method(guard<directory_tables>),
                                    METH_VARARGS | METH_KEYWORDS, "directory_tables(path)\n--\n\n"};
PyMethodDef definitions_tables_def = {"definitions_tables", kw_method(guard<definitions_tables>),
                                      METH_VARARGS | METH_KEYWORDS,
                                      "definitions_tables(root, message, meanings=True)\n--\n\n"};
PyMethodDef table_directories_def = {"table_directories", kw_method(guard<table_directories>),
                                     METH_VARARGS | METH_KEYWORDS, "table_directories(root, message)\n--\n\n"};

}  // namespace skyrec::py
