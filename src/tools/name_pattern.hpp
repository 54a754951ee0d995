// An output name with [key] placeholders of header keys, filled per message
// (copy -o 'out_[dataCategory].bufr'): the same placeholders as the Python
// command line's. A name with a placeholder of anything else (a GTS field,
// an unknown key) is refused here and judged there.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "message/message.hpp"
#include "tools/header_keys.hpp"

namespace skyrec {

class NamePattern {
public:
    static std::optional<NamePattern> parse(std::string_view text);

    // The name for `m`.
    std::string name(const BufrMessage& m) const;
    bool fixed() const noexcept { return keys_.empty(); }

private:
    std::vector<std::string> literals_;  // one more than keys_: the texts around the placeholders
    std::vector<HeaderKey> keys_;
};

}  // namespace skyrec
