#include "upload/CStartupWatcher.h"

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

} // namespace quillon
