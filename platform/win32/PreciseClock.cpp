#include "platform/PreciseClock.h"

#include <immintrin.h>
#include <windows.h>

// steady_clock is QueryPerformanceCounter here. Sleeping uses a high-resolution waitable
// timer where the system has one (Windows 10 1803 and later), which ends within a few
// hundred microseconds; elsewhere Sleep, whose granularity is the system tick, so the spin
// through the last stretch is then widened to cover a tick.

namespace quillon {

namespace {

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

// One timer per thread, closed when the thread ends.
class ThreadTimer {
public:
    ThreadTimer()
        : timer_(::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS)) {}
    ~ThreadTimer() {
        if (timer_ != nullptr) {
            ::CloseHandle(timer_);
        }
    }
    ThreadTimer(const ThreadTimer&) = delete;
    ThreadTimer& operator=(const ThreadTimer&) = delete;

    bool Precise() const { return timer_ != nullptr; }

    void Sleep(PreciseClock::Clock::duration length) {
        const auto hundreds =
            std::chrono::duration_cast<std::chrono::duration<long long, std::ratio<1, 10000000>>>(
                length);
        LARGE_INTEGER due{};
        due.QuadPart = -std::max<long long>(1, hundreds.count()); // relative
        if (::SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE) != 0) {
            ::WaitForSingleObject(timer_, INFINITE);
        }
    }

private:
    HANDLE timer_;
};

// Without the high-resolution timer a sleep may end a whole tick late.
constexpr std::chrono::microseconds kCoarseSpinMargin{2000};

} // namespace

void PreciseClock::WaitUntil(Clock::time_point deadline, Clock::duration spinMargin) {
    thread_local ThreadTimer timer;
    if (!timer.Precise()) {
        spinMargin = std::max<Clock::duration>(spinMargin, kCoarseSpinMargin);
    }
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline) {
            return;
        }
        const auto remaining = deadline - now;
        if (remaining <= spinMargin) {
            break;
        }
        if (timer.Precise()) {
            timer.Sleep(remaining - spinMargin);
        } else {
            ::Sleep(static_cast<DWORD>(
                std::chrono::duration_cast<std::chrono::milliseconds>(remaining - spinMargin)
                    .count()));
        }
    }
    while (Clock::now() < deadline) {
        _mm_pause();
    }
}

} // namespace quillon
