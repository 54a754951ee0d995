// Module initialisation: the classes, then the functions, each added to the
// module and to __all__ in a fixed order.
#include "lib/module_types.hpp"
#include "lib/pyref.hpp"

namespace skyrec::py {

ModuleTypes types;

namespace {

struct ClassEntry {
    const char* name;
    PyObject* (*create)(PyObject* module);
    PyTypeObject** store;
};

const ClassEntry kClasses[] = {
    {"BufrMessage", create_bufr_message_type, &types.bufr_message},
    {"DecodedValue", create_decoded_value_type, &types.decoded_value},
    {"Descriptor", create_descriptor_type, &types.descriptor},
    {"ElementDefinition", create_element_definition_type, &types.element_definition},
    {"SequenceDefinition", create_sequence_definition_type, &types.sequence_definition},
    {"TableSet", create_table_set_type, &types.table_set},
};

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

// Sets module.name and appends the name to __all__.
bool add(PyObject* module, PyObject* all, const char* name, PyObject* object) {
    Ref text = Ref::steal(PyUnicode_FromString(name));
    return text && PyModule_AddObjectRef(module, name, object) == 0 && PyList_Append(all, text.get()) == 0;
}

PyObject* create_module() {
    Ref module = Ref::steal(PyModule_Create(&module_def));
    if (!module) return nullptr;
#ifdef Py_GIL_DISABLED
    PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_USED);
#endif
    Ref all = Ref::steal(PyList_New(0));
    if (!all || PyModule_AddObjectRef(module.get(), "__all__", all.get()) != 0) return nullptr;

    for (const ClassEntry& entry : kClasses) {
        Ref type = Ref::steal(entry.create(module.get()));
        if (!type || !add(module.get(), all.get(), entry.name, type.get())) return nullptr;
        // The module keeps its classes alive for the life of the process.
        *entry.store = reinterpret_cast<PyTypeObject*>(type.release());
    }
    Ref module_name = Ref::steal(PyUnicode_FromString("_skyrec"));
    if (!module_name) return nullptr;
    for (PyMethodDef* def : kFunctions) {
        Ref function = Ref::steal(PyCFunction_NewEx(def, module.get(), module_name.get()));
        if (!function || !add(module.get(), all.get(), def->ml_name, function.get())) return nullptr;
    }
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
        for (const ClassEntry& entry : kClasses)
            Py_CLEAR(*entry.store);
        return nullptr;
    }
    owner = current;
    return module;
}
