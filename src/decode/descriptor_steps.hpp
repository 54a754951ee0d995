// One list of descriptors, step by step: what the decoder's walk and the
// encoder's share. `W` gives before_step() (the bounds and checks each step
// passes), element_step, replication_step, operator_step, sequence_step,
// fail and failed_in.
#pragma once

#include <span>

#include "base/descriptor.hpp"
#include "base/error.hpp"

namespace skyrec {

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
