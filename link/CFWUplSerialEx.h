#pragma once

#include "link/CSerialEx.h"
#include "link/SessionLog.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quillon {

// The bootloader link: a serial port whose event handler collects every received byte into
// a receive buffer that the protocol code reads byte by byte with a timeout, plus the two
// exact waits of the protocol (a write that returns once its bytes have had time to leave
// the wire, and a break pulse of a given length) and the optional session log.
//
// Threads: the event thread runs OnCommEvent (appends to the buffer and the log); one
// protocol thread at a time calls ReadByte, AvailableBytes, ClearReceiveBuffer,
// WriteAndDrain, PulseBreak; the owner opens, closes and calls OpenLog. The receive lock
// guards the buffer, the read position, the data-ready state, the interrupt flag and the
// log; ReadByte never waits while holding it. InterruptWaits/ResumeWaits may be called from
// any thread.
class CFWUplSerialEx : public CSerialEx {
public:
    // Consumed bytes are dropped from the front of the buffer once more than this many
    // have been read.
    static constexpr std::size_t kCompactAfter = 100;
    // At most this many bytes are moved per receive event.
    static constexpr std::size_t kChunk = 256;

    CFWUplSerialEx();
    ~CFWUplSerialEx() override;

    // Moves received bytes into the buffer (and the log); see the class comment. Public so
    // that tests and tools can drive it without the event thread.
    void OnCommEvent(std::uint32_t events, std::uint32_t lineErrors) override;

    // 0 = a byte was taken; WAIT_TIMEOUT (258) = nothing arrived within timeoutMs
    // (kInfinite waits for ever, 0 only looks); E_FAIL = woken but nothing to take, or
    // the port has hung up with nothing left to take (at once: no timeout is sat out
    // waiting for a line that is gone); E_ABORT = waits are interrupted (InterruptWaits).
    virtual Status ReadByte(std::uint8_t& out, std::uint32_t timeoutMs);
    virtual std::size_t AvailableBytes();
    // Bytes already read that are still held at the front of the buffer (the read
    // position); drops to 0 when the buffer is compacted.
    std::size_t ConsumedBytes();
    // Discards everything received so far (not the driver's queue: pair with PurgeBuffers).
    virtual void ClearReceiveBuffer();
    // Writes and returns no earlier than size x 10 / baud seconds after the call began.
    // Always 0: a lost write shows up as a missing reply.
    virtual Status WriteAndDrain(const void* data, std::size_t size);
    // Holds a break for durationMs; 6 when the port is closed, else 0.
    virtual Status PulseBreak(std::uint32_t durationMs);
    // Lets milliseconds pass between protocol steps: exact busy-waits to the counter's
    // resolution (the wait after an activation block), otherwise it sleeps and an
    // InterruptWaits cuts it short. A link without a wire (tests, fuzzing) only counts it.
    virtual void Pause(std::uint32_t milliseconds, bool exact = false);
    // Waits until seconds have passed since start (a PreciseClock counter value; -1 = now).
    // Always 0.
    static Status BusyWait(double seconds, std::int64_t start = -1);

    // Closes an open log, then (for a non-empty path) opens the file, appends a header and
    // logs every received byte from then on. A file that cannot be opened is skipped.
    void OpenLog(const std::string& path);
    bool IsLogOpen();

    // While interrupted, ReadByte returns E_ABORT at once and blocked ReadByte calls wake;
    // an abort or shutdown uses this to free a worker stuck waiting for the device.
    void InterruptWaits();
    void ResumeWaits();
    bool WaitsInterrupted();

private:
    std::mutex receiveLock_;
    std::condition_variable dataReadyChanged_;
    std::vector<std::uint8_t> receiveBuffer_;
    std::size_t readPosition_ = 0;
    // The data-ready event: auto-reset, set on append, reset when the buffer runs empty.
    bool dataReady_ = false;
    bool interrupted_ = false;
    std::unique_ptr<SessionLog> log_;
};

} // namespace quillon
