// skyrec._native: what the skyrec package needs beyond _skyrec, built from the
// same core and the same binding code. Its results are _skyrec's own classes
// (BufrMessage, DecodedValue) and it reads _skyrec's TableSet objects, so it
// takes those classes from _skyrec at import rather than making its own.
#include <utility>

#include "lib/module_types.hpp"
#include "lib/pyref.hpp"
#include "native/functions.hpp"

namespace skyrec::py {

ModuleTypes types;

namespace {

struct SharedClass {
    const char* name;
    PyObject* (*create)(PyObject* module);
    PyTypeObject** store;
};

const SharedClass kShared[] = {
    {"BufrMessage", create_bufr_message_type, &types.bufr_message},
    {"DecodedValue", create_decoded_value_type, &types.decoded_value},
    {"Descriptor", create_descriptor_type, &types.descriptor},
    {"ElementDefinition", create_element_definition_type, &types.element_definition},
    {"SequenceDefinition", create_sequence_definition_type, &types.sequence_definition},
    {"TableSet", create_table_set_type, &types.table_set},
};

// Pointers, not copies: the definitions live in other files, whose
// initialisation order is not known here.
PyMethodDef* const kFunctions[] = {
    &next_message_def,
    &decode_subsets_def,
    &decode_columns_def,
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "skyrec._native", "", -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// _skyrec's class `name`, after checking that its instances have the layout
// that this module's code gives them: the layout of the same class made here
// from the same code. A _skyrec from another build is refused at import.
PyTypeObject* shared_class(PyObject* module, PyObject* skyrec, const SharedClass& entry) {
    Ref theirs = Ref::steal(PyObject_GetAttrString(skyrec, entry.name));
    if (!theirs) return nullptr;
    Ref ours = Ref::steal(entry.create(module));
    if (!ours) return nullptr;
    if (!PyType_Check(theirs.get()) || reinterpret_cast<PyTypeObject*>(theirs.get())->tp_basicsize !=
                                           reinterpret_cast<PyTypeObject*>(ours.get())->tp_basicsize) {
        PyErr_Format(PyExc_ImportError, "skyrec._native does not match _skyrec (class %s differs)", entry.name);
        return nullptr;
    }
    return reinterpret_cast<PyTypeObject*>(theirs.release());
}

PyObject* create_module() {
    Ref module = Ref::steal(PyModule_Create(&module_def));
    if (!module) return nullptr;
#ifdef Py_GIL_DISABLED
    PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_USED);
#endif
    Ref skyrec = Ref::steal(PyImport_ImportModule("_skyrec"));
    if (!skyrec) return nullptr;
    for (const SharedClass& entry : kShared) {
        PyTypeObject* type = shared_class(module.get(), skyrec.get(), entry);
        if (type == nullptr) return nullptr;
        // Kept for the life of the process, as _skyrec keeps its own.
        PyTypeObject* previous = std::exchange(*entry.store, type);
        Py_XDECREF(previous);
    }
    Ref module_name = Ref::steal(PyUnicode_FromString(module_def.m_name));
    if (!module_name) return nullptr;
    for (PyMethodDef* def : kFunctions) {
        Ref function = Ref::steal(PyCFunction_NewEx(def, module.get(), module_name.get()));
        if (!function || PyModule_AddObjectRef(module.get(), def->ml_name, function.get()) != 0) return nullptr;
    }
    return module.release();
}

}  // namespace
}  // namespace skyrec::py

PyMODINIT_FUNC PyInit__native() { return skyrec::py::create_module(); }
