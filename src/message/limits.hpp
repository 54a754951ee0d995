// Bounds on the work and output of one call. Depth is bounded by the nesting
// rules; these bound the rest. A few hundred hostile bytes can otherwise ask
// for billions of values (nested fixed replications, delayed replications
// over zero-width elements, compressed columns of 65535 subsets) or for
// endless walking that reads nothing, and a decoder that obeys takes its host
// down. Each bound lies far above any real message and fails with a Text
// error before memory runs out:
// - the real corpus peaks at 376320 values (a compressed HIRS message of 1120
//   subsets), 57593 descriptor steps (an uncompressed upper-air message) and
//   336 expanded descriptors;
// - the largest plausible satellite message, a full-spectrum IASI scan line
//   (8461 channels, a channel number and a radiance each, 120 fields of
//   view), would hold about 2.1 million values: a quarter of the bound;
// - messages on the GTS stay below 500000 octets, and real uncompressed data
//   spend at least 6.4 bits on a value, so such a message holds at most about
//   625000 values and as many steps.
// At kMaxDecodedValues a Python process decoding one message into a list of
// DecodedValue peaks at about 0.6 GB (numbers) to 0.75 GB (texts).
#pragma once

#include <cstdint>

namespace skyrec {

#ifdef SKYREC_FUZZ_LIMITS
// Fuzzing instrumentation slows the walk some thirtyfold. An eighth of each
// bound keeps the worst inputs within the fuzzer's 2 s and 1 GiB, on the same
// paths, so that anything slower or bigger shows work that is not bounded.
inline constexpr unsigned kLimitBits = 20;
#else
inline constexpr unsigned kLimitBits = 23;
#endif

// Descriptors that one call may walk: expansion's visits, and the decoder's
// descriptor steps (every element, replication, operator and sequence met,
// each replicated pass counting anew).
inline constexpr std::uint64_t kMaxDescriptorSteps = std::uint64_t{1} << kLimitBits;

// Values that one decode may produce (compressed: subsets times columns).
inline constexpr std::uint64_t kMaxDecodedValues = std::uint64_t{1} << kLimitBits;

// Values that a block of many messages decoded in one call may hold beyond
// kMaxDecodedValues, per byte of those messages; the densest real message
// (compressed, 254000 values in 14848 bytes) has 17.
inline constexpr std::uint64_t kMaxBlockValuesPerByte = 64;

// Sequences and replications nested below the top-level list, in expansion
// and in the decoder's walk.
inline constexpr unsigned kMaxNestingDepth = 64;

}  // namespace skyrec
