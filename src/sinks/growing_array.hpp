// An array of trivially copyable items in one malloc'd buffer that grows by
// realloc, which for large buffers moves pages rather than copying them, or
// into a kept buffer of the pool, and that can be handed over whole to an
// owner that gives it back to the pool.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "sinks/buffer_pool.hpp"

namespace skyrec {

template <class T>
class GrowingArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    GrowingArray() noexcept = default;
    GrowingArray(GrowingArray&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    GrowingArray& operator=(GrowingArray&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
        return *this;
    }
    GrowingArray(const GrowingArray&) = delete;
    GrowingArray& operator=(const GrowingArray&) = delete;
    ~GrowingArray() { recycle_buffer({data_, capacity_ * sizeof(T)}); }

    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }

    // Room for `count` more items, uninitialised, at the end; returns where they begin.
    T* extend(std::size_t count) {
        if (count > capacity_ - size_) grow(size_ + count);
        T* at = data_ + size_;
        size_ += count;
        return at;
    }
    // Room for `count` items in all, without regrowth.
    void reserve(std::size_t count) {
        if (count > capacity_) grow(count);
    }
    // Drops the items from `size` on.
    void shrink_to(std::size_t size) noexcept { size_ = std::min(size, size_); }

    // The buffer, now the caller's to give back with recycle_buffer; the
    // array is left empty. {} when nothing was ever stored.
    PooledBuffer release() noexcept {
        const PooledBuffer buffer{data_, capacity_ * sizeof(T)};
        data_ = nullptr;
        size_ = capacity_ = 0;
        return buffer;
    }

private:
    void grow(std::size_t needed) {
        const std::size_t most = static_cast<std::size_t>(-1) / sizeof(T);
        if (needed > most) throw std::bad_alloc();
        const std::size_t doubled = capacity_ > most / 2 ? most : capacity_ * 2;
        const std::size_t capacity = std::max({needed, doubled, std::size_t{256}});
        if (const PooledBuffer kept = take_pooled_buffer(capacity * sizeof(T)); kept.data != nullptr) {
            if (size_ != 0) std::memcpy(kept.data, data_, size_ * sizeof(T));
            recycle_buffer({data_, capacity_ * sizeof(T)});
            data_ = static_cast<T*>(kept.data);
            capacity_ = kept.capacity / sizeof(T);
            return;
        }
        void* grown = std::realloc(data_, capacity * sizeof(T));
        if (grown == nullptr) throw std::bad_alloc();
        data_ = static_cast<T*>(grown);
        capacity_ = capacity;
        advise_huge_pages(data_);
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace skyrec
