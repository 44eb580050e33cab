#include "platform/PreciseClock.h"

#include <sys/prctl.h>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace quillon {

namespace {

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
}

void LowerTimerSlack() {
    thread_local bool lowered = false;
    if (!lowered) {
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        lowered = true;
    }
}

} // namespace

void PreciseClock::WaitUntil(Clock::time_point deadline, Clock::duration spinMargin) {
    LowerTimerSlack();
    // Sleeping is late by up to a few milliseconds, so sleep only while more than the
    // margin remains and spin through the last stretch.
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline) {
            return;
        }
        const auto remaining = deadline - now;
        if (remaining <= spinMargin) {
            break;
        }
        std::this_thread::sleep_for(remaining - spinMargin);
    }
    while (Clock::now() < deadline) {
        CpuRelax();
    }
}

} // namespace quillon
