#include "base/interrupt.hpp"

#include <chrono>

namespace skyrec {
namespace {

struct Watch {
    InterruptCheck check = nullptr;
    void* context = nullptr;
    bool stopped = false;
    std::chrono::steady_clock::time_point next{};
};

thread_local Watch watch;

}  // namespace

InterruptScope::InterruptScope(InterruptCheck check, void* context) noexcept
    : saved_check_(watch.check), saved_context_(watch.context) {
    watch.check = check;
    watch.context = context;
    watch.stopped = false;
    watch.next = std::chrono::steady_clock::now() + std::chrono::milliseconds(kInterruptIntervalMs);
}

InterruptScope::~InterruptScope() {
    watch.check = saved_check_;
    watch.context = saved_context_;
    watch.stopped = false;
}

bool interrupt_requested() noexcept {
    if (watch.check == nullptr || watch.stopped) return watch.stopped;
    const auto now = std::chrono::steady_clock::now();
    if (now < watch.next) return false;
    watch.next = now + std::chrono::milliseconds(kInterruptIntervalMs);
    watch.stopped = watch.check(watch.context);
    return watch.stopped;
}

BufrError interrupted_error() { return BufrError::text("interrupted"); }

}  // namespace skyrec
