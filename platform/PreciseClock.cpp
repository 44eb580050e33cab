#include "platform/PreciseClock.h"

namespace quillon {

void PreciseClock::WaitSeconds(double seconds, std::int64_t start) {
    if (!(seconds > 0.0)) {
        return;
    }
    const auto length = std::chrono::ceil<Clock::duration>(std::chrono::duration<double>(seconds));
    WaitUntil(Clock::time_point(Clock::duration(start)) + length);
}

} // namespace quillon
