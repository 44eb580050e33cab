#pragma once

#include "platform/SerialTypes.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace quillon {

// One open serial device on termios: exclusive open, line settings, queues, break, modem
// lines, line-error counts and an event wait that a second thread can interrupt.
//
// Results are 0 or an errno value; the link layer turns them into status codes. On Windows
// the system's error is given as the errno value of the same meaning (a port held by another
// program: EBUSY; a pulled adapter: EIO; a cut-short call: ECANCELED), so the link sees the
// same codes on every system.
//
// Threads: the owner opens, configures, writes and closes; one event thread may at the
// same time run WaitEvent, BytesWaiting, Read and TakeLineErrors. Wake, InterruptWrites and
// ResumeWrites may be called from any thread. Close must not run while another thread is
// inside a call (the link stops its event thread first), except a write (Write,
// WaitWritable), which Close cuts short and waits out: a write never holds up a close.
class SerialDevice {
public:
    static constexpr int kInfinite = -1;

    SerialDevice();
    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens path read/write, non-blocking, without becoming the controlling terminal, takes
    // it exclusively (TIOCEXCL and an advisory lock, as root ignores TIOCEXCL) and puts the
    // line into raw 8-bit mode keeping its speed. Fails with ENOTTY for a non-terminal,
    // EBUSY when another holder has the port. On failure nothing stays open.
    int Open(const std::string& path);
    void Close();
    bool IsOpen() const { return fd_.load(std::memory_order_acquire) >= 0; }
    int Fd() const { return static_cast<int>(fd_.load(std::memory_order_acquire)); }

    int GetState(DCB& dcb) const;
    int SetState(const DCB& dcb);

    int BytesWaiting(std::uint32_t& count) const; // received, not yet read
    int BytesUnsent(std::uint32_t& count) const;  // written, not yet sent
    int Purge(bool receive, bool transmit);
    int SetBreak(bool on);
    // Modem status bits (MS_*). A device without modem lines reports 0 and succeeds.
    int ModemStatus(std::uint32_t& bits) const;
    // Line errors (CE_*) seen since the previous call: counter deltas where the driver keeps
    // counters, CE_IOE once after a hang-up.
    std::uint32_t TakeLineErrors();

    // Reads what is waiting, at most size bytes, without blocking. got = 0 with result 0
    // means nothing was waiting. A hang-up gives EIO.
    int Read(void* buffer, std::size_t size, std::size_t& got);
    // Writes what the driver takes now, without blocking; put may be less than size.
    // ECANCELED while writes are interrupted or the device is closing.
    int Write(const void* data, std::size_t size, std::size_t& put);
    // Wait for the line to become readable or writable: 0, ETIMEDOUT, or EIO on hang-up;
    // the writable wait also ends with ECANCELED when writes are interrupted or the device
    // is being closed.
    int WaitReadable(int timeoutMs);
    int WaitWritable(int timeoutMs);

    // While interrupted, writes fail with ECANCELED at once and a waiting one wakes, so
    // that an abort or a shutdown never waits for a driver that stopped taking bytes.
    // Stays until ResumeWrites; survives Close and Open.
    void InterruptWrites();
    void ResumeWrites();

    // Waits until one of the events in mask happens, the timeout passes (ETIMEDOUT) or Wake
    // has been called since WakeSequence() returned wakeSequence (result 0 with events 0;
    // a caller takes the sequence before it looks at what a waker changes, so no wake-up is
    // lost and none from before counts). Reports EV_RXCHAR while received bytes wait and
    // were not yet reported or the queue changed since, EV_BREAK and EV_ERR from the
    // driver's counters, and EV_ERR once on a hang-up; after a hang-up it only sleeps until
    // woken, so a caller in a loop never spins. EV_RXFLAG is never reported: spotting the
    // event character would mean taking the bytes out of the driver's queue.
    int WaitEvent(std::uint32_t mask, int timeoutMs, std::uint32_t& events,
                  std::uint64_t wakeSequence);
    std::uint64_t WakeSequence() const { return wakeSequence_.load(std::memory_order_seq_cst); }
    // Ends a current WaitEvent, or the next one started with an older sequence.
    void Wake();

    bool HungUp() const { return hungUp_.load(std::memory_order_acquire); }

private:
    // Marks a write-side call in progress, so that Close can wait it out; false when writes
    // are cut short.
    bool EnterWrite();
    void LeaveWrite();
    // A write-side call from EnterWrite to LeaveWrite; Entered() is EnterWrite's answer.
    class WriteScope {
    public:
        explicit WriteScope(SerialDevice& device)
            : device_(device), entered_(device.EnterWrite()) {}
        ~WriteScope() {
            if (entered_) {
                device_.LeaveWrite();
            }
        }
        WriteScope(const WriteScope&) = delete;
        WriteScope& operator=(const WriteScope&) = delete;
        bool Entered() const { return entered_; }

    private:
        SerialDevice& device_;
        bool entered_;
    };
    // Keeps the cancel descriptor readable exactly while writes are cut short (writeMutex_).
    void UpdateWriteCancel();
    int ApplyModemControl(const DCB& dcb);
    std::uint32_t PollCounters();
    // Cuts short and waits out every write-side call, then takes the handle out of use
    // (-1 when there was none); Close then releases it.
    std::intptr_t TakeHandleForClose();
    // What a wait on mask would report now (event thread); queueError is the queue query's.
    std::uint32_t PendingEvents(std::uint32_t mask, bool& staleInput, int& queueError);
    void NoteHangUp();

    // The open port: a descriptor on POSIX, a HANDLE on Windows; -1 when closed.
    std::atomic<std::intptr_t> fd_{-1};
    // Ends an event wait: an eventfd on POSIX, an event object on Windows.
    std::intptr_t wakeFd_ = -1;
    std::atomic<std::uint64_t> wakeSequence_{0};
    std::atomic<bool> hungUp_{false};
    std::atomic<bool> hangUpReported_{false};
    // Write-side cut-off: an eventfd that a waiting write polls besides the port. It is
    // level-triggered (left readable, never drained by a waiter), so no waiter can miss it.
    std::intptr_t cancelFd_ = -1;
    // What only one system needs (Windows: the overlapped records, a byte taken by a wait).
    struct Native;
    std::unique_ptr<Native> native_;
    std::mutex writeMutex_;
    std::condition_variable writersLeft_;
    int activeWriters_ = 0;
    bool writesInterrupted_ = false;
    bool closing_ = false;
    // Changes whenever bytes leave the driver queue (read or purge), so that the event wait
    // can tell bytes it has already reported from new ones.
    std::atomic<std::uint64_t> queueGeneration_{0};
    std::uint64_t reportedGeneration_ = 0; // event thread only
    std::uint32_t reportedQueue_ = 0;      // event thread only

    // Fields termios cannot hold, and the line-error bookkeeping.
    mutable std::mutex stateMutex_;
    DCB shadow_;
    bool haveCounters_ = false;
    std::uint32_t pendingErrors_ = 0;
    std::uint32_t pendingBreaks_ = 0;
    struct Counts {
        int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    } counts_;
};

} // namespace quillon
