#include "tables/flag_meanings.hpp"

namespace skyrec {

std::string flag_meaning_text(const CodeTable& bits, std::uint32_t width, std::uint64_t raw) {
    std::string text;
    if (width == 0 || width > 64 || (width < 64 && raw >= std::uint64_t{1} << width)) return text;
    if (raw == (width == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1)) return text;
    for (std::uint32_t bit = 1; bit <= width; ++bit) {
        if ((raw >> (width - bit) & 1) == 0) continue;
        const auto it = bits.find(bit);
        if (it == bits.end()) continue;
        if (!text.empty()) text += "; ";
        text += it->second;
    }
    return text;
}

const std::string* FlagMeanings::find(DescriptorCode code, const CodeTable& bits, std::uint32_t width,
                                      std::uint64_t raw) {
    const Key key{code, width, raw};
    const std::lock_guard lock(mutex_);
    auto it = texts_.find(key);
    if (it == texts_.end()) {
        if (texts_.size() >= kMaxTexts) return nullptr;
        it = texts_.emplace(key, flag_meaning_text(bits, width, raw)).first;
    }
    return it->second.empty() ? nullptr : &it->second;
}

}  // namespace skyrec
