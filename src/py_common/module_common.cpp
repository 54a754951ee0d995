#include "py_common/module_common.hpp"

#include <algorithm>
#include <iterator>
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

namespace {

ModuleState& state_of(PyObject* module) { return *static_cast<ModuleState*>(PyModule_GetState(module)); }

}  // namespace

int traverse_state(PyObject* module, visitproc visit, void* arg) {
    const ModuleState& state = state_of(module);
    for (std::size_t i = 0; i < state.count; ++i)
        Py_VISIT(state.held[i].object);
    return 0;
}

int clear_state(PyObject* module) {
    ModuleState& state = state_of(module);
    for (std::size_t i = 0; i < state.count; ++i) {
        ModuleState::Held& held = state.held[i];
        // A later import may have made the pointer another module's.
        if (*held.pointer == held.object) *held.pointer = nullptr;
        Py_CLEAR(held.object);
    }
    state.count = 0;
    return 0;
}

void free_state(void* module) { clear_state(static_cast<PyObject*>(module)); }

bool keep(PyObject* module, PyObject* object, PyObject** pointer) {
    if (object == nullptr) return false;
    ModuleState& state = state_of(module);
    if (state.count == std::size(state.held)) {
        Py_DECREF(object);
        PyErr_SetString(PyExc_SystemError, "a module's state holds too many classes");
        return false;
    }
    state.held[state.count++] = {object, pointer};
    *pointer = object;
    return true;
}

bool keep(PyObject* module, PyObject* type, PyTypeObject** pointer) {
    return keep(module, type, reinterpret_cast<PyObject**>(pointer));
}

bool add_class(PyObject* module, PyObject* type, const char* name, PyTypeObject** store) {
    if (type == nullptr) return false;
    if (PyModule_AddObjectRef(module, name, type) != 0) {
        Py_DECREF(type);
        return false;
    }
    return keep(module, type, store);
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

}  // namespace skyrec::py
