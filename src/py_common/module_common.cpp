#include "py_common/module_common.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "py_common/module_types.hpp"
#include "py_common/pyref.hpp"

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

PyObject* new_type(PyObject* module, const char* name, std::size_t size, destructor dealloc,
                   std::initializer_list<PyType_Slot> slots) {
    std::vector<PyType_Slot> all{{Py_tp_dealloc, slot(dealloc)}};
    all.insert(all.end(), slots);
    all.push_back({0, nullptr});
    const bool made_by_python =
        std::any_of(slots.begin(), slots.end(), [](const PyType_Slot& s) { return s.slot == Py_tp_new; });
    const unsigned long flags =
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | (made_by_python ? 0 : Py_TPFLAGS_DISALLOW_INSTANTIATION);
    PyType_Spec spec = {name, static_cast<int>(size), 0, static_cast<unsigned>(flags), all.data()};
    return PyType_FromModuleAndSpec(module, &spec, nullptr);
}

bool add_class(PyObject* module, PyObject* type, const char* name, PyTypeObject** store) {
    if (type == nullptr) return false;
    if (PyModule_AddObjectRef(module, name, type) != 0) {
        Py_DECREF(type);
        return false;
    }
    Py_XDECREF(std::exchange(*store, reinterpret_cast<PyTypeObject*>(type)));
    return true;
}

bool add_object(PyObject* module, const char* name, PyObject* object, PyObject* all) {
    if (PyModule_AddObjectRef(module, name, object) != 0) return false;
    if (all == nullptr) return true;
    Ref text = Ref::steal(PyUnicode_FromString(name));
    return text && PyList_Append(all, text.get()) == 0;
}

bool add_functions(PyObject* module, std::span<PyMethodDef* const> defs, PyObject* all) {
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return false;
    for (PyMethodDef* def : defs) {
        Ref function = Ref::steal(PyCFunction_NewEx(def, module, module_name.get()));
        if (!function || !add_object(module, def->ml_name, function.get(), all)) return false;
    }
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
