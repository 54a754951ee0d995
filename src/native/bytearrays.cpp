#include "native/bytearrays.hpp"

#include <cstring>

#include "lib/pyref.hpp"
#include "native/buffer_arg.hpp"

namespace skyrec::py {

PyObject* bytearray_of(const void* data, std::size_t bytes) {
    PyObject* array = PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(bytes));
    if (array != nullptr && bytes != 0) std::memcpy(PyByteArray_AS_STRING(array), data, bytes);
    return array;
}

bool set_bytearrays(PyObject* dict, std::initializer_list<RawArray> arrays) {
    std::vector<Ref> made;
    made.reserve(arrays.size());
    for (const RawArray& a : arrays) {
        made.push_back(Ref::steal(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(a.bytes))));
        if (!made.back()) return false;
    }
    {
        // No other thread can reach the new bytearrays yet.
        WithoutGil unlocked;
        std::size_t i = 0;
        for (const RawArray& a : arrays) {
            if (a.bytes != 0) std::memcpy(PyByteArray_AS_STRING(made[i].get()), a.data, a.bytes);
            ++i;
        }
    }
    std::size_t i = 0;
    for (const RawArray& a : arrays) {
        if (PyDict_SetItemString(dict, a.key, made[i++].get()) != 0) return false;
    }
    return true;
}

bool set_item(PyObject* dict, const char* key, PyObject* value) {
    Ref owned = Ref::steal(value);
    return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

}  // namespace skyrec::py
