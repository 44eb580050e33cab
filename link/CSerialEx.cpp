#include "link/CSerialEx.h"

#include "platform/ErrnoStatus.h"

#include <system_error>

namespace quillon {

CSerialEx::CSerialEx() = default;

CSerialEx::~CSerialEx() {
    StopEventThread();
    if (IsOpen()) {
        CSerial::Close();
    }
}

Status CSerialEx::Open(const std::string& portName, std::uint32_t inputQueue,
                       std::uint32_t outputQueue, bool startThread) {
    if (const Status status = CSerial::Open(portName, inputQueue, outputQueue, true);
        status != kOk) {
        return status;
    }
    if (startThread) {
        if (const Status status = StartEventThread(); status != kOk) {
            CSerial::Close();
            return SetLastError(status);
        }
    }
    return GetLastError();
}

Status CSerialEx::Close() {
    StopEventThread();
    return CSerial::Close();
}

Status CSerialEx::StartEventThread() {
    SetLastError(kOk);
    if (!IsOpen()) {
        return SetLastError(kErrorInvalidHandle);
    }
    if (eventThread_.joinable()) {
        if (!threadEnded_.load()) {
            return kOk;
        }
        eventThread_.join(); // ended on its own after a failed wait
    }
    stopRequested_.store(false);
    threadEnded_.store(false);
    threadResult_.store(kOk);
    try {
        eventThread_ = std::thread(&CSerialEx::EventThreadMain, this);
    } catch (const std::system_error& error) {
        threadEnded_.store(true);
        return SetLastError(StatusFromErrno(error.code().value()), error.code().value());
    }
    return kOk;
}

Status CSerialEx::StopEventThread(std::uint32_t /*timeoutMs*/) {
    if (!eventThread_.joinable()) {
        SetLastError(kOk);
        return kOk;
    }
    if (eventThread_.get_id() == std::this_thread::get_id()) {
        return kErrorInvalidFunction; // the thread cannot wait for itself
    }
    stopRequested_.store(true);
    // Re-setting the mask ends the pending wait, as on any mask change.
    if (IsOpen()) {
        SetEventMask(GetEventMask());
    } else {
        Device().Wake();
    }
    eventThread_.join();
    stopRequested_.store(false);
    SetLastError(kOk);
    return kOk;
}

void CSerialEx::EventThreadMain() {
    SetEventThreadId(std::this_thread::get_id());
    Status result = kOk;
    for (;;) {
        // The wake-up sequence is taken before the stop flag and the mask are read, so a stop
        // or a mask change in between still ends the wait below.
        const std::uint64_t wakeSequence = Device().WakeSequence();
        if (stopRequested_.load()) {
            break;
        }
        std::uint32_t events = 0;
        const int error =
            Device().WaitEvent(GetEventMask(), SerialDevice::kInfinite, events, wakeSequence);
        if (error != 0) {
            result = StatusFromErrno(error);
            break;
        }
        if (stopRequested_.load()) {
            break;
        }
        SetReportedEvents(events);
        const std::uint32_t taken = TakeEventType();
        const std::uint32_t lineErrors = TakeLineErrors();
        if (taken != 0) {
            OnCommEvent(taken, lineErrors);
        }
    }
    threadResult_.store(result);
    SetEventThreadId(std::thread::id());
    threadEnded_.store(true);
}

} // namespace quillon
