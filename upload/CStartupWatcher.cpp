#include "upload/CStartupWatcher.h"

#include <algorithm>
#include <cstring>

namespace quillon {

bool CStartupWatcher::Feed(std::uint8_t byte) {
    if (byte < 0x20 || byte > 0x7E) {
        return false;
    }
    static const std::size_t kLength = std::strlen(kStartupMessage);
    if (window_.size() >= kLength) {
        window_.erase(0, window_.size() - (kLength - 1));
    }
    window_ += static_cast<char>(byte);
    return window_ == kStartupMessage;
}

Status CStartupWatcher::Watch(const TimedByteSource& read, std::uint32_t byteTimeoutMs,
                              std::chrono::milliseconds total) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + total;
    for (std::size_t seen = 0; seen < kMaxOutput; ++seen) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return kWaitTimeout;
        }
        const auto timeout =
            static_cast<std::uint32_t>(std::min<std::int64_t>(left, byteTimeoutMs));
        std::uint8_t byte = 0;
        if (const Status s = read(byte, timeout); s != kOk) {
            return s;
        }
        if (Feed(byte)) {
            return kOk;
        }
    }
    return kErrorMoreData;
}

} // namespace quillon
