// The Python class ElementDefinition: one Table B entry, copied out of a table set.
#include <string>

#include "base/debug_string.hpp"
#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/module_types.hpp"

namespace skyrec::py {
namespace {

using E = ElementDefinition;

template <auto Field>
constexpr PyGetSetDef field(const char* name) {
    return {name, field_getter<E, Field>, nullptr, nullptr, nullptr};
}

PyGetSetDef element_getset[] = {
    field<&E::code>("code"),
    field<&E::abbreviation>("abbreviation"),
    field<&E::element_type>("element_type"),
    field<&E::name>("name"),
    field<&E::unit>("unit"),
    field<&E::scale>("scale"),
    field<&E::reference>("reference"),
    field<&E::width>("width"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* element_repr(PyObject* self) {
    const E& e = unbox<E>(self);
    return to_py("ElementDefinition(" + descriptor_text(e.code) + ", name=" + debug_string(e.name) + ")");
}

PyType_Slot element_slots[] = {
    {Py_tp_dealloc, slot(boxed_dealloc<E>)},
    {Py_tp_repr, slot(guard<element_repr>)},
    {Py_tp_getset, element_getset},
    {0, nullptr},
};

// Kept for compatibility: the class lives under "builtins", not the module's name.
PyType_Spec element_spec = {
    "builtins.ElementDefinition",
    sizeof(Boxed<E>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    element_slots,
};

}  // namespace

PyObject* create_element_definition_type(PyObject* module) {
    return PyType_FromModuleAndSpec(module, &element_spec, nullptr);
}

PyObject* new_element_definition(const ElementDefinition& element) { return box(types.element_definition, element); }

}  // namespace skyrec::py
