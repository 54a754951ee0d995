// The core's work run without the interpreter lock, Ctrl-C watched: what
// every entry point that works on data Python cannot change meanwhile (held
// buffers, immutable tables and messages) does around the core.
#pragma once

#include <optional>
#include <type_traits>
#include <utility>

#include "py_common/python.hpp"
#include "py_common/signal_watch.hpp"

namespace skyrec::py {

// Lets other threads run while it lives.
class WithoutGil {
public:
    WithoutGil() noexcept : state_(PyEval_SaveThread()) {}
    ~WithoutGil() { PyEval_RestoreThread(state_); }
    WithoutGil(const WithoutGil&) = delete;
    WithoutGil& operator=(const WithoutGil&) = delete;

private:
    PyThreadState* state_;
};

// What `work` returns, or nullopt with KeyboardInterrupt (or what another
// signal handler raised) set when it was interrupted.
template <class Work>
auto unlocked(Work&& work) -> std::optional<std::remove_cvref_t<std::invoke_result_t<Work&>>> {
    SignalWatch watch;
    auto done = [&] {
        WithoutGil released;
        return work();
    }();
    if (watch.raised()) return std::nullopt;
    return done;
}

// The value of the Result that `work` returns, or nullopt with an exception
// set: interrupted, or its error raised by `raise_error`.
template <class Work, class Raise>
auto unlocked(Work&& work, Raise&& raise_error) {
    auto done = unlocked(work);
    std::optional<std::remove_cvref_t<decltype(**done)>> value;
    if (!done) return value;
    if (!*done) {
        raise_error(done->error());
        return value;
    }
    value.emplace(std::move(**done));
    return value;
}

}  // namespace skyrec::py
