#pragma once

#include <chrono>
#include <cstdint>

namespace quillon {

// The high-resolution counter of the link: steady_clock ticks. Waits on it sleep until
// shortly before the deadline and spin the rest, which is as exact as a pure spin at a
// fraction of its CPU cost. A wait never returns before its deadline.
//
// The first wait on a thread lowers that thread's timer slack to 1 ns, so its sleeps end
// within tens of microseconds and a short spin margin suffices; quillon-bench-link measures
// the margin against longer ones (a longer spin costs CPU and, on a busy machine, is more
// often preempted, which makes it later, not more exact).
//
// Threads: no shared state; every member may be called from any thread.
class PreciseClock {
public:
    using Clock = std::chrono::steady_clock;

    // Below this much time left, waits spin instead of sleeping.
    static constexpr std::chrono::microseconds kSpinMargin{250};

    static std::int64_t Counter() { return Clock::now().time_since_epoch().count(); }
    static constexpr std::int64_t Frequency() {
        return static_cast<std::int64_t>(Clock::period::den) /
               static_cast<std::int64_t>(Clock::period::num);
    }

    static void WaitUntil(Clock::time_point deadline) { WaitUntil(deadline, kSpinMargin); }
    // The same with another spin margin (for measurements).
    static void WaitUntil(Clock::time_point deadline, Clock::duration spinMargin);
    static void WaitFor(Clock::duration duration) { WaitUntil(Clock::now() + duration); }
    // Waits until (Counter() - start) / Frequency() >= seconds.
    static void WaitSeconds(double seconds, std::int64_t start);
};

} // namespace quillon
