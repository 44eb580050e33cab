#pragma once

#include "platform/Event.h"
#include "platform/SerialDevice.h"
#include "platform/SerialTypes.h"
#include "platform/StatusCodes.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

namespace quillon {

inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

// A caller's record for an overlapped operation. On this platform every operation on an
// overlapped port completes before it returns: the record receives the byte count and the
// result and its manual-reset event is signalled, so a waiter never blocks.
struct SerialOverlapped {
    Event completed{Event::Mode::ManualReset};
    std::uint32_t transferred = 0;
    Status result = kOk;
};

// One open serial port: configuration, reads, writes, event waits.
//
// Every operation first clears the last error and stores the code it returns on failure.
// Codes: 0; 6 port not open; 1247 open on an open port; 1 overlapped use of a
// non-overlapped port (or a finite timeout there); 1460 a finite wait elapsed;
// E_INVALIDARG an unknown handshake or read-timeout kind; otherwise the code derived from
// the system's errno (platform/ErrnoStatus.h), with the raw errno in GetLastSystemError().
//
// Finite timeouts on an overlapped port are honoured (the wait ends with 1460) rather than
// treated as a fatal programming error; no caller passes one.
//
// Threads: the owning thread opens, configures, writes and closes; the event thread of
// CSerialEx waits and reads at the same time. The last error belongs to the threads that
// call in: operations that run on the event thread (OnCommEvent included) leave it alone,
// so they cannot overwrite the result of the owner's last call.
class CSerial {
public:
    CSerial();
    virtual ~CSerial();
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;

    // Port name rule: a leading "\\.\" is dropped; a name with '/' is a path used as given;
    // COMn (any case) is /dev/ttyS(n-1); any other name is /dev/ + name. Queue sizes are
    // accepted and ignored (the driver's queues are fixed).
    virtual Status Open(const std::string& portName, std::uint32_t inputQueue = 0,
                        std::uint32_t outputQueue = 0, bool overlapped = false);
    virtual Status Close();
    virtual Status ConfigureLine(std::uint32_t baudRate, std::int32_t dataBits = 8,
                                 std::int32_t parity = kParityNone,
                                 std::int32_t stopBits = kStopBitsOne);
    virtual Status SetEventCharacter(char character, bool addToMask = true);
    // Remembers the mask and wakes a pending event wait, which then waits again with it.
    virtual Status SetEventMask(std::uint32_t mask);
    virtual Status WaitForEvent(SerialOverlapped* overlapped = nullptr,
                                std::uint32_t timeoutMs = kInfinite);
    virtual Status ConfigureHandshake(std::int32_t kind);
    virtual Status ConfigureReadTimeouts(std::int32_t kind);
    virtual std::int32_t GetBaudRate();
    virtual std::int32_t GetDataBits();
    virtual std::int32_t GetParity();
    virtual std::int32_t GetStopBits();
    virtual std::int32_t GetHandshake();
    virtual std::uint32_t GetEventMask();
    virtual char GetEventCharacter();
    virtual Status WriteText(std::string_view text, std::uint32_t* written = nullptr,
                             SerialOverlapped* overlapped = nullptr,
                             std::uint32_t timeoutMs = kInfinite);
    virtual Status Write(const void* data, std::size_t size, std::uint32_t* written = nullptr,
                         SerialOverlapped* overlapped = nullptr,
                         std::uint32_t timeoutMs = kInfinite);
    virtual Status Read(void* buffer, std::size_t size, std::uint32_t* read = nullptr,
                        SerialOverlapped* overlapped = nullptr,
                        std::uint32_t timeoutMs = kInfinite);

    Status PurgeReceive();
    Status PurgeBuffers();
    Status SendBreak(std::uint32_t durationMs);
    std::uint32_t TakeEventType();
    std::uint32_t TakeLineErrors(COMSTAT* status = nullptr);
    bool IsCtsOn();
    bool IsDsrOn();
    bool IsRingOn();
    bool IsCarrierOn();

    bool IsOpen() const { return device_.IsOpen(); }
    // True once the open port has hung up (the adapter was pulled out): nothing more will
    // arrive on it until it is opened again.
    bool IsHungUp() const { return device_.IsOpen() && device_.HungUp(); }
    // The device path of the open port (empty when closed).
    const std::string& DevicePath() const { return devicePath_; }
    Status GetLastError() const { return lastError_.load(std::memory_order_relaxed); }
    // The errno behind the last error, 0 when the failure had none.
    int GetLastSystemError() const { return lastSystemError_.load(std::memory_order_relaxed); }

protected:
    SerialDevice& Device() { return device_; }
    Status SetLastError(Status status, int systemError = 0);
    Status FailWithErrno(int error);
    // The line settings for the Get... queries: false (with the last error set) when the
    // port is closed or the driver will not tell.
    bool ReadState(DCB& dcb);
    bool IsOverlapped() const { return overlapped_; }
    // Stores the reported events of a completed wait (the event thread's own wait).
    void SetReportedEvents(std::uint32_t events) {
        reportedEvents_.store(events, std::memory_order_relaxed);
    }
    // Marks the thread whose operations do not touch the last error (the event thread).
    void SetEventThreadId(std::thread::id id) { eventThreadId_.store(id); }

private:
    Status ModemBit(std::uint32_t bit, bool& on);
    Status CheckTransfer(SerialOverlapped* overlapped, std::uint32_t timeoutMs);

    SerialDevice device_;
    std::string devicePath_;
    bool overlapped_ = false;
    std::atomic<Status> lastError_{kOk};
    std::atomic<int> lastSystemError_{0};
    std::atomic<std::uint32_t> reportedEvents_{0};
    std::atomic<std::uint32_t> eventMask_{0};
    std::atomic<std::thread::id> eventThreadId_{};
    // Read and write timeouts of the port (the non-blocking read kind is the default).
    std::atomic<std::int32_t> readTimeoutKind_{kReadTimeoutNonBlocking};
    std::atomic<std::uint32_t> writeTimeoutMultiplier_{0};
    std::atomic<std::uint32_t> writeTimeoutConstant_{0};
};

} // namespace quillon
