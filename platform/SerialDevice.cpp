#include "platform/SerialDevice.h"

// The bookkeeping of line errors, hang-ups and write-side calls is the same on every system;
// each system's source keeps its own way of cutting a waiting write short (UpdateWriteCancel).

namespace quillon {

std::uint32_t SerialDevice::TakeLineErrors() {
    std::lock_guard lock(stateMutex_);
    if (IsOpen()) {
        PollCounters();
    }
    const std::uint32_t errors = pendingErrors_;
    pendingErrors_ = 0;
    return errors;
}

void SerialDevice::NoteHangUp() {
    if (!hungUp_.exchange(true)) {
        std::lock_guard lock(stateMutex_);
        pendingErrors_ |= CE_IOE;
    }
}

void SerialDevice::InterruptWrites() {
    std::lock_guard lock(writeMutex_);
    writesInterrupted_ = true;
    UpdateWriteCancel();
}

void SerialDevice::ResumeWrites() {
    std::lock_guard lock(writeMutex_);
    writesInterrupted_ = false;
    UpdateWriteCancel();
}

bool SerialDevice::EnterWrite() {
    std::lock_guard lock(writeMutex_);
    if (writesInterrupted_ || closing_) {
        return false;
    }
    ++activeWriters_;
    return true;
}

void SerialDevice::LeaveWrite() {
    std::lock_guard lock(writeMutex_);
    if (--activeWriters_ == 0) {
        writersLeft_.notify_all();
    }
}

// Breaks and line errors counted by the driver since the last look, and received bytes:
// those count as an event when they were not reported yet, or when the queue changed since
// (part of it was taken, or more arrived). Bytes that are not an event (already reported and
// untouched, or not asked for) keep the port readable, so a wait then looks again at
// intervals instead (staleInput).
std::uint32_t SerialDevice::PendingEvents(std::uint32_t mask, bool& staleInput, int& queueError) {
    std::uint32_t found = 0;
    {
        std::lock_guard lock(stateMutex_);
        const std::uint32_t errors = PollCounters();
        if ((errors & CE_BREAK) != 0) {
            found |= EV_BREAK;
        }
        if ((errors & (CE_FRAME | CE_OVERRUN | CE_RXPARITY | CE_RXOVER)) != 0) {
            found |= EV_ERR;
        }
    }
    staleInput = false;
    queueError = 0;
    std::uint32_t waiting = 0;
    if ((mask & (EV_RXCHAR | EV_RXFLAG | EV_BREAK | EV_ERR)) != 0) {
        queueError = BytesWaiting(waiting);
    }
    if (waiting > 0) {
        const std::uint64_t generation = queueGeneration_.load(std::memory_order_acquire);
        if ((mask & EV_RXCHAR) != 0 &&
            (generation != reportedGeneration_ || waiting != reportedQueue_)) {
            found |= EV_RXCHAR;
            reportedGeneration_ = generation;
            reportedQueue_ = waiting;
        } else {
            staleInput = true;
        }
    }
    return found & mask;
}

std::intptr_t SerialDevice::TakeHandleForClose() {
    {
        std::unique_lock lock(writeMutex_);
        closing_ = true;
        UpdateWriteCancel();
        writersLeft_.wait(lock, [this] { return activeWriters_ == 0; });
    }
    const std::intptr_t handle = fd_.exchange(-1, std::memory_order_acq_rel);
    std::lock_guard lock(writeMutex_);
    closing_ = false;
    UpdateWriteCancel();
    return handle;
}

} // namespace quillon
