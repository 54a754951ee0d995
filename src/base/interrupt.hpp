// Long work asks now and then whether its caller wants it to stop (Ctrl-C).
// The host installs a check for the thread that runs the work; the core
// never learns what the check does. Checks are rate-limited by the clock, so
// asking often is cheap and a host that must take a lock to answer pays for
// it a few times a second at most.
#pragma once

#include <cstdint>

#include "base/error.hpp"

namespace skyrec {

using InterruptCheck = bool (*)(void* context);

// Installs `check` for the current thread while alive (scopes nest).
class InterruptScope {
public:
    InterruptScope(InterruptCheck check, void* context) noexcept;
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

private:
    InterruptCheck saved_check_;
    void* saved_context_;
};

// True once the installed check has asked to stop; the check itself runs at
// most every kInterruptIntervalMs. Without a check, always false.
bool interrupt_requested() noexcept;

inline constexpr std::int64_t kInterruptIntervalMs = 50;

// Steps of a walk between two calls of interrupt_requested.
inline constexpr std::uint64_t kInterruptStepMask = 0xFFF;

BufrError interrupted_error();

}  // namespace skyrec
