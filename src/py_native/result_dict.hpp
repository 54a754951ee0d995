// The dicts that skyrec._native's functions return, filled one item at a time.
#pragma once

#include <vector>

#include "py_common/python.hpp"

namespace skyrec::py {

// Sets dict[key] to `value`, a new reference that is released here; false
// with an error set, also when `value` is nullptr.
bool set_item(PyObject* dict, const char* key, PyObject* value);

// A new bytearray holding a copy of `items`; nullptr with an error set.
template <class T>
PyObject* bytearray_of(const std::vector<T>& items) {
    return PyByteArray_FromStringAndSize(reinterpret_cast<const char*>(items.data()),
                                         static_cast<Py_ssize_t>(items.size() * sizeof(T)));
}

}  // namespace skyrec::py
