#pragma once

#include "platform/StatusCodes.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
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

    // The watch ends unsuccessfully once this long has passed beyond one per-byte timeout
    // without the message, however steadily bytes keep coming: a firmware that drips a
    // byte every few seconds without ever printing the message must not hold the upload
    // for hours. The per-byte timeout is the package's own allowance for the silent boot
    // before the first byte. What a healthy firmware prints before its message may take
    // long: a self-test or a file system check that reports as it goes, at the device's
    // pace. Ending such a boot would report a good device as failed, the one wrong verdict
    // a watch must never give, so the bound lies far beyond any start-up a technician
    // would wait for at the bench: five minutes.
    static constexpr std::chrono::milliseconds kBootTime{std::chrono::minutes(5)};
    // Output longer than any firmware prints before its message means the line carries
    // noise: the watch ends after this many bytes even within its time (91 s of steady
    // output at 115200 baud, 9 minutes at 19200).
    static constexpr std::size_t kMaxOutput = std::size_t{1} << 20;

    // Takes the next byte, waiting at most timeoutMs: kOk with the byte, or the failure.
    using TimedByteSource = std::function<Status(std::uint8_t& byte, std::uint32_t timeoutMs)>;

    // The whole time the watch may take with the given per-byte timeout.
    static std::chrono::milliseconds TotalLimit(std::uint32_t byteTimeoutMs) {
        return std::chrono::milliseconds(byteTimeoutMs) + kBootTime;
    }

    // Reads and feeds bytes until the message is seen (kOk), a read fails (its code),
    // `total` has passed since the call (kWaitTimeout) or kMaxOutput bytes came without
    // the message (kErrorMoreData). Each read waits at most byteTimeoutMs, and never past
    // the end of the total.
    Status Watch(const TimedByteSource& read, std::uint32_t byteTimeoutMs,
                 std::chrono::milliseconds total);

    // True once the window equals the start-up message.
    bool Feed(std::uint8_t byte);
    const std::string& Window() const { return window_; }

private:
    std::string window_;
};

} // namespace quillon
