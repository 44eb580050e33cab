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
    // A write fails when the driver has not taken its bytes this long after their line time
    // (size x 10 / baud) has passed. Handshake is off, so a healthy driver takes the bytes
    // about as fast as the line sends them (a record fits in the driver's queue at once):
    // the margin only has to cover a USB adapter's latency (up to a few tens of ms) and a
    // busy machine's scheduling delays (tens to hundreds of ms). One second is far above
    // that; a driver still holding back by then has stopped taking data (a stalled USB
    // device, a line held off) and will not start again within any reply timeout. It is
    // also the port's own write limit (1 ms per byte plus 1 s), which at every speed of
    // 10000 baud and above is never the shorter of the two: line time plus one second is
    // the one bound a write has (1.03 s for an activation block, 1.2 s for an image record
    // at 115200 baud, 2.0 s at 19200 and in slow mode).
    static constexpr std::uint32_t kWriteMarginMs = 1000;

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
    // Every byte ReadByte has handed out since the link was made: what the engine read,
    // as opposed to what arrived (a reader that stopped leaves the rest unread).
    std::uint64_t BytesTaken();
    // Discards everything received so far (not the driver's queue: pair with PurgeBuffers).
    virtual void ClearReceiveBuffer();
    // Writes and returns no earlier than size x 10 / baud seconds after the call began.
    // 0 once the driver took every byte; kErrorTimeout (1460) when it had not within the
    // line time plus kWriteMarginMs; E_ABORT when waits are interrupted (before or during
    // the write or its drain); otherwise the port's failure (closed, hung up).
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

    // While interrupted, ReadByte and WriteAndDrain return E_ABORT at once and blocked
    // calls wake; an abort or shutdown uses this to free a worker stuck waiting for the
    // device or for a driver that does not take its bytes.
    void InterruptWaits();
    void ResumeWaits();
    bool WaitsInterrupted();

private:
    std::mutex receiveLock_;
    std::condition_variable dataReadyChanged_;
    std::vector<std::uint8_t> receiveBuffer_;
    std::size_t readPosition_ = 0;
    std::uint64_t bytesTaken_ = 0;
    // The data-ready event: auto-reset, set on append, reset when the buffer runs empty.
    bool dataReady_ = false;
    bool interrupted_ = false;
    std::unique_ptr<SessionLog> log_;
};

} // namespace quillon
