// The Python class DecodedValue: its attributes and repr (the object layout
// is in decoded_value_object.hpp).
#include <string>
#include <string_view>

#include "base/debug_string.hpp"
#include "decode/float_debug.hpp"
#include "py_common/decoded_value_object.hpp"
#include "py_common/errors.hpp"
#include "py_common/module_common.hpp"

namespace skyrec::py {
namespace {

const ValueFields& fields(PyObject* self) noexcept { return unbox<ValueFields>(self); }

// The inline characters of the text.
std::string_view text_of(PyObject* self) noexcept {
    return {reinterpret_cast<const char*>(self) + sizeof(ValueObject), fields(self).text_size};
}

// The type's reference goes before the memory, which nothing reads after:
// freeing the object is then the last call, with nothing to keep across it.
void value_dealloc(PyObject* self) {
    Py_DECREF(fields(self).name);
    Py_XDECREF(fields(self).meaning);
    Py_DECREF(Py_TYPE(self));
    PyObject_Free(self);
}

PyObject* value_raw_value(PyObject* self, void*) {
    if (!fields(self).has_value) Py_RETURN_NONE;
    return PyFloat_FromDouble(fields(self).value);
}
PyObject* value_raw(PyObject* self, void*) {
    if (!fields(self).has_raw) Py_RETURN_NONE;
    return PyLong_FromUnsignedLongLong(fields(self).raw);
}
// Kept for compatibility: every attribute access gives a new object, so the
// shared name and meaning are copied.
PyObject* str_copy(PyObject* shared) {
    return PyUnicode_FromKindAndData(PyUnicode_KIND(shared), PyUnicode_DATA(shared), PyUnicode_GET_LENGTH(shared));
}

PyObject* value_name(PyObject* self, void*) { return str_copy(fields(self).name); }
PyObject* value_raw_text(PyObject* self, void*) {
    if (!fields(self).has_text) Py_RETURN_NONE;
    return lossy_str(text_of(self));
}
PyObject* value_raw_meaning(PyObject* self, void*) {
    if (fields(self).meaning == nullptr) Py_RETURN_NONE;
    return str_copy(fields(self).meaning);
}

// The most useful form: text, else meaning, else the number, else None.
PyObject* value_data(PyObject* self, void* closure) {
    const ValueFields& f = fields(self);
    if (f.has_text) return value_raw_text(self, closure);
    if (f.meaning != nullptr) return value_raw_meaning(self, closure);
    return value_raw_value(self, closure);
}

PyObject* value_repr(PyObject* self) {
    const ValueFields& f = fields(self);
    std::string text = "DecodedValue(" + descriptor_text(f.descriptor) + ", ";
    if (f.has_text) {
        text += debug_string(text_of(self));
    } else if (f.meaning != nullptr) {
        Py_ssize_t size = 0;
        const char* meaning = PyUnicode_AsUTF8AndSize(f.meaning, &size);
        if (meaning == nullptr) return nullptr;
        text += debug_string(std::string_view(meaning, static_cast<std::size_t>(size)));
    } else if (f.has_value) {
        // Kept for compatibility: "Some(x)" and "None", the value's repr that callers parse.
        text += "Some(" + float_debug(f.value) + ")";
    } else {
        text += "None";
    }
    text += ")";
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyGetSetDef value_getset[] = {
    {"raw_value", value_raw_value, nullptr, nullptr, nullptr},
    {"raw", value_raw, nullptr, nullptr, nullptr},
    {"name", value_name, nullptr, nullptr, nullptr},
    {"raw_text", value_raw_text, nullptr, nullptr, nullptr},
    {"raw_meaning", value_raw_meaning, nullptr, nullptr, nullptr},
    {"descriptor", field_getter<ValueFields, &ValueFields::descriptor>, nullptr, nullptr, nullptr},
    {"data", value_data, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

// Kept for compatibility: the class lives under "builtins", not the module's name.
PyObject* create_decoded_value_type(PyObject* module) {
    return new_type(module, "builtins.DecodedValue", sizeof(ValueObject), value_dealloc,
                    {{Py_tp_repr, slot(guard<value_repr>)}, {Py_tp_getset, value_getset}});
}

}  // namespace skyrec::py
