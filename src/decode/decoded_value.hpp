// One decoded value: scaled number, raw integer, text, code-table meaning,
// name and descriptor code. Numbers are held in place; the name and meaning
// point into the TableSet the value was decoded with (or at the static names
// below), so a record is only valid while that TableSet lives; the text of
// character data is owned.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/descriptor.hpp"
#include "decode/owned_text.hpp"

namespace skyrec {

struct DecodedValue {
    double value = 0.0;     // meaningful when has_value
    std::uint64_t raw = 0;  // meaningful when has_raw
    const std::string* name = nullptr;
    const std::string* meaning = nullptr;  // nullptr when absent
    OwnedText text;                        // absent for numbers and all-0xFF character data
    DescriptorCode descriptor = 0;
    bool has_value = false;
    bool has_raw = false;

    std::optional<double> scaled() const noexcept { return has_value ? std::optional<double>(value) : std::nullopt; }
};

// Names of the values that no Table B entry names.
const std::string& associated_field_name() noexcept;   // "associatedField"
const std::string& operator_name() noexcept;           // "operator"
const std::string& inserted_text_name() noexcept;      // "text", for 205YYY
const std::string& undefined_element_name() noexcept;  // "unknown", for an element no table defines

}  // namespace skyrec
