#pragma once

#include <cstdint>

namespace quillon {

// Where worker threads report to. The wizard turns each post into a Qt event handled on
// the UI thread; the command-line front end into a queue. Post may be called from any
// thread and must not block for long: it only hands the message over.
class IMessageSink {
public:
    virtual ~IMessageSink() = default;
    virtual void Post(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) = 0;
};

// Message numbers: the platform's user range plus 1000 plus n.
inline constexpr std::uint32_t kMsgBootloaderActivated = 2024; // 0, 0
inline constexpr std::uint32_t kMsgProgress = 2025;            // records done - 1, record count
inline constexpr std::uint32_t kMsgTransferStarted = 2026;     // 0, 0
inline constexpr std::uint32_t kMsgSequenceEnded = 2027;       // 0, 0; always the last one
inline constexpr std::uint32_t kMsgError = 2028;               // 0, const char* text
inline constexpr std::uint32_t kMsgStatus = 2029;              // 0, const char* text
// The upload thread may not touch the frame's buttons itself, so it asks the UI thread
// to enable Back with this message instead.
inline constexpr std::uint32_t kMsgEnableBack = 2030; // 0, 0
// The activation worker ended because the port hung up (the adapter was pulled out):
// no device can answer on it any more.
inline constexpr std::uint32_t kMsgLineLost = 2031; // 0, 0
// The identification worker has read the device (or given up on it: a hung-up line shows
// in LineLost); the device data may be read once the worker has been joined.
inline constexpr std::uint32_t kMsgDeviceIdentified = 2032; // tag given at the start, 0

// The texts of kMsgError and kMsgStatus are constants that live as long as the program.
inline const char* MessageText(std::intptr_t lParam) {
    return reinterpret_cast<const char*>(lParam);
}

} // namespace quillon
