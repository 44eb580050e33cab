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

} // namespace quillon
