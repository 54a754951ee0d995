// Where a message's rows come from, as every many-message output tags them.
#pragma once

#include <cstdint>

namespace skyrec {

struct MessageTag {
    std::int32_t file = 0;  // a code of the caller's, at least 0
    std::int64_t message = 0;
    std::int64_t offset = 0;
};

}  // namespace skyrec
