#include "base/descriptor.hpp"

#include <charconv>

namespace skyrec {

std::string descriptor_text(DescriptorCode code) {
    char digits[16];
    auto end = std::to_chars(digits, digits + sizeof digits, code).ptr;
    std::size_t n = static_cast<std::size_t>(end - digits);
    std::string out;
    if (n < 6) out.assign(6 - n, '0');
    out.append(digits, n);
    return out;
}

}  // namespace skyrec
