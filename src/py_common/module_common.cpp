#include "py_common/module_common.hpp"

#include <utility>

#include "py_common/module_types.hpp"

namespace skyrec::py {

ModuleTypes types;

namespace {

const ClassEntry kClasses[] = {
    {"BufrMessage", create_bufr_message_type, &types.bufr_message},
    {"DecodedValue", create_decoded_value_type, &types.decoded_value},
    {"Descriptor", create_descriptor_type, &types.descriptor},
    {"ElementDefinition", create_element_definition_type, &types.element_definition},
    {"SequenceDefinition", create_sequence_definition_type, &types.sequence_definition},
    {"TableSet", create_table_set_type, &types.table_set},
};

}  // namespace

std::span<const ClassEntry> module_classes() noexcept { return kClasses; }

bool add_class(PyObject* module, PyType_Spec* spec, const char* name, PyTypeObject** store) {
    PyObject* type = PyType_FromModuleAndSpec(module, spec, nullptr);
    if (type == nullptr) return false;
    if (PyModule_AddObjectRef(module, name, type) != 0) {
        Py_DECREF(type);
        return false;
    }
    Py_XDECREF(std::exchange(*store, reinterpret_cast<PyTypeObject*>(type)));
    return true;
}

PyObject* new_module(PyModuleDef* def) {
    PyObject* module = PyModule_Create(def);
#ifdef Py_GIL_DISABLED
    if (module != nullptr) PyUnstable_Module_SetGIL(module, Py_MOD_GIL_USED);
#endif
    return module;
}

}  // namespace skyrec::py
