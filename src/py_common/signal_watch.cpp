#include "py_common/signal_watch.hpp"

namespace skyrec::py {

SignalWatch::~SignalWatch() {
    Py_XDECREF(type_);
    Py_XDECREF(value_);
    Py_XDECREF(traceback_);
}

bool SignalWatch::check(void* self) noexcept {
    auto* watch = static_cast<SignalWatch*>(self);
    const bool locked = PyGILState_Check() != 0;
    PyGILState_STATE state{};
    if (!locked) state = PyGILState_Ensure();
    if (watch->type_ == nullptr && PyErr_CheckSignals() < 0) {
        PyErr_Fetch(&watch->type_, &watch->value_, &watch->traceback_);
    }
    const bool stop = watch->type_ != nullptr;
    if (!locked) PyGILState_Release(state);
    return stop;
}

bool SignalWatch::raised() noexcept {
    if (type_ == nullptr) return false;
    PyErr_Restore(type_, value_, traceback_);
    type_ = value_ = traceback_ = nullptr;
    return true;
}

}  // namespace skyrec::py
