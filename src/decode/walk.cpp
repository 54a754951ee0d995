// The walk over a descriptor list: elements, replications, sequences.
#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "decode/bitmap.hpp"
#include "decode/descriptor_steps.hpp"
#include "decode/scaling.hpp"
#include "decode/walker.hpp"

namespace skyrec {
namespace {

constexpr std::uint32_t kClass31 = 31;
// Room for the history of most messages, so that it does not regrow for each.
constexpr std::size_t kFirstHistory = 256;

}  // namespace

Walker::Walker(const TableSet& tables, BitReader& reader, std::vector<DecodedValue>& values, Section4Sink* sink,
               std::uint64_t input_bytes, bool shown, ElementCache* cache)
    : cache_(&use_cache(cache, tables, shown)),
      reader_(reader),
      values_(&values),
      sink_(sink),
      compressed_(false),
      subsets_(1),
      column_size_(1),
      input_bytes_(input_bytes),
      allowance_(allowance_for(input_bytes)) {
    state_.history.reserve(kFirstHistory);
}

Walker::Walker(const TableSet& tables, BitReader& reader, std::uint16_t subsets, std::vector<Column>& columns,
               std::uint64_t input_bytes, bool shown, ElementCache* cache)
    : cache_(&use_cache(cache, tables, shown)),
      reader_(reader),
      columns_(&columns),
      compressed_(true),
      subsets_(subsets),
      column_size_(subsets),
      input_bytes_(input_bytes),
      allowance_(allowance_for(input_bytes)) {
    state_.history.reserve(kFirstHistory);
}

ElementCache& Walker::use_cache(ElementCache* given, const TableSet& tables, bool shown) {
    if (given != nullptr && given->serves(tables, shown)) return *given;
    return own_cache_.emplace(tables, shown);
}

bool Walker::flush() {
    if (sink_ == nullptr || values_->empty()) return true;
    if (Status taken = sink_->take_values(*values_); !taken) return fail(std::move(taken).error());
    taken_ += values_->size();
    values_->clear();
    return true;
}

bool Walker::walk(std::span<const DescriptorCode> list, unsigned depth) {
    if (depth > kMaxNestingDepth) {
        return fail(BufrError::limit_exceeded(compressed_ ? "compressed descriptor decode exceeded recursion depth"
                                                          : "descriptor decode exceeded recursion depth"));
    }
    return walk_steps(*this, list, depth);
}

bool Walker::step_checkpoint() {
    if (steps_ > allowance_.steps) return over(allowance_.steps, "descriptor steps");
    if ((steps_ & kInterruptStepMask) == 0 && interrupt_requested()) return fail(interrupted_error());
    next_check_ = std::min(allowance_.steps + 1, (steps_ | kInterruptStepMask) + 1);
    return true;
}

bool Walker::operated_element_step(DescriptorCode code, const ElementRef* element) {
    if (state_.new_reference_width != 0) {
        if (element == nullptr) return fail(BufrError::element_not_found(code));
        return define_reference(*element);
    }
    if (state_.associated_width != 0 && code_x(code) != kClass31 && !read_associated_field()) return false;
    const bool feeds_bitmap = element_feeds_bitmap(state_, code);
    if (plain_under_local_width(state_, element)) {
        element = cache_->local_width_element(code, element);
        if (!read_numeric(*element, state_.local_width, 1.0, 0)) return false;
    } else {
        if (element == nullptr) return fail(BufrError::element_not_found(code));
        if (!read_element(*element)) return false;
    }
    state_.local_width_active = false;
    if (!feeds_bitmap) {
        state_.history.push_back(element);
        return true;
    }
    const std::optional<double> first = subsets_ != 0 ? last_value(0) : std::nullopt;
    if (first) {
        add_bitmap_entry(state_, *first);
    } else if (compressed_) {
        add_bitmap_entry(state_, 0.0);
    }
    return true;
}

bool Walker::replication_step(std::span<const DescriptorCode> list, std::size_t& i, unsigned depth) {
    auto replication = replication_at(list, i);
    if (!replication) return fail(std::move(replication).error());
    const auto [body, factor, fixed, steps] = *replication;
    i += steps;
    if (fixed != 0) return repeat(body, fixed, depth);

    // Delayed: the factor is read like an element, then counts the passes.
    if (!compressed_ && state_.associated_width != 0 && code_x(factor) != kClass31 && !read_associated_field()) {
        return false;
    }
    const ElementRef* element = cache_->find(factor);
    if (element == nullptr) return fail(BufrError::element_not_found(factor));
    if (!read_element(*element)) return false;

    // In compressed data every subset must give the same factor.
    std::uint64_t count = 0;
    if (const std::optional<double> first = subsets_ != 0 ? last_value(0) : std::nullopt) {
        for (std::size_t j = 1; j < subsets_; ++j) {
            const std::optional<double> v = last_value(j);
            if (!v || !(std::fabs(*v - *first) <= 2.220446049250313e-16)) {
                return fail(
                    BufrError::unsupported("compressed delayed replication with varying factors is not implemented"));
            }
        }
        count = saturating_count(*first);
    }
    state_.history.push_back(element);
    return repeat(body, count, depth);
}

bool Walker::repeat(std::span<const DescriptorCode> body, std::uint64_t count, unsigned depth) {
    for (std::uint64_t pass = 0; pass < count; ++pass) {
        if (!walk(body, depth + 1)) return false;
    }
    return true;
}

bool Walker::sequence_step(DescriptorCode code, unsigned depth) {
    const SequenceDefinition* sequence = cache_->tables().sequence(code);
    if (sequence == nullptr) return fail(BufrError::sequence_not_found(code));
    return walk(sequence->members, depth + 1);
}

}  // namespace skyrec
