// Module initialisation: the classes, then the functions, each added to the
// module and to __all__ in a fixed order.
#include "py_common/module_common.hpp"
#include "py_common/module_types.hpp"
#include "py_common/pyref.hpp"

namespace skyrec::py {
namespace {

// clang-format off: one per line, so that additions merge cleanly.
PyMethodDef* const kFunctions[] = {
    &parse_bytes_def,
    &parse_file_def,
    &parse_all_bytes_def,
    &parse_all_file_def,
    &expand_descriptors_def,
    &decode_values_def,
    &decode_values_with_tables_def,
    &decode_values_with_definitions_def,
};
// clang-format on

// The classes' pointers are process-wide, so only one interpreter may own them.
PyInterpreterState* owner = nullptr;

int exec_module(PyObject* module) {
    PyInterpreterState* current = PyInterpreterState_Get();
    if (owner != nullptr && owner != current) {
        PyErr_SetString(PyExc_ImportError, "_skyrec supports only one interpreter per process");
        return -1;
    }
    Ref all = Ref::steal(PyList_New(0));
    if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) != 0) return -1;
    for (const ClassEntry& entry : module_classes()) {
        if (!keep(module, entry.create(module), entry.store) ||
            !add_object(module, entry.name, reinterpret_cast<PyObject*>(*entry.store), all.get())) {
            return -1;
        }
    }
    if (!add_functions(module, kFunctions, all.get())) return -1;
    owner = current;
    return 0;
}

}  // namespace
}  // namespace skyrec::py

PyMODINIT_FUNC PyInit__skyrec() {
    return PyModuleDef_Init(skyrec::py::module_definition<skyrec::py::exec_module>("_skyrec"));
}
