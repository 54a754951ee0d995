// Memory that the core filled, handed to Python without a copy: an object
// that exports it through the buffer protocol as a one-dimensional array of
// typed items (NumPy wraps it as it is with np.asarray, taking the dtype from
// the item format, and keeps the object alive as the array's base) and gives
// it back to the pool when the last user lets go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <vector>

#include "py_common/python.hpp"
#include "sinks/buffer_pool.hpp"

namespace skyrec::py {

// Creates the class skyrec._native.OwnedBuffer and adds it to `module`, at
// import; false with an error set.
bool create_owned_buffer_type(PyObject* module);

// The struct module's format code of items of type T.
template <class T>
constexpr char item_format() noexcept {
    if constexpr (std::is_same_v<T, bool>) return '?';
    if constexpr (std::is_same_v<T, double>) return 'd';
    if constexpr (std::is_same_v<T, std::int8_t>) return 'b';
    if constexpr (std::is_same_v<T, std::uint8_t>) return 'B';
    if constexpr (std::is_same_v<T, std::int16_t>) return 'h';
    if constexpr (std::is_same_v<T, std::uint16_t>) return 'H';
    if constexpr (std::is_same_v<T, std::int32_t>) return 'i';
    if constexpr (std::is_same_v<T, std::uint32_t>) return 'I';
    if constexpr (std::is_same_v<T, std::int64_t>) return 'q';
    if constexpr (std::is_same_v<T, std::uint64_t>) return 'Q';
}

// A new object owning `buffer`, `count` items of `item_size` bytes written,
// each of struct format `format`. The buffer goes back to the pool when the
// object dies, or here if it cannot be made (nullptr with an error set then).
PyObject* owned_buffer(PooledBuffer buffer, std::size_t count, char format, std::size_t item_size);

// A new object holding a copy of `items`, of struct format `format`.
template <class T>
PyObject* owned_copy(const std::vector<T>& items, char format = item_format<T>()) {
    const std::size_t bytes = items.size() * sizeof(T);
    void* data = bytes != 0 ? std::malloc(bytes) : nullptr;
    if (bytes != 0 && data == nullptr) return PyErr_NoMemory();
    if (bytes != 0) std::memcpy(data, items.data(), bytes);
    return owned_buffer({data, bytes}, items.size(), format, sizeof(T));
}

}  // namespace skyrec::py
