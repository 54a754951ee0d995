// The one place that includes Python.h, with what differs between versions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if PY_VERSION_HEX < 0x030B0000
#error "skyrec needs CPython 3.11 or newer"
#endif

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

}  // namespace skyrec::py
