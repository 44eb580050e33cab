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
    // without the message, however steadily bytes keep coming: a firmware that babbles
    // without ever printing the message would otherwise hold the upload for hours. The
    // per-byte timeout is the package's own allowance for the silent boot before the first
    // byte; after it, 30 s of output is hundreds of times the few lines a firmware prints
    // before its message (57 KB at 19200 baud, 345 KB at 115200), yet short enough that
    // the technician never takes the program for hung.
    static constexpr std::chrono::milliseconds kReportTime{30000};
    // Output longer than any firmware prints before its message means the line carries
    // noise: the watch ends after this many bytes even within its time.
    static constexpr std::size_t kMaxOutput = std::size_t{1} << 20;

    // Takes the next byte, waiting at most timeoutMs: kOk with the byte, or the failure.
    using TimedByteSource = std::function<Status(std::uint8_t& byte, std::uint32_t timeoutMs)>;

    // The whole time the watch may take with the given per-byte timeout.
    static std::chrono::milliseconds TotalLimit(std::uint32_t byteTimeoutMs) {
        return std::chrono::milliseconds(byteTimeoutMs) + kReportTime;
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
