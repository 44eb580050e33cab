#pragma once

#include "link/CFWUplSerialEx.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace quillon {

// A bootloader link whose device is a script of answers in memory, for tests and fuzzing:
// the engine's whole conversation runs through it in microseconds. Nothing waits in real
// time: a write, a break and a pause only add their length to a simulated clock, and a
// read that finds nothing waiting times out at once (the timeout is added to the clock).
//
// The device stream is a run of answers, each a length byte n followed by n bytes (the
// last one may be cut short by the end of the stream); an answer whose length byte is 255
// goes on with the next one, so answers of any length can be written. Every write of the
// engine is answered with the next answer, which lands in the receive buffer at once; a
// device that was not asked stays silent. An endless stream starts again from its first
// answer when it runs out, and a read that finds nothing waiting takes the next answer
// at once: a device that never stops talking.
//
// Threads: one thread at a time uses the link (the protocol thread during a conversation,
// the test before and after); InterruptWaits may come from any thread.
class CMemoryLink : public CFWUplSerialEx {
public:
    using Bytes = std::vector<std::uint8_t>;
    // Sees every write: its bytes, and whether a break came between it and the write
    // before.
    using WriteObserver = std::function<void(std::span<const std::uint8_t> data, bool afterBreak)>;

    static constexpr std::uint8_t kContinued = 255;

    CMemoryLink();
    ~CMemoryLink() override;

    // Copies the stream; the receive buffer and the counters start afresh.
    void SetDeviceStream(std::span<const std::uint8_t> stream, bool endless);
    // Appends one answer, of any length, to a device stream.
    static void AppendAnswer(Bytes& stream, std::span<const std::uint8_t> answer);

    // Reads past writes x perWrite + overall bytes fail with a time-out and set
    // ReadBudgetSpent: a reader that never stops ends instead of spinning for ever.
    void SetReadBudget(std::size_t perWrite, std::size_t overall);
    void SetWriteObserver(WriteObserver observer) { observer_ = std::move(observer); }

    Status ReadByte(std::uint8_t& out, std::uint32_t timeoutMs) override;
    std::size_t AvailableBytes() override;
    void ClearReceiveBuffer() override;
    Status WriteAndDrain(const void* data, std::size_t size) override;
    Status PulseBreak(std::uint32_t durationMs) override;
    void Pause(std::uint32_t milliseconds, bool exact = false) override;
    Status ConfigureLine(std::uint32_t baudRate, std::int32_t dataBits = 8,
                         std::int32_t parity = kParityNone,
                         std::int32_t stopBits = kStopBitsOne) override;
    std::int32_t GetBaudRate() override { return static_cast<std::int32_t>(baud_); }

    std::size_t BytesRead() const { return bytesRead_; }
    std::size_t Writes() const { return writes_; }
    std::size_t Breaks() const { return breaks_; }
    bool ReadBudgetSpent() const { return budgetSpent_; }
    // What the engine read since its last write (the answer to it, as far as taken).
    const Bytes& ReadSinceLastWrite() const { return readSinceWrite_; }
    const Bytes& LastWrite() const { return lastWrite_; }
    double SimulatedSeconds() const { return simulatedSeconds_; }

private:
    // Moves the next answer of the stream into the receive buffer; false when the stream
    // has nothing more to say.
    bool DeliverNextAnswer();
    double ByteSeconds() const { return 10.0 / baud_; }

    Bytes stream_;
    std::size_t streamAt_ = 0;
    bool endless_ = false;
    bool streamHasBytes_ = false;
    Bytes received_;
    std::size_t receivedAt_ = 0;

    std::uint32_t baud_ = 19200;
    bool breakSinceWrite_ = false;
    std::size_t perWriteBudget_ = 0;
    std::size_t overallBudget_ = 0;
    bool budgeted_ = false;
    bool budgetSpent_ = false;
    std::size_t bytesRead_ = 0;
    std::size_t writes_ = 0;
    std::size_t breaks_ = 0;
    double simulatedSeconds_ = 0;
    Bytes readSinceWrite_;
    Bytes lastWrite_;
    WriteObserver observer_;
};

} // namespace quillon
