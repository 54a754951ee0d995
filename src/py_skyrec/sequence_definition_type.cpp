// The Python class SequenceDefinition: one Table D entry, copied out of a table set.
#include <string>

#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/module_common.hpp"
#include "py_common/module_types.hpp"

namespace skyrec::py {
namespace {

using S = SequenceDefinition;

PyGetSetDef sequence_getset[] = {
    {"code", field_getter<S, &S::code>, nullptr, nullptr, nullptr},
    // A new list on every access: changing it changes nothing here.
    {"members", field_getter<S, &S::members>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* sequence_repr(PyObject* self) {
    const S& s = unbox<S>(self);
    std::string text = "SequenceDefinition(" + descriptor_text(s.code) + ", members=[";
    for (std::size_t i = 0; i < s.members.size(); ++i) {
        if (i != 0) text += ", ";
        text += std::to_string(s.members[i]);
    }
    text += "])";
    return to_py(text);
}

}  // namespace

// Kept for compatibility: the class lives under "builtins", not the module's name.
PyObject* create_sequence_definition_type(PyObject* module) {
    return boxed_type<S>(module, "builtins.SequenceDefinition",
                         {{Py_tp_repr, slot(guard<sequence_repr>)}, {Py_tp_getset, sequence_getset}});
}

PyObject* new_sequence_definition(const SequenceDefinition& sequence) {
    return box(types.sequence_definition, sequence);
}

}  // namespace skyrec::py
