#pragma once

#include "link/CSerial.h"

#include <atomic>
#include <thread>

namespace quillon {

// A serial port with an event thread that waits for communication events and hands each
// one (masked, non-zero) to OnCommEvent.
//
// Threads: the owning thread opens, closes, starts and stops the event thread; the event
// thread only waits, takes the events and calls OnCommEvent. StopEventThread must not be
// called from the event thread. Subclasses must stop the thread (Close) in their own
// destructor before their members go, because OnCommEvent runs on it.
class CSerialEx : public CSerial {
public:
    CSerialEx();
    ~CSerialEx() override;

    // Opens the port with overlapped I/O; the last flag starts the event thread.
    Status Open(const std::string& portName, std::uint32_t inputQueue = 0,
                std::uint32_t outputQueue = 0, bool startThread = true) override;
    Status Close() override;
    virtual Status StartEventThread();
    // Wakes the thread and waits for it to end; always 0. The thread always ends promptly
    // (its wait is woken), so it is joined even when timeoutMs is finite.
    virtual Status StopEventThread(std::uint32_t timeoutMs = kInfinite);
    bool IsEventThreadRunning() const { return eventThread_.joinable(); }
    // The code the last event thread ended with (0 for a requested stop).
    Status EventThreadResult() const { return threadResult_.load(); }

protected:
    virtual void OnCommEvent(std::uint32_t events, std::uint32_t lineErrors) = 0;

private:
    void EventThreadMain();

    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> threadEnded_{true};
    std::atomic<Status> threadResult_{kOk};
    std::thread eventThread_;
};

} // namespace quillon
