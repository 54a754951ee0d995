// The one place that includes Python.h, with what differs between versions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if PY_VERSION_HEX < 0x030B0000
#error "skyrec needs CPython 3.11 or newer"
#endif

#include <string_view>

namespace skyrec::py {

// Method tables store every C function as PyCFunction.
inline PyCFunction kw_method(PyCFunctionWithKeywords f) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

// Type slots store every function as void*.
template <class F>
void* slot(F* f) noexcept {
    return reinterpret_cast<void*>(f);
}

// A new str of UTF-8 `text`, invalid bytes replaced: table texts and system
// error texts are not always valid UTF-8, and must still be readable.
inline PyObject* lossy_str(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

}  // namespace skyrec::py
