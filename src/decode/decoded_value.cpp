#include "decode/decoded_value.hpp"

namespace skyrec {

const std::string& associated_field_name() noexcept {
    static const std::string name = "associatedField";
    return name;
}

const std::string& operator_name() noexcept {
    static const std::string name = "operator";
    return name;
}

const std::string& inserted_text_name() noexcept {
    static const std::string name = "text";
    return name;
}

}  // namespace skyrec
