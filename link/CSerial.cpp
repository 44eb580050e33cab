#include "link/CSerial.h"

#include "link/PortName.h"
#include "platform/ErrnoStatus.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>
#include <thread>

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;

int PollTimeout(std::uint32_t timeoutMs) {
    if (timeoutMs == kInfinite) {
        return SerialDevice::kInfinite;
    }
    return static_cast<int>(std::min<std::uint32_t>(timeoutMs, std::numeric_limits<int>::max()));
}

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(
        std::clamp<std::int64_t>(left.count(), 0, std::numeric_limits<int>::max()));
}

void Complete(SerialOverlapped* overlapped, std::uint32_t transferred, Status result) {
    if (overlapped != nullptr) {
        overlapped->transferred = transferred;
        overlapped->result = result;
        overlapped->completed.Set();
    }
}

} // namespace

CSerial::CSerial() = default;

CSerial::~CSerial() {
    device_.Close();
}

Status CSerial::SetLastError(Status status, int systemError) {
    if (std::this_thread::get_id() != eventThreadId_.load()) {
        lastError_.store(status, std::memory_order_relaxed);
        lastSystemError_.store(systemError, std::memory_order_relaxed);
    }
    return status;
}

Status CSerial::FailWithErrno(int error) {
    return SetLastError(StatusFromErrno(error), error);
}

Status CSerial::Open(const std::string& portName, std::uint32_t /*inputQueue*/,
                     std::uint32_t /*outputQueue*/, bool overlapped) {
    SetLastError(kOk);
    if (IsOpen()) {
        return SetLastError(kErrorAlreadyInitialized);
    }
    const std::string path = DevicePathForPort(portName);
    if (const int error = device_.Open(path); error != 0) {
        return FailWithErrno(error);
    }
    devicePath_ = path;
    overlapped_ = overlapped;
    // The driver's queue sizes are fixed, so the requested sizes have nothing to change.
    SetEventMask(EV_RXCHAR | EV_BREAK | EV_ERR);
    ConfigureReadTimeouts(kReadTimeoutNonBlocking);
    return GetLastError();
}

Status CSerial::Close() {
    SetLastError(kOk);
    if (!IsOpen()) {
        return SetLastError(kErrorInvalidHandle);
    }
    device_.Close();
    devicePath_.clear();
    overlapped_ = false;
    eventMask_.store(0);
    reportedEvents_.store(0);
    return kOk;
}

Status CSerial::ConfigureLine(std::uint32_t baudRate, std::int32_t dataBits, std::int32_t parity,
                              std::int32_t stopBits) {
    SetLastError(kOk);
    if (!IsOpen()) {
        return SetLastError(kErrorInvalidHandle);
    }
    DCB dcb;
    if (const int error = device_.GetState(dcb); error != 0) {
        return FailWithErrno(error);
    }
    if (dataBits < 5 || dataBits > 8 || parity < kParityNone || parity > kParitySpace ||
        stopBits < kStopBitsOne || stopBits > kStopBitsTwo) {
        return FailWithErrno(EINVAL);
    }
    dcb.BaudRate = baudRate;
    dcb.ByteSize = static_cast<std::uint8_t>(dataBits);
    dcb.Parity = static_cast<std::uint8_t>(parity);
    dcb.StopBits = static_cast<std::uint8_t>(stopBits);
    dcb.fParity = parity != kParityNone;
    if (const int error = device_.SetState(dcb); error != 0) {
        return FailWithErrno(error);
    }
    return kOk;
}

Status CSerial::SetEventCharacter(char character, bool addToMask) {
    SetLastError(kOk);
    if (!IsOpen()) {
        return SetLastError(kErrorInvalidHandle);
    }
    if (addToMask) {
        if (const Status status = SetEventMask(GetEventMask() | EV_RXFLAG); status != kOk) {
            return status;
        }
    }
    DCB dcb;
    if (const int error = device_.GetState(dcb); error != 0) {
        return FailWithErrno(error);
    }
    dcb.EvtChar = character;
    if (const int error = device_.SetState(dcb); error != 0) {
        return FailWithErrno(error);
    }
    return kOk;
}

Status CSerial::SetEventMask(std::uint32_t mask) {
    SetLastError(kOk);
    if (!IsOpen()) {
        return SetLastError(kErrorInvalidHandle);
    }
    eventMask_.store(mask);
    // A pending wait ends and starts again with the new mask.
    device_.Wake();
    return kOk;
}

Status CSerial::CheckTransfer(SerialOverlapped* overlapped, std::uint32_t timeoutMs) {
    if (!IsOpen()) {
        return SetLastError(kErrorInvalidHandle);
    }
    if (!overlapped_ && (overlapped != nullptr || timeoutMs != kInfinite)) {
        return SetLastError(kErrorInvalidFunction);
    }
    return kOk;
}

Status CSerial::WaitForEvent(SerialOverlapped* overlapped, std::uint32_t timeoutMs) {
    SetLastError(kOk);
    if (const Status status = CheckTransfer(overlapped, timeoutMs); status != kOk) {
        return status;
    }
    const std::uint64_t wakeSequence = device_.WakeSequence();
    std::uint32_t events = 0;
    const int error =
        device_.WaitEvent(eventMask_.load(), PollTimeout(timeoutMs), events, wakeSequence);
    if (error != 0) {
        const Status status = FailWithErrno(error);
        Complete(overlapped, 0, status);
        return status;
    }
    reportedEvents_.store(events, std::memory_order_relaxed);
    Complete(overlapped, 0, kOk);
    return kOk;
}

Status CSerial::ConfigureHandshake(std::int32_t kind) {
    SetLastError(kOk);
    if (!IsOpen()) {
        return SetLastError(kErrorInvalidHandle);
    }
    if (kind < kHandshakeOff || kind > kHandshakeSoftware) {
        return SetLastError(kEInvalidArg);
    }
    DCB dcb;
    if (const int error = device_.GetState(dcb); error != 0) {
        return FailWithErrno(error);
    }
    const bool hardware = kind == kHandshakeHardware;
    const bool software = kind == kHandshakeSoftware;
    dcb.fOutxCtsFlow = hardware;
    dcb.fOutxDsrFlow = hardware;
    dcb.fDtrControl = hardware ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = hardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
    dcb.fOutX = software;
    dcb.fInX = software;
    if (const int error = device_.SetState(dcb); error != 0) {
        return FailWithErrno(error);
    }
    return kOk;
}

Status CSerial::ConfigureReadTimeouts(std::int32_t kind) {
    SetLastError(kOk);
    if (!IsOpen()) {
        return SetLastError(kErrorInvalidHandle);
    }
    switch (kind) {
    case kReadTimeoutNonBlocking:
        readTimeoutKind_.store(kind);
        writeTimeoutMultiplier_.store(1);
        writeTimeoutConstant_.store(1000);
        return kOk;
    case kReadTimeoutBlocking:
        readTimeoutKind_.store(kind);
        return kOk;
    default:
        return SetLastError(kEInvalidArg);
    }
}

bool CSerial::ReadState(DCB& dcb) {
    SetLastError(kOk);
    if (!IsOpen()) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    if (const int error = device_.GetState(dcb); error != 0) {
        FailWithErrno(error);
        return false;
    }
    return true;
}

std::int32_t CSerial::GetBaudRate() {
    DCB dcb;
    if (!ReadState(dcb)) {
        return -1;
    }
    return static_cast<std::int32_t>(dcb.BaudRate);
}

std::int32_t CSerial::GetDataBits() {
    DCB dcb;
    if (!ReadState(dcb)) {
        return -1;
    }
    return dcb.ByteSize;
}

std::int32_t CSerial::GetParity() {
    DCB dcb;
    if (!ReadState(dcb)) {
        return -1;
    }
    return dcb.fParity ? dcb.Parity : kParityNone;
}

std::int32_t CSerial::GetStopBits() {
    DCB dcb;
    if (!ReadState(dcb)) {
        return -1;
    }
    return dcb.StopBits;
}

std::int32_t CSerial::GetHandshake() {
    DCB dcb;
    if (!ReadState(dcb)) {
        return -1;
    }
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE && dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        return kHandshakeHardware;
    }
    if (dcb.fOutX && dcb.fInX) {
        return kHandshakeSoftware;
    }
    return kHandshakeOff;
}

std::uint32_t CSerial::GetEventMask() {
    SetLastError(kOk);
    if (!IsOpen()) {
        SetLastError(kErrorInvalidHandle);
        return 0;
    }
    return eventMask_.load();
}

char CSerial::GetEventCharacter() {
    SetLastError(kOk);
    if (!IsOpen()) {
        SetLastError(kErrorInvalidHandle);
        return 0;
    }
    DCB dcb;
    if (const int error = device_.GetState(dcb); error != 0) {
        FailWithErrno(error);
        return 0;
    }
    return dcb.EvtChar;
}

Status CSerial::WriteText(std::string_view text, std::uint32_t* written,
                          SerialOverlapped* overlapped, std::uint32_t timeoutMs) {
    return Write(text.data(), text.size(), written, overlapped, timeoutMs);
}

Status CSerial::Write(const void* data, std::size_t size, std::uint32_t* written,
                      SerialOverlapped* overlapped, std::uint32_t timeoutMs) {
    std::uint32_t localCount = 0;
    std::uint32_t& count = written != nullptr ? *written : localCount;
    count = 0;
    SetLastError(kOk);
    if (const Status status = CheckTransfer(overlapped, timeoutMs); status != kOk) {
        return status;
    }
    // The port's write timeout (per byte plus a constant) bounds a write that the driver
    // cannot take, like a finite timeout of the caller does.
    const std::uint64_t portLimit =
        static_cast<std::uint64_t>(writeTimeoutMultiplier_.load()) * size +
        writeTimeoutConstant_.load();
    const bool portLimited =
        writeTimeoutMultiplier_.load() != 0 || writeTimeoutConstant_.load() != 0;
    std::uint64_t limitMs =
        timeoutMs == kInfinite ? std::numeric_limits<std::uint64_t>::max() : timeoutMs;
    if (portLimited) {
        limitMs = std::min(limitMs, portLimit);
    }
    const bool bounded = limitMs != std::numeric_limits<std::uint64_t>::max();
    const auto deadline =
        bounded ? Clock::now() + std::chrono::milliseconds(limitMs) : Clock::time_point::max();

    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    Status result = kOk;
    while (done < size) {
        std::size_t put = 0;
        if (const int error = device_.Write(bytes + done, size - done, put); error != 0) {
            result = FailWithErrno(error);
            break;
        }
        done += put;
        if (done == size) {
            break;
        }
        const int error =
            device_.WaitWritable(bounded ? RemainingMs(deadline) : SerialDevice::kInfinite);
        if (error == ETIMEDOUT) {
            result = SetLastError(kErrorTimeout);
            break;
        }
        if (error != 0) {
            result = FailWithErrno(error);
            break;
        }
    }
    count = static_cast<std::uint32_t>(done);
    Complete(overlapped, count, result);
    return result;
}

Status CSerial::Read(void* buffer, std::size_t size, std::uint32_t* read,
                     SerialOverlapped* overlapped, std::uint32_t timeoutMs) {
    std::uint32_t localCount = 0;
    std::uint32_t& count = read != nullptr ? *read : localCount;
    count = 0;
    SetLastError(kOk);
    if (const Status status = CheckTransfer(overlapped, timeoutMs); status != kOk) {
        return status;
    }
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    const bool blocking = readTimeoutKind_.load() == kReadTimeoutBlocking;
    const auto deadline = timeoutMs == kInfinite
                              ? Clock::time_point::max()
                              : Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t done = 0;
    Status result = kOk;
    while (done < size) {
        std::size_t got = 0;
        if (const int error = device_.Read(bytes + done, size - done, got); error != 0) {
            result = FailWithErrno(error);
            break;
        }
        done += got;
        // Non-blocking reads return what was waiting; blocking reads wait for all of it.
        if (!blocking || done == size) {
            break;
        }
        if (got > 0) {
            continue;
        }
        const int error = device_.WaitReadable(timeoutMs == kInfinite ? SerialDevice::kInfinite
                                                                      : RemainingMs(deadline));
        if (error == ETIMEDOUT) {
            result = SetLastError(kErrorTimeout);
            break;
        }
        if (error != 0) {
            result = FailWithErrno(error);
            break;
        }
    }
    count = static_cast<std::uint32_t>(done);
    Complete(overlapped, count, result);
    return result;
}

Status CSerial::PurgeReceive() {
    SetLastError(kOk);
    if (!IsOpen()) {
        return SetLastError(kErrorInvalidHandle);
    }
    if (const int error = device_.Purge(true, false); error != 0) {
        return FailWithErrno(error);
    }
    return kOk;
}

Status CSerial::PurgeBuffers() {
    SetLastError(kOk);
    if (!IsOpen()) {
        return SetLastError(kErrorInvalidHandle);
    }
    if (const int error = device_.Purge(true, true); error != 0) {
        return FailWithErrno(error);
    }
    return kOk;
}

Status CSerial::SendBreak(std::uint32_t durationMs) {
    SetLastError(kOk);
    if (!IsOpen()) {
        return SetLastError(kErrorInvalidHandle);
    }
    if (const int error = device_.SetBreak(true); error != 0) {
        return FailWithErrno(error);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(durationMs));
    if (const int error = device_.SetBreak(false); error != 0) {
        return FailWithErrno(error);
    }
    return kOk;
}

std::uint32_t CSerial::TakeEventType() {
    return reportedEvents_.exchange(0, std::memory_order_relaxed) & eventMask_.load();
}

std::uint32_t CSerial::TakeLineErrors(COMSTAT* status) {
    SetLastError(kOk);
    if (status != nullptr) {
        *status = COMSTAT{};
    }
    if (!IsOpen()) {
        SetLastError(kErrorInvalidHandle);
        return 0;
    }
    const std::uint32_t errors = device_.TakeLineErrors();
    if (status != nullptr) {
        if (const int error = device_.BytesWaiting(status->cbInQue); error != 0) {
            FailWithErrno(error);
        }
        device_.BytesUnsent(status->cbOutQue);
    }
    return errors;
}

Status CSerial::ModemBit(std::uint32_t bit, bool& on) {
    on = false;
    SetLastError(kOk);
    if (!IsOpen()) {
        return SetLastError(kErrorInvalidHandle);
    }
    std::uint32_t bits = 0;
    if (const int error = device_.ModemStatus(bits); error != 0) {
        return FailWithErrno(error);
    }
    on = (bits & bit) != 0;
    return kOk;
}

bool CSerial::IsCtsOn() {
    bool on = false;
    ModemBit(MS_CTS_ON, on);
    return on;
}

bool CSerial::IsDsrOn() {
    bool on = false;
    ModemBit(MS_DSR_ON, on);
    return on;
}

bool CSerial::IsRingOn() {
    bool on = false;
    ModemBit(MS_RING_ON, on);
    return on;
}

bool CSerial::IsCarrierOn() {
    bool on = false;
    ModemBit(MS_RLSD_ON, on);
    return on;
}

} // namespace quillon
