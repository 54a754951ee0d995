// The Python class DecodedValue. Each object is one allocation: its numbers,
// then its name, text and meaning copied inline after them, so that it owns
// everything and outlives the TableSet it was decoded with.
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "decode/float_debug.hpp"
#include "lib/boxed.hpp"
#include "lib/errors.hpp"
#include "lib/module_types.hpp"
#include "message/debug_string.hpp"

namespace skyrec::py {
namespace {

struct ValueFields {
    double value;
    std::uint64_t raw;
    DescriptorCode descriptor;
    std::uint32_t name_size;
    std::uint32_t text_size;
    std::uint32_t meaning_size;
    bool has_value;
    bool has_raw;
    bool has_text;
    bool has_meaning;
};

using Object = Boxed<ValueFields>;

const ValueFields& fields(PyObject* self) noexcept { return unbox<ValueFields>(self); }

// The inline characters: name, then text, then meaning.
const char* chars(PyObject* self) noexcept { return reinterpret_cast<const char*>(self) + sizeof(Object); }
std::string_view name_of(PyObject* self) noexcept { return {chars(self), fields(self).name_size}; }
std::string_view text_of(PyObject* self) noexcept {
    return {chars(self) + fields(self).name_size, fields(self).text_size};
}
std::string_view meaning_of(PyObject* self) noexcept {
    const ValueFields& f = fields(self);
    return {chars(self) + f.name_size + f.text_size, f.meaning_size};
}

PyObject* str_from(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

PyObject* value_raw_value(PyObject* self, void*) {
    if (!fields(self).has_value) Py_RETURN_NONE;
    return PyFloat_FromDouble(fields(self).value);
}
PyObject* value_raw(PyObject* self, void*) {
    if (!fields(self).has_raw) Py_RETURN_NONE;
    return PyLong_FromUnsignedLongLong(fields(self).raw);
}
PyObject* value_name(PyObject* self, void*) { return str_from(name_of(self)); }
PyObject* value_raw_text(PyObject* self, void*) {
    if (!fields(self).has_text) Py_RETURN_NONE;
    return str_from(text_of(self));
}
PyObject* value_raw_meaning(PyObject* self, void*) {
    if (!fields(self).has_meaning) Py_RETURN_NONE;
    return str_from(meaning_of(self));
}

// The most useful form: text, else meaning, else the number, else None.
PyObject* value_data(PyObject* self, void* closure) {
    const ValueFields& f = fields(self);
    if (f.has_text) return value_raw_text(self, closure);
    if (f.has_meaning) return value_raw_meaning(self, closure);
    return value_raw_value(self, closure);
}

PyObject* value_repr(PyObject* self) {
    const ValueFields& f = fields(self);
    std::string text = "DecodedValue(" + descriptor_text(f.descriptor) + ", ";
    if (f.has_text) {
        text += debug_string(text_of(self));
    } else if (f.has_meaning) {
        text += debug_string(meaning_of(self));
    } else if (f.has_value) {
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

PyType_Slot value_slots[] = {
    {Py_tp_dealloc, slot(boxed_dealloc<ValueFields>)},
    {Py_tp_repr, slot(guard<value_repr>)},
    {Py_tp_getset, value_getset},
    {0, nullptr},
};

PyType_Spec value_spec = {
    "builtins.DecodedValue",
    sizeof(Object),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    value_slots,
};

std::uint32_t size32(std::string_view text) noexcept { return static_cast<std::uint32_t>(text.size()); }

// Names, texts and meanings are far below 4 GiB; a longer one is cut.
std::string_view capped(std::string_view text) noexcept { return text.substr(0, 0xFFFFFFFFu); }

}  // namespace

PyObject* create_decoded_value_type(PyObject* module) { return PyType_FromModuleAndSpec(module, &value_spec, nullptr); }

PyObject* new_decoded_value(const DecodedValue& value) {
    const std::string_view name = capped(*value.name);
    const std::string_view text = capped(value.text.view());
    const std::string_view meaning = capped(value.meaning != nullptr ? *value.meaning : std::string_view());
    const ValueFields f{
        value.value,     value.raw,       value.descriptor, size32(name),         size32(text),
        size32(meaning), value.has_value, value.has_raw,    value.text.present(), value.meaning != nullptr};
    const std::size_t size = sizeof(Object) + f.name_size + f.text_size + f.meaning_size;
    auto* self = static_cast<PyObject*>(PyObject_Malloc(size));
    if (self == nullptr) return PyErr_NoMemory();
    PyObject_Init(self, types.decoded_value);
    new (&reinterpret_cast<Object*>(self)->value) ValueFields(f);
    char* out = reinterpret_cast<char*>(self) + sizeof(Object);
    for (std::string_view part : {name, text, meaning}) {
        if (part.empty()) continue;
        std::memcpy(out, part.data(), part.size());
        out += part.size();
    }
    return self;
}

PyObject* decoded_value_list(const std::vector<DecodedValue>& values) {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = new_decoded_value(values[i]);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

}  // namespace skyrec::py
