// Expanding arbitrary descriptor lists (16 bits each, as section 3 holds
// them) through the fixed table set.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/limits.hpp"
#include "fixed_tables.hpp"
#include "tables/display_expansion.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<skyrec::DescriptorCode> descriptors;
    descriptors.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const unsigned v = unsigned{data[i]} << 8 | data[i + 1];
        descriptors.push_back((v >> 14) * 100000 + ((v >> 8) & 63) * 1000 + (v & 255));
    }
    auto expanded = skyrec::expand_descriptors(fuzz::fixed_tables(), descriptors);
    const std::uint64_t bound =
        skyrec::kFloorExpansionSteps + skyrec::kExpansionStepsPerDescriptor * descriptors.size();
    if (expanded && expanded->size() > bound) __builtin_trap();
    if (!expanded) (void)expanded.error().message();
    return 0;
}
