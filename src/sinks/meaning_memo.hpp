// The code of the last meaning looked up in a column of compressed data:
// most columns repeat their raw values from subset to subset, and a lookup
// is a hash probe or a walk over set bits.
#pragma once

#include <cstdint>
#include <string>

#include "decode/column.hpp"
#include "sinks/categories.hpp"

namespace skyrec {

class MeaningMemo {
public:
    // code_of(meaning) for the meaning of `raw` in `column`, kNoCategory for none.
    template <class Code>
    std::int32_t code(const Column& column, std::uint64_t raw, Code&& code_of) {
        if (!valid_ || raw_ != raw) {
            const std::string* meaning = column_meaning(column, raw);
            code_ = meaning != nullptr ? code_of(meaning) : kNoCategory;
            raw_ = raw;
            valid_ = true;
        }
        return code_;
    }

private:
    std::uint64_t raw_ = 0;
    std::int32_t code_ = kNoCategory;
    bool valid_ = false;
};

}  // namespace skyrec
