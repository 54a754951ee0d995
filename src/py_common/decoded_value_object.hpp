// The layout of a DecodedValue object, and making one. Each object is one
// allocation: its numbers and references to its name and meaning, which
// values of the same table entry share (str objects, so that they outlive the
// TableSet), then the text of character data inline. Inline, because the
// value lists make one per value.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "decode/compressed_section.hpp"
#include "py_common/boxed.hpp"
#include "py_common/module_types.hpp"

namespace skyrec::py {

struct ValueFields {
    double value;
    std::uint64_t raw;
    PyObject* name;     // owned
    PyObject* meaning;  // owned; nullptr when absent
    DescriptorCode descriptor;
    std::uint32_t text_size;
    bool has_value;
    bool has_raw;
    bool has_text;
};

using ValueObject = Boxed<ValueFields>;

// Texts are far below 4 GiB; a longer one is cut.
inline std::string_view capped(std::string_view text) noexcept { return text.substr(0, 0xFFFFFFFFu); }

// A new DecodedValue of `fields` and `extra` bytes of room for its text, its
// fields' name and meaning each with a new reference; nullptr with
// MemoryError set.
[[gnu::always_inline]] inline PyObject* new_value_object(const ValueFields& fields, std::size_t extra = 0) {
    auto* self = static_cast<PyObject*>(PyObject_Malloc(sizeof(ValueObject) + extra));
    if (self == nullptr) [[unlikely]]
        return PyErr_NoMemory();
    PyObject_Init(self, types.decoded_value);
    const ValueFields* kept = new (&reinterpret_cast<ValueObject*>(self)->value) ValueFields(fields);
    Py_INCREF(kept->name);
    Py_XINCREF(kept->meaning);
    return self;
}

// A new DecodedValue holding a copy of `value`'s numbers and text and a
// reference to each of `name` and `meaning` (nullptr when absent), the str
// objects of the value's name and meaning; nullptr with MemoryError set.
inline PyObject* new_decoded_value(const ValueView& value, PyObject* name, PyObject* meaning) {
    // Most values are numbers, made without looking at any text.
    const std::string_view text = value.has_text ? capped(value.text) : std::string_view();
    PyObject* self = new_value_object(
        ValueFields{value.value, value.raw, name, meaning, value.descriptor, static_cast<std::uint32_t>(text.size()),
                    value.has_value, value.has_raw, value.has_text},
        text.size());
    if (value.has_text && self != nullptr) [[unlikely]] {
        char* kept = reinterpret_cast<char*>(self) + sizeof(ValueObject);
        // Kept for compatibility: a DecodedValue's text shows each byte of 0x80 and above as '?'.
        for (std::size_t i = 0; i < text.size(); ++i)
            kept[i] = static_cast<unsigned char>(text[i]) >= 0x80 ? '?' : text[i];
    }
    return self;
}

}  // namespace skyrec::py
