// Lets the core's long work stop for Ctrl-C. While a SignalWatch lives, the
// core's interrupt checks (base/interrupt.hpp) run Python's signal
// handlers, taking the lock for it when the work runs without it. The
// exception a handler raises (KeyboardInterrupt) is kept, so that no core
// error replaces it, and raised() sets it again once the work is over.
#pragma once

#include "base/interrupt.hpp"
#include "py_common/python.hpp"

namespace skyrec::py {

class SignalWatch {
public:
    SignalWatch() noexcept : scope_(&SignalWatch::check, this) {}
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // True, with the handler's exception set, when a handler raised one.
    // Called with the lock held.
    bool raised() noexcept;

private:
    static bool check(void* self) noexcept;

    InterruptScope scope_;
    PyObject* type_ = nullptr;
    PyObject* value_ = nullptr;
    PyObject* traceback_ = nullptr;
};

}  // namespace skyrec::py
