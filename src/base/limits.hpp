// Bounds on the work and output of one call. Depth is bounded by the nesting
// rules; these bound the rest. A few hundred hostile bytes can otherwise ask
// for billions of values (nested fixed replications, delayed replications
// over zero-width elements, markers, compressed columns of 65535 subsets),
// gigabytes of text (one shared text repeated for every subset) or endless
// walking that reads nothing, and a decoder that obeys takes its host down.
//
// So what a call may spend grows linearly with its input: a floor, plus so
// much per input byte (a message's own length, for a decode). Real data sit
// far below both. Over the 785 messages of the real corpus that decode
// (bench/measure_peaks.cpp), the peaks and the least headroom (allowance
// over spending, for the tightest message) are:
// - values: 376320 in one message (a compressed HIRS message of 49558
//   bytes), 17.1 per byte (a compressed message of 14848 bytes); headroom
//   3.7 times;
// - text: 12000 bytes in one message, 1.05 per byte; headroom 250 times;
// - descriptor steps: 57593 in one message (an uncompressed upper-air
//   message of 109975 bytes), 1.27 per byte; headroom 53 times;
// - expansion: 336 descriptors from one message's section 3.
// A 64 KiB message may thus make 4.2 million values (about 0.3 GB as a list
// of DecodedValue, about 1 s), 16 MiB of text and 4.2 million steps.
// The floors are small, so a file of the smallest hostile messages (53
// bytes) costs per byte at most 1.3 times the values and 2.2 times the steps
// that one large message may: 64 KiB of input, in one message or many, stays
// below 1 GiB and 2 s in every API (bench/bound_costs.py). Each bound fails
// with a Text error (limit_error) before memory runs out.
#pragma once

#include <cstdint>
#include <new>
#include <string_view>

#include "base/error.hpp"

namespace skyrec {

#ifdef SKYREC_FUZZ_LIMITS
// Fuzzing instrumentation slows the walk some thirtyfold. An eighth of each
// bound keeps the worst inputs within the fuzzer's 2 s and 1 GiB, on the same
// paths, so that anything slower or bigger shows work that is not bounded.
inline constexpr unsigned kLimitShift = 3;
#else
inline constexpr unsigned kLimitShift = 0;
#endif

// Descriptors that one expansion may visit, on top of a floor.
inline constexpr std::uint64_t kFloorExpansionSteps = (std::uint64_t{1} << 20) >> kLimitShift;
inline constexpr std::uint64_t kExpansionStepsPerDescriptor = 64 >> kLimitShift;

// What one decode may spend: values made (compressed: subsets times
// columns), bytes of text made (a compressed text counts once per subset),
// and descriptor steps (every element, replication, operator and sequence
// met, each replicated pass counting anew).
struct Allowance {
    std::uint64_t values = 0;
    std::uint64_t text_bytes = 0;
    std::uint64_t steps = 0;
};

// The floor is small: the per-byte part covers every real message alone, and
// a file of many tiny messages pays the floor once per message.
inline constexpr Allowance kFloor{1024 >> kLimitShift, 65536 >> kLimitShift, 4096 >> kLimitShift};
inline constexpr Allowance kPerInputByte{64 >> kLimitShift, 256 >> kLimitShift, 64 >> kLimitShift};

// The allowance of a decode of `bytes` bytes of input.
constexpr Allowance allowance_for(std::uint64_t bytes) noexcept {
    return {kFloor.values + kPerInputByte.values * bytes, kFloor.text_bytes + kPerInputByte.text_bytes * bytes,
            kFloor.steps + kPerInputByte.steps * bytes};
}

// Values that a block of many messages decoded in one call may hold, per
// byte of those messages, beyond one floor.
inline constexpr std::uint64_t kMaxBlockValuesPerByte = kPerInputByte.values;

// The error of a call that met its bound: `what` ("section 4 decoding",
// "decoded block") exceeded `bound` `units` for `bytes` bytes of input.
BufrError limit_error(std::string_view what, std::uint64_t bound, std::string_view units, std::uint64_t bytes);

// The bytes that one call decoding a block into columns may take for them
// unless the caller gives another bound: a message that would take the block
// past it is left out with its reason (the work bounds alone allow some 66
// GB for a legal 16 MB message, past what one machine has).
inline constexpr std::uint64_t kDefaultBlockMemory = std::uint64_t{4} << 30;

// The error of one message among many whose decode ran out of memory: that
// message fails, the others still come.
BufrError memory_error();

// What `run` returns (a Result or Status), running out of memory on the way
// being memory_error() instead of an exception.
template <class Run>
auto within_memory(Run&& run) -> decltype(run()) {
    try {
        return run();
    } catch (const std::bad_alloc&) {
        return memory_error();
    }
}

// Sequences and replications nested below the top-level list, in expansion
// and in the decoder's walk.
inline constexpr unsigned kMaxNestingDepth = 64;

}  // namespace skyrec
