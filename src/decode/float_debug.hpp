// The debug form of a double: shortest round-trip digits, plain notation for
// 0 and magnitudes in [1e-4, 1e16), scientific otherwise; NaN, inf, -inf.
#pragma once

#include <string>

namespace skyrec {

std::string float_debug(double value);

}  // namespace skyrec
