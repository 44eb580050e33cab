#include "link/CFWUplSerialEx.h"

#include "platform/PreciseClock.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>

namespace quillon {

namespace {

// Line errors after which the driver's receive queue holds nothing worth keeping.
bool IsReceiveFault(std::uint32_t lineErrors) {
    return lineErrors == CE_RXPARITY || lineErrors == CE_FRAME || lineErrors == CE_IOE ||
           lineErrors == CE_MODE;
}

} // namespace

CFWUplSerialEx::CFWUplSerialEx() = default;

CFWUplSerialEx::~CFWUplSerialEx() {
    // The event thread calls OnCommEvent and writes the log: it must be gone before the
    // buffer and the log are.
    if (IsOpen()) {
        Close();
    } else {
        StopEventThread();
    }
    std::lock_guard lock(receiveLock_);
    log_.reset();
}

void CFWUplSerialEx::OnCommEvent(std::uint32_t events, std::uint32_t lineErrors) {
    if (events == EV_ERR || IsReceiveFault(lineErrors)) {
        PurgeReceive();
    }
    COMSTAT status;
    TakeLineErrors(&status);
    if (IsHungUp()) {
        // Readers waiting for bytes that can no longer come give up now.
        std::lock_guard lock(receiveLock_);
        dataReadyChanged_.notify_all();
    }
    if (events != EV_RXCHAR) {
        return;
    }
    if (IsReceiveFault(lineErrors)) {
        PurgeReceive();
    }

    std::lock_guard lock(receiveLock_);
    const std::size_t waiting = status.cbInQue;
    if (waiting == 0) {
        return;
    }
    std::array<std::uint8_t, kChunk> chunk{};
    std::uint32_t got = 0;
    if (Read(chunk.data(), std::min(waiting, kChunk), &got) != kOk || got == 0) {
        return;
    }
    if (log_) {
        log_->Append(chunk.data(), got);
    }
    receiveBuffer_.insert(receiveBuffer_.end(), chunk.begin(), chunk.begin() + got);
    dataReady_ = true;
    dataReadyChanged_.notify_all();
}

Status CFWUplSerialEx::ReadByte(std::uint8_t& out, std::uint32_t timeoutMs) {
    std::unique_lock lock(receiveLock_);
    if (interrupted_) {
        return kEAbort;
    }
    if (readPosition_ >= receiveBuffer_.size()) {
        if (IsHungUp()) {
            return kEFail;
        }
        const auto wake = [this] { return dataReady_ || interrupted_ || IsHungUp(); };
        if (timeoutMs == kInfinite) {
            dataReadyChanged_.wait(lock, wake);
        } else if (!dataReadyChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), wake)) {
            return kWaitTimeout;
        }
        if (interrupted_) {
            return kEAbort;
        }
        dataReady_ = false; // the wait consumed the signal
        if (readPosition_ >= receiveBuffer_.size()) {
            return kEFail;
        }
    }
    out = receiveBuffer_[readPosition_++];
    ++bytesTaken_;
    if (readPosition_ == receiveBuffer_.size()) {
        dataReady_ = false;
    }
    if (readPosition_ > kCompactAfter) {
        receiveBuffer_.erase(receiveBuffer_.begin(),
                             receiveBuffer_.begin() + static_cast<std::ptrdiff_t>(readPosition_));
        readPosition_ = 0;
    }
    return kOk;
}

std::size_t CFWUplSerialEx::AvailableBytes() {
    std::lock_guard lock(receiveLock_);
    return receiveBuffer_.size() - readPosition_;
}

std::uint64_t CFWUplSerialEx::BytesTaken() {
    std::lock_guard lock(receiveLock_);
    return bytesTaken_;
}

std::size_t CFWUplSerialEx::ConsumedBytes() {
    std::lock_guard lock(receiveLock_);
    return readPosition_;
}

void CFWUplSerialEx::ClearReceiveBuffer() {
    std::lock_guard lock(receiveLock_);
    receiveBuffer_.clear();
    readPosition_ = 0;
    dataReady_ = false;
}

Status CFWUplSerialEx::WriteAndDrain(const void* data, std::size_t size) {
    const std::int32_t baud = GetBaudRate();
    const std::int64_t start = PreciseClock::Counter();
    const double lineSeconds = baud > 0 ? static_cast<double>(size) * 10.0 / baud : 0.0;
    if (WaitsInterrupted()) {
        return kEAbort;
    }
    const auto limitMs =
        static_cast<std::uint32_t>(std::ceil(lineSeconds * 1000.0)) + kWriteMarginMs;
    if (const Status status = Write(data, size, nullptr, nullptr, limitMs); status != kOk) {
        return status == kErrorOperationAborted ? kEAbort : status;
    }
    // Sleep through most of the drain where an interrupt can cut it short; the exact end
    // is spun on the counter as before.
    const auto end = PreciseClock::Clock::time_point(PreciseClock::Clock::duration(start)) +
                     std::chrono::duration_cast<PreciseClock::Clock::duration>(
                         std::chrono::duration<double>(lineSeconds));
    const auto sleepUntil = end - std::chrono::milliseconds(2);
    if (PreciseClock::Clock::now() < sleepUntil) {
        std::unique_lock lock(receiveLock_);
        if (dataReadyChanged_.wait_until(lock, sleepUntil, [this] { return interrupted_; })) {
            return kEAbort;
        }
    }
    BusyWait(lineSeconds, start);
    return kOk;
}

Status CFWUplSerialEx::PulseBreak(std::uint32_t durationMs) {
    SetLastError(kOk);
    if (!IsOpen()) {
        return SetLastError(kErrorInvalidHandle);
    }
    Device().SetBreak(true);
    BusyWait(durationMs * 0.001, PreciseClock::Counter());
    Device().SetBreak(false);
    return kOk;
}

Status CFWUplSerialEx::BusyWait(double seconds, std::int64_t start) {
    PreciseClock::WaitSeconds(seconds, start == -1 ? PreciseClock::Counter() : start);
    return kOk;
}

void CFWUplSerialEx::Pause(std::uint32_t milliseconds, bool exact) {
    if (exact) {
        BusyWait(milliseconds * 0.001, -1);
        return;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock lock(receiveLock_);
    dataReadyChanged_.wait_until(lock, deadline, [this] { return interrupted_; });
}

void CFWUplSerialEx::OpenLog(const std::string& path) {
    std::unique_ptr<SessionLog> previous;
    {
        // Once taken out under the lock, no append can be using the old log.
        std::lock_guard lock(receiveLock_);
        previous = std::move(log_);
    }
    previous.reset();
    if (path.empty()) {
        return;
    }
    auto log = std::make_unique<SessionLog>();
    if (!log->Open(path)) {
        return;
    }
    std::lock_guard lock(receiveLock_);
    log_ = std::move(log);
}

bool CFWUplSerialEx::IsLogOpen() {
    std::lock_guard lock(receiveLock_);
    return log_ != nullptr;
}

void CFWUplSerialEx::InterruptWaits() {
    {
        std::lock_guard lock(receiveLock_);
        interrupted_ = true;
        dataReadyChanged_.notify_all();
    }
    Device().InterruptWrites();
}

void CFWUplSerialEx::ResumeWaits() {
    Device().ResumeWrites();
    std::lock_guard lock(receiveLock_);
    interrupted_ = false;
}

bool CFWUplSerialEx::WaitsInterrupted() {
    std::lock_guard lock(receiveLock_);
    return interrupted_;
}

} // namespace quillon
