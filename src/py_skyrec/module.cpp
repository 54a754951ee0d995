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

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_skyrec", "", -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyObject* create_module() {
    Ref module = Ref::steal(new_module(&module_def));
    if (!module) return nullptr;
    Ref all = Ref::steal(PyList_New(0));
    if (!all || PyModule_AddObjectRef(module.get(), "__all__", all.get()) != 0) return nullptr;

    for (const ClassEntry& entry : module_classes()) {
        Ref type = Ref::steal(entry.create(module.get()));
        if (!type || !add_object(module.get(), entry.name, type.get(), all.get())) return nullptr;
        // The module keeps its classes alive for the life of the process.
        *entry.store = reinterpret_cast<PyTypeObject*>(type.release());
    }
    if (!add_functions(module.get(), kFunctions, all.get())) return nullptr;
    return module.release();
}

// The classes live in globals, so only one interpreter may own them.
PyInterpreterState* owner = nullptr;

}  // namespace
}  // namespace skyrec::py

PyMODINIT_FUNC PyInit__skyrec() {
    using namespace skyrec::py;
    PyInterpreterState* current = PyInterpreterState_Get();
    if (owner != nullptr && owner != current) {
        PyErr_SetString(PyExc_ImportError, "_skyrec supports only one interpreter per process");
        return nullptr;
    }
    PyObject* module = create_module();
    if (module == nullptr) {
        // A failed import leaves no classes behind for a later attempt.
        for (const ClassEntry& entry : module_classes())
            Py_CLEAR(*entry.store);
        return nullptr;
    }
    owner = current;
    return module;
}
