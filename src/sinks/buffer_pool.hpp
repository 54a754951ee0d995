// Large column buffers that their last user let go, kept for the next blocks:
// their pages stay mapped, so filling them again takes no page faults, where
// a fresh buffer of that size takes one fault for every 4 KiB (half the time
// of decoding into fresh memory went to them). Bounded in count and bytes
// (64 buffers, 512 MiB); thread-safe.
#pragma once

#include <cstddef>

namespace skyrec {

// Buffers smaller than this are left to malloc, which reuses them well.
inline constexpr std::size_t kPooledBufferBytes = std::size_t{1} << 20;

struct PooledBuffer {
    void* data = nullptr;
    std::size_t capacity = 0;  // bytes
};

// A kept buffer of at least `bytes` (and not much more), or {} when none is.
PooledBuffer take_pooled_buffer(std::size_t bytes) noexcept;

// Keeps `buffer` (from malloc) for later, or frees it.
void recycle_buffer(PooledBuffer buffer) noexcept;

// Frees every kept buffer; returns their bytes.
std::size_t release_pooled_buffers() noexcept;

// Bytes kept now.
std::size_t pooled_bytes() noexcept;

// Asks for the buffer at `data` (from malloc) to be backed by huge pages
// where the system offers them: a fresh block of a billion bytes then takes a
// few hundred page faults instead of a quarter of a million. Small buffers
// are left alone.
void advise_huge_pages(void* data) noexcept;

}  // namespace skyrec
