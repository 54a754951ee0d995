#include "decode/element_ref.hpp"

#include <cctype>
#include <string_view>

#include "decode/decoded_value.hpp"
#include "decode/scaling.hpp"

namespace skyrec {
namespace {

constexpr DescriptorCode kAssociatedFieldSignificance = 31021;

bool starts_without_case(std::string_view text, std::string_view prefix) noexcept {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

std::string_view without_leading_blanks(std::string_view text) noexcept {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    return text;
}

}  // namespace

ElementKind element_kind(const std::string& unit) noexcept {
    if (unit == "CCITT IA5") return ElementKind::Character;
    const std::string_view trimmed = without_leading_blanks(unit);
    if (starts_without_case(trimmed, "code table") || starts_without_case(trimmed, "flag table")) {
        return ElementKind::CodeOrFlag;
    }
    return ElementKind::Numeric;
}

bool is_flag_table(const std::string& unit) noexcept {
    return starts_without_case(without_leading_blanks(unit), "flag table");
}

const ElementRef& associated_field_ref() noexcept {
    static const ElementDefinition def = [] {
        ElementDefinition d;
        d.code = kAssociatedFieldCode;
        d.name = "associatedField";
        return d;
    }();
    static const ElementRef ref = [] {
        ElementRef r;
        r.def = &def;
        r.name = &def.name;
        r.missing_recognised = false;
        return r;
    }();
    return ref;
}

const std::string* ElementRef::look_up(std::uint64_t raw) const {
    if (flags != nullptr) {
        memo_meaning_ = flags->flag_meaning(def->code, def->width, raw);
    } else {
        const auto it = codes->find(raw);
        memo_meaning_ = it == codes->end() ? nullptr : &it->second;
    }
    memo_raw_ = raw;
    memo_valid_ = true;
    return memo_meaning_;
}

bool ElementCache::recognises_missing(DescriptorCode code) const noexcept {
    return code_x(code) != 31 || (shown_ && code == kAssociatedFieldSignificance);
}

const ElementRef* ElementCache::fill(Slots::Slot& slot, DescriptorCode code) {
    const ElementRef* found = nullptr;
    if (const ElementDefinition* def = tables_.element(code)) {
        ElementRef& ref = resolved_.emplace_back();
        ref.def = def;
        ref.name = &def->name;
        ref.codes = tables_.code_table(code);
        if (ref.codes != nullptr && is_flag_table(def->unit)) ref.flags = &tables_;
        ref.kind = element_kind(def->unit);
        ref.missing_recognised = recognises_missing(code);
        ref.divisor = powers_of_ten(def->scale);
        found = &ref;
    }
    slots_.fill(slot, code, found);
    return found;
}

const ElementRef* ElementCache::local_width_element(DescriptorCode code, const ElementRef* entry) {
    auto it = plain_.find(code);
    if (it != plain_.end()) return &it->second;
    ElementRef ref;
    if (entry != nullptr) {
        ref.def = entry->def;
        ref.name = entry->name;
        ref.missing_recognised = entry->missing_recognised;
    } else {
        ElementDefinition& def = undefined_[code];
        def.code = code;
        ref.def = &def;
        ref.name = &undefined_element_name();
        ref.missing_recognised = recognises_missing(code);
    }
    return &plain_.emplace(code, ref).first->second;
}

}  // namespace skyrec
