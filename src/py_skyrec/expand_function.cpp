// expand_descriptors(table_dir, descriptors): load a table directory, expand.
#include "py_common/args.hpp"
#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "tables/display_expansion.hpp"
#include "tables/eccodes_tables.hpp"

namespace skyrec::py {
namespace {

PyObject* expand_descriptors_function(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"table_dir", "descriptors", nullptr};
    PyObject *dir_obj, *descriptors_obj;
    if (!parse_args(args, kwargs, "OO:expand_descriptors", names, &dir_obj, &descriptors_obj)) return nullptr;
    // Both arguments are converted before any table is read.
    auto table_dir = str_arg(dir_obj, "table_dir");
    if (!table_dir) return nullptr;
    auto descriptors = descriptor_list_arg(descriptors_obj, "descriptors");
    if (!descriptors) return nullptr;
    auto tables = load_table_directory(*table_dir);
    if (!tables) return raise(tables.error());
    return finish(expand_descriptors(*tables, *descriptors),
                  [](const std::vector<DescriptorCode>& codes) { return to_py(codes); });
}

}  // namespace

PyMethodDef expand_descriptors_def = {"expand_descriptors", kw_method(guard<expand_descriptors_function>),
                                      METH_VARARGS | METH_KEYWORDS,
                                      "expand_descriptors(table_dir, descriptors)\n--\n\n"};

}  // namespace skyrec::py
