#include "decode/element_ref.hpp"

#include <cctype>
#include <string_view>

namespace skyrec {
namespace {

bool starts_without_case(std::string_view text, std::string_view prefix) noexcept {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

}  // namespace

ElementKind element_kind(const std::string& unit) noexcept {
    if (unit == "CCITT IA5") return ElementKind::Character;
    std::string_view trimmed(unit);
    while (!trimmed.empty() && std::isspace(static_cast<unsigned char>(trimmed.front())))
        trimmed.remove_prefix(1);
    if (starts_without_case(trimmed, "code table") || starts_without_case(trimmed, "flag table")) {
        return ElementKind::CodeOrFlag;
    }
    return ElementKind::Numeric;
}

const ElementRef* ElementCache::fill(Slot& slot, DescriptorCode code) {
    const ElementDefinition* def = tables_.element(code);
    if (def == nullptr) return nullptr;
    slot.code = code;
    slot.ref = ElementRef{def, tables_.code_table(code), element_kind(def->unit)};
    return &slot.ref;
}

}  // namespace skyrec
