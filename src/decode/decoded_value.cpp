#include "decode/decoded_value.hpp"

#include "decode/element_ref.hpp"

namespace skyrec {

const std::string& associated_field_name() noexcept { return associated_field_ref().def->name; }

const std::string& operator_name() noexcept {
    static const std::string name = "operator";
    return name;
}

const std::string& inserted_text_name() noexcept {
    static const std::string name = "text";
    return name;
}

const std::string& undefined_element_name() noexcept {
    static const std::string name = "unknown";
    return name;
}

}  // namespace skyrec
