// The table set that the decoding and expansion targets run against: the
// newest WMO master version of an installed ecCodes definitions tree, when
// there is one, then the project's fuzz tables (made by make_seeds.py) on
// top. Loaded once.
#pragma once

#include "tables/table_set.hpp"

namespace fuzz {

const skyrec::TableSet& fixed_tables();

}  // namespace fuzz
