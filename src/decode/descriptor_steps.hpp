// One list of descriptors, step by step: what the decoder's walk and the
// encoder's share. `W` gives before_step() (the bounds and checks each step
// passes), element_step, replication_step, operator_step, sequence_step,
// fail and failed_in.
#pragma once

#include <cstdint>
#include <span>

#include "base/descriptor.hpp"
#include "base/error.hpp"
#include "base/result.hpp"

namespace skyrec {

// The replication that stands at list[i]: what it repeats, how often when
// the count is fixed (0 when delayed: `factor` then gives it) and how many
// descriptors of the list it takes, the factor's included.
struct Replication {
    std::span<const DescriptorCode> body;
    DescriptorCode factor = 0;
    std::uint32_t fixed = 0;
    std::size_t steps = 0;
};

// The error of a list that ends before its replication's body does.
inline Result<Replication> replication_at(std::span<const DescriptorCode> list, std::size_t i) {
    const DescriptorCode code = list[i];
    const std::size_t x = code_x(code);
    const std::uint32_t y = code_y(code) % 256;
    if (x == 0 || i + x >= list.size()) return BufrError::unsupported_replication(code);
    if (y != 0) return Replication{list.subspan(i + 1, x), 0, y, x + 1};
    if (i + x + 1 >= list.size()) return BufrError::incomplete_delayed_replication(code);
    return Replication{list.subspan(i + 2, x), list[i + 1], 0, x + 2};
}

template <class W>
bool walk_steps(W& w, std::span<const DescriptorCode> list, unsigned depth) {
    for (std::size_t i = 0; i < list.size();) {
        if (!w.before_step()) return false;
        const DescriptorCode code = list[i];
        switch (code_f(code)) {
            case 0:
                if (!w.element_step(code)) return w.failed_in(code);
                ++i;
                break;
            case 1:
                if (!w.replication_step(list, i, depth)) return w.failed_in(code);
                break;
            case 2:
                if (!w.operator_step(code)) return w.failed_in(code);
                ++i;
                break;
            case 3:
                if (!w.sequence_step(code, depth)) return w.failed_in(code);
                ++i;
                break;
            default:
                return w.fail(BufrError::invalid_descriptor(code));
        }
    }
    return true;
}

}  // namespace skyrec
