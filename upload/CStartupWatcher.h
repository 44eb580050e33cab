#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// Recognises the new firmware's start-up message in the device's output, wherever it
// stands: a window over the last printable characters is compared after each byte, and
// bytes outside printable ASCII (line ends, zero bytes) are skipped, so the message may
// be split by line breaks but not shortened.
// Threads: used by one thread at a time (the upload thread).
class CStartupWatcher {
public:
    static constexpr const char* kStartupMessage = "*** Unit Initialised";

    // True once the window equals the start-up message.
    bool Feed(std::uint8_t byte);
    const std::string& Window() const { return window_; }

private:
    std::string window_;
};

} // namespace quillon
