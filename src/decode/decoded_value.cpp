#include "decode/decoded_value.hpp"

namespace skyrec {

const std::string& operator_name() noexcept {
    static const std::string name = "operator";
    return name;
}

const std::string& inserted_text_name() noexcept {
    static const std::string name = "text";
    return name;
}

}  // namespace skyrec
