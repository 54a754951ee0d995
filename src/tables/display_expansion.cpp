#include "tables/display_expansion.hpp"

#include <cstdint>
#include <string>

#include "base/interrupt.hpp"
#include "base/limits.hpp"

namespace skyrec {
namespace {

class Expansion {
public:
    // Each descriptor of a message's section 3 takes two bytes.
    Expansion(const TableSet& tables, std::size_t count)
        : tables_(tables),
          input_(2 * std::uint64_t{count}),
          bound_(kFloorExpansionSteps + kExpansionStepsPerDescriptor * count) {}

    Status walk(std::span<const DescriptorCode> list, unsigned depth) {
        if (depth > kMaxNestingDepth) return BufrError::limit_exceeded("sequence expansion exceeded recursion depth");
        std::size_t i = 0;
        while (i < list.size()) {
            if (++steps_ > bound_) return limit_error("sequence expansion", bound_, "descriptors", input_);
            if ((steps_ & kInterruptStepMask) == 0 && interrupt_requested()) return interrupted_error();
            const DescriptorCode c = list[i];
            // F and Y keep their low 8 bits, as a 16-bit descriptor would hold them.
            const auto f = static_cast<std::uint8_t>(code_f(c));
            const std::uint32_t x = code_x(c);
            const auto y = static_cast<std::uint8_t>(code_y(c));
            switch (f) {
                case 0:
                    if (associated_width_ != 0 && x != 31) {
                        // A marker is output too: counted, so the output stays within the bound.
                        if (++steps_ > bound_) return limit_error("sequence expansion", bound_, "descriptors", input_);
                        out_.push_back(kAssociatedFieldCode);
                    }
                    out_.push_back(c);
                    i += 1;
                    break;
                case 1: {
                    if (x == 0 || list.size() - i <= x) return BufrError::unsupported_replication(c);
                    if (y != 0) {
                        for (std::uint32_t n = 0; n < y; ++n)
                            SKYREC_CHECK(walk(list.subspan(i + 1, x), depth + 1));
                        i += x + 1;
                    } else {
                        // The factor descriptor comes first, then the X replicated ones, laid out once.
                        if (list.size() - i <= x + 1) return BufrError::incomplete_delayed_replication(c);
                        SKYREC_CHECK(walk(list.subspan(i + 1, x + 1), depth + 1));
                        i += x + 2;
                    }
                    break;
                }
                case 2:
                    if (x == 4) {
                        associated_width_ = y;
                    } else if (x != 1 && x != 2 && x != 6 && x != 7 && x != 8) {
                        out_.push_back(c);
                    }
                    i += 1;
                    break;
                case 3: {
                    const SequenceDefinition* sequence = tables_.sequence(c);
                    if (sequence == nullptr) return BufrError::sequence_not_found(c);
                    SKYREC_CHECK(walk(sequence->members, depth + 1));
                    i += 1;
                    break;
                }
                default:
                    return BufrError::invalid_descriptor(c);
            }
        }
        return Ok{};
    }

    std::vector<DescriptorCode> take() { return std::move(out_); }

private:
    const TableSet& tables_;
    std::vector<DescriptorCode> out_;
    std::uint8_t associated_width_ = 0;  // bits; 0 when no associated field is in force
    const std::uint64_t input_;
    const std::uint64_t bound_;
    std::uint64_t steps_ = 0;
};

}  // namespace

Result<std::vector<DescriptorCode>> expand_descriptors(const TableSet& tables,
                                                       std::span<const DescriptorCode> descriptors) {
    Expansion expansion(tables, descriptors.size());
    SKYREC_CHECK(expansion.walk(descriptors, 0));
    return expansion.take();
}

}  // namespace skyrec
