#include "decode/scaling.hpp"

namespace skyrec {

const PowersOfTen powers_of_ten;

}  // namespace skyrec
