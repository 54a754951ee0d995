// The Python class ElementDefinition: one Table B entry, copied out of a table set.
#include <string>

#include "base/debug_string.hpp"
#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/module_common.hpp"
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

}  // namespace

// Kept for compatibility: the class lives under "builtins", not the module's name.
PyObject* create_element_definition_type(PyObject* module) {
    return boxed_type<E>(module, "builtins.ElementDefinition",
                         {{Py_tp_repr, slot(guard<element_repr>)}, {Py_tp_getset, element_getset}});
}

PyObject* new_element_definition(const ElementDefinition& element) { return box(types.element_definition, element); }

}  // namespace skyrec::py
