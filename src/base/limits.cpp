#include "base/limits.hpp"

#include <string>

namespace skyrec {

BufrError limit_error(std::string_view what, std::uint64_t bound, std::string_view units, std::uint64_t bytes) {
    return BufrError::limit_exceeded(std::string(what) + " exceeded " + std::to_string(bound) + " " +
                                     std::string(units) + " for its " + std::to_string(bytes) + " bytes of input");
}

BufrError memory_error() { return BufrError::limit_exceeded("not enough memory to decode the message"); }

}  // namespace skyrec
