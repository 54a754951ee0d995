// Arrays of fixed-size items handed to Python as bytearrays, which NumPy
// wraps as they are (np.frombuffer).
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "lib/python.hpp"

namespace skyrec::py {

// One array to copy: `bytes` bytes at `data`.
struct RawArray {
    const char* key;
    const void* data;
    std::size_t bytes;
};

template <class T>
RawArray raw_array(const char* key, const std::vector<T>& items) {
    return {key, items.data(), items.size() * sizeof(T)};
}

// A new bytearray holding a copy of `items`; nullptr with an error set.
PyObject* bytearray_of(const void* data, std::size_t bytes);

template <class T>
PyObject* bytearray_of(const std::vector<T>& items) {
    return bytearray_of(items.data(), items.size() * sizeof(T));
}

// Sets dict[key] to a bytearray copy of each array. The bytearrays are made
// first, then filled while other threads run: large blocks copy for a while.
bool set_bytearrays(PyObject* dict, std::initializer_list<RawArray> arrays);

// Sets dict[key] to `value`, a new reference that is released here; false
// with an error set, also when `value` is nullptr.
bool set_item(PyObject* dict, const char* key, PyObject* value);

}  // namespace skyrec::py
