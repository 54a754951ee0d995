// --where conditions on header keys: KEY=VALUE, KEY=A/B/C (any of them) or
// KEY=LO:HI (inclusive, either end left out), judged from a framed message
// alone. The same texts and meanings as the Python command line's parser;
// what this one does not take (data keys, GTS fields, texts that are no
// numbers) it refuses, and the Python command judges.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "message/message.hpp"
#include "tools/header_keys.hpp"

namespace skyrec {

struct HeaderCondition {
    enum class Form : std::uint8_t { Equal, AnyOf, Range };
    HeaderKey key = 0;
    Form form = Form::Equal;
    std::vector<double> values;       // Equal: one; AnyOf: any number
    std::optional<double> low, high;  // Range: an end left out is nullopt

    bool holds(std::int64_t value) const noexcept;
};

class HeaderConditions {
public:
    // The conditions of `texts`, each "KEY=..."; nullopt when one is not a
    // header key's condition this parser takes whole. A later condition on
    // a key replaces an earlier one.
    static std::optional<HeaderConditions> parse(const std::vector<std::string_view>& texts);

    bool keep(const BufrMessage& m) const noexcept;

private:
    std::vector<HeaderCondition> conditions_;
};

}  // namespace skyrec
