// Any object that exports a contiguous buffer (bytes, bytearray, mmap,
// memoryview), held for the duration of one call.
#pragma once

#include <optional>
#include <utility>

#include "base/bytes.hpp"
#include "py_common/python.hpp"

namespace skyrec::py {

class HeldBuffer {
public:
    HeldBuffer(HeldBuffer&& other) noexcept : view_(other.view_), held_(std::exchange(other.held_, false)) {}
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;
    HeldBuffer& operator=(HeldBuffer&&) = delete;
    ~HeldBuffer() {
        if (held_) PyBuffer_Release(&view_);
    }

    ByteView bytes() const noexcept {
        return {static_cast<const std::uint8_t*>(view_.buf), static_cast<std::size_t>(view_.len)};
    }

    // The buffer of `obj`, or nullopt with TypeError naming the argument.
    static std::optional<HeldBuffer> of(PyObject* obj, const char* name) {
        HeldBuffer held;
        if (PyObject_GetBuffer(obj, &held.view_, PyBUF_SIMPLE) != 0) {
            // A strided view is a buffer still, but not one run of bytes.
            if (PyMemoryView_Check(obj) && !PyBuffer_IsContiguous(PyMemoryView_GET_BUFFER(obj), 'C')) {
                PyErr_Format(PyExc_TypeError,
                             "argument '%s' must be a contiguous bytes-like object; this memoryview is strided "
                             "(pass bytes(view))",
                             name);
            } else {
                PyErr_Format(PyExc_TypeError, "argument '%s' must be a bytes-like object, not %.200s", name,
                             Py_TYPE(obj)->tp_name);
            }
            return std::nullopt;
        }
        held.held_ = true;
        return held;
    }

private:
    HeldBuffer() noexcept = default;
    Py_buffer view_{};
    bool held_ = false;
};

}  // namespace skyrec::py
