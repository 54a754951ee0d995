// Python objects that hold one C++ value, and getters over its fields.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "py_common/pyref.hpp"
#include "py_common/python.hpp"

namespace skyrec::py {

template <class T>
struct Boxed {
    PyObject ob_base;  // PyObject_HEAD
    T value;
};

template <class T>
T& unbox(PyObject* self) noexcept {
    return reinterpret_cast<Boxed<T>*>(self)->value;
}

// A new instance of `type` holding `value`; nullptr with MemoryError set.
template <class T>
PyObject* box(PyTypeObject* type, T&& value) {
    using V = std::remove_cvref_t<T>;
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    new (&reinterpret_cast<Boxed<V>*>(self)->value) V(std::forward<T>(value));
    return self;
}

// tp_dealloc for Boxed<T> heap types.
template <class T>
void boxed_dealloc(PyObject* self) {
    unbox<T>(self).~T();
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

inline PyObject* to_py(bool v) { return PyBool_FromLong(v); }
inline PyObject* to_py(std::uint8_t v) { return PyLong_FromUnsignedLong(v); }
inline PyObject* to_py(std::uint16_t v) { return PyLong_FromUnsignedLong(v); }
inline PyObject* to_py(std::uint32_t v) { return PyLong_FromUnsignedLong(v); }
inline PyObject* to_py(std::uint64_t v) { return PyLong_FromUnsignedLongLong(v); }
inline PyObject* to_py(std::int32_t v) { return PyLong_FromLong(v); }
inline PyObject* to_py(std::int64_t v) { return PyLong_FromLongLong(v); }
inline PyObject* to_py(double v) { return PyFloat_FromDouble(v); }
inline PyObject* to_py(const std::string& v) { return lossy_str(v); }
// A new list of `convert(item)` (each a new reference or nullptr with an
// error set) for every item, in order.
template <class Items, class Convert>
PyObject* list_of(const Items& items, Convert&& convert) {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* item = convert(items[i]);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

inline PyObject* to_py(const std::vector<std::uint32_t>& codes) {
    return list_of(codes, [](std::uint32_t code) { return PyLong_FromUnsignedLong(code); });
}

// A getter for a field of the boxed value, for PyGetSetDef tables.
template <class T, auto Field>
PyObject* field_getter(PyObject* self, void*) {
    return to_py(unbox<T>(self).*Field);
}

}  // namespace skyrec::py
