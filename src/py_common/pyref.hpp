// An owning reference to a Python object: released on every exit path.
#pragma once

#include <utility>

#include "py_common/python.hpp"

namespace skyrec::py {

class Ref {
public:
    Ref() noexcept = default;
    // Takes over a new reference (nullptr allowed, to carry a raised error).
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    // Adds a reference of its own to a borrowed object.
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }

    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        Ref(std::move(other)).swap(*this);
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // Hands the reference to the caller (for returning to Python, or to a
    // function that steals it).
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    void swap(Ref& other) noexcept { std::swap(p_, other.p_); }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

}  // namespace skyrec::py
