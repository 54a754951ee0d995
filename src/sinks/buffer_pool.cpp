#include "sinks/buffer_pool.hpp"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <utility>

#if defined(__unix__)
#include <pthread.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace skyrec {
namespace {

constexpr std::size_t kMaxBuffers = 64;
constexpr std::size_t kMaxBytes = std::size_t{512} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

struct Pool {
    std::mutex mutex;
    std::array<PooledBuffer, kMaxBuffers> kept{};
    std::size_t count = 0;
    std::size_t bytes = 0;
};

Pool& pool() noexcept;

#if defined(__unix__)
// A fork while another thread holds the lock would leave the child's copy of
// it locked for good: the lock is taken across the fork.
void lock_for_fork() noexcept { pool().mutex.lock(); }
void unlock_after_fork() noexcept { pool().mutex.unlock(); }
#endif

Pool& pool() noexcept {
    // Never destroyed: buffers may come back at exit.
    static Pool* const instance = [] {
        auto* made = new Pool;
#if defined(__unix__)
        pthread_atfork(lock_for_fork, unlock_after_fork, unlock_after_fork);
#endif
        return made;
    }();
    return *instance;
}

}  // namespace

PooledBuffer take_pooled_buffer(std::size_t bytes) noexcept {
    if (bytes < kPooledBufferBytes) return {};
    Pool& p = pool();
    std::lock_guard lock(p.mutex);
    std::size_t best = p.count;
    for (std::size_t i = 0; i < p.count; ++i) {
        const std::size_t capacity = p.kept[i].capacity;
        if (capacity >= bytes && capacity / 4 <= bytes && (best == p.count || capacity < p.kept[best].capacity)) {
            best = i;
        }
    }
    if (best == p.count) return {};
    const PooledBuffer found = p.kept[best];
    p.kept[best] = p.kept[--p.count];
    p.bytes -= found.capacity;
    return found;
}

void recycle_buffer(PooledBuffer buffer) noexcept {
    if (buffer.data == nullptr) return;
    if (buffer.capacity >= kPooledBufferBytes) {
        Pool& p = pool();
        std::lock_guard lock(p.mutex);
        if (p.count < kMaxBuffers && p.bytes + buffer.capacity <= kMaxBytes) {
            p.kept[p.count++] = buffer;
            p.bytes += buffer.capacity;
            return;
        }
    }
    std::free(buffer.data);
}

std::size_t release_pooled_buffers() noexcept {
    Pool& p = pool();
    std::lock_guard lock(p.mutex);
    for (std::size_t i = 0; i < p.count; ++i)
        std::free(p.kept[i].data);
    p.count = 0;
    return std::exchange(p.bytes, 0);
}

std::size_t pooled_bytes() noexcept {
    Pool& p = pool();
    std::lock_guard lock(p.mutex);
    return p.bytes;
}

void advise_huge_pages([[maybe_unused]] void* data) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE) && defined(__GLIBC__)
    // The whole of the pages the buffer lies on: advice on a part of a large
    // buffer's own mapping would split it, and realloc could then no longer
    // move it whole but would copy it.
    const std::size_t bytes = malloc_usable_size(data);
    if (bytes < 2 * kHugePage) return;
    const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(data) & ~(page - 1);
    const std::uintptr_t last = (reinterpret_cast<std::uintptr_t>(data) + bytes + page - 1) & ~(page - 1);
    // Advice only: where it is refused the pages are ordinary ones.
    (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

}  // namespace skyrec
