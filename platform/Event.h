#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace quillon {

// A signalling event: auto-reset (a successful wait consumes the signal and releases one
// waiter) or manual-reset (stays signalled and releases every waiter until Reset).
// Every member is safe to call from any thread.
class Event {
public:
    enum class Mode { AutoReset, ManualReset };

    static constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

    explicit Event(Mode mode = Mode::AutoReset, bool initiallySet = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // True when the event was signalled within timeoutMs (kInfinite waits for ever; 0 only
    // looks). An auto-reset event is reset by the successful wait.
    bool Wait(std::uint32_t timeoutMs = kInfinite);
    // Current state without consuming it.
    bool IsSet() const;

private:
    const Mode mode_;
    mutable std::mutex mutex_;
    std::condition_variable signalled_;
    bool set_;
};

} // namespace quillon
