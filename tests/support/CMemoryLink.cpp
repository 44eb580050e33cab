#include "tests/support/CMemoryLink.h"

#include <algorithm>

namespace quillon {

CMemoryLink::CMemoryLink() = default;

CMemoryLink::~CMemoryLink() = default;

void CMemoryLink::SetDeviceStream(std::span<const std::uint8_t> stream, bool endless) {
    stream_.assign(stream.begin(), stream.end());
    streamAt_ = 0;
    endless_ = endless;
    // An endless stream of empty answers is a silent device: reads must not go round it
    // for ever looking for a byte.
    streamHasBytes_ = false;
    for (std::size_t at = 0; at < stream_.size() && !streamHasBytes_;) {
        const std::size_t length = stream_[at];
        streamHasBytes_ = length > 0 && at + 1 < stream_.size();
        at += 1 + length;
    }
    received_.clear();
    receivedAt_ = 0;
    bytesRead_ = 0;
    writes_ = 0;
    breaks_ = 0;
    budgetSpent_ = false;
    simulatedSeconds_ = 0;
    readSinceWrite_.clear();
    lastWrite_.clear();
}

void CMemoryLink::AppendAnswer(Bytes& stream, std::span<const std::uint8_t> answer) {
    // A piece of exactly 255 bytes says "more follows", so the last piece is shorter
    // (possibly empty).
    std::size_t at = 0;
    for (;;) {
        const std::size_t piece = std::min<std::size_t>(answer.size() - at, kContinued);
        stream.push_back(static_cast<std::uint8_t>(piece));
        stream.insert(stream.end(), answer.begin() + static_cast<std::ptrdiff_t>(at),
                      answer.begin() + static_cast<std::ptrdiff_t>(at + piece));
        at += piece;
        if (piece < kContinued) {
            return;
        }
    }
}

void CMemoryLink::SetReadBudget(std::size_t perWrite, std::size_t overall) {
    perWriteBudget_ = perWrite;
    overallBudget_ = overall;
    budgeted_ = true;
}

bool CMemoryLink::DeliverNextAnswer() {
    if (streamAt_ >= stream_.size()) {
        if (!endless_ || !streamHasBytes_) {
            return false;
        }
        streamAt_ = 0;
    }
    // An answer ends with a piece shorter than kContinued, or where the stream ends (an
    // endless stream goes on with its first answer as the next one, not as this one).
    for (;;) {
        const std::size_t length = stream_[streamAt_++];
        const std::size_t available = std::min(length, stream_.size() - streamAt_);
        received_.insert(received_.end(), stream_.begin() + static_cast<std::ptrdiff_t>(streamAt_),
                         stream_.begin() + static_cast<std::ptrdiff_t>(streamAt_ + available));
        streamAt_ += available;
        if (length != kContinued || streamAt_ >= stream_.size()) {
            return true;
        }
    }
}

Status CMemoryLink::ReadByte(std::uint8_t& out, std::uint32_t timeoutMs) {
    if (WaitsInterrupted()) {
        return kEAbort;
    }
    const auto timedOut = [&] {
        if (timeoutMs == kInfinite) {
            // Nothing will ever come: waiting for ever would hang the caller.
            return kEFail;
        }
        simulatedSeconds_ += timeoutMs * 0.001;
        return kWaitTimeout;
    };
    if (budgeted_ && bytesRead_ >= writes_ * perWriteBudget_ + overallBudget_) {
        budgetSpent_ = true;
        return timedOut();
    }
    if (receivedAt_ >= received_.size()) {
        received_.clear();
        receivedAt_ = 0;
        // Only an endless device speaks unasked; DeliverNextAnswer may hand over an empty
        // answer, so keep asking while the stream has bytes at all.
        while (endless_ && streamHasBytes_ && received_.empty()) {
            DeliverNextAnswer();
        }
        if (received_.empty()) {
            return timedOut();
        }
    }
    out = received_[receivedAt_++];
    ++bytesRead_;
    readSinceWrite_.push_back(out);
    simulatedSeconds_ += ByteSeconds();
    return kOk;
}

std::size_t CMemoryLink::AvailableBytes() {
    return received_.size() - receivedAt_;
}

void CMemoryLink::ClearReceiveBuffer() {
    received_.clear();
    receivedAt_ = 0;
}

Status CMemoryLink::WriteAndDrain(const void* data, std::size_t size) {
    if (WaitsInterrupted()) {
        return kEAbort; // as the serial link: nothing is written once waits are cut short
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    ++writes_;
    simulatedSeconds_ += static_cast<double>(size) * ByteSeconds();
    lastWrite_.assign(bytes, bytes + size);
    readSinceWrite_.clear();
    if (observer_) {
        observer_(lastWrite_, breakSinceWrite_);
    }
    breakSinceWrite_ = false;
    DeliverNextAnswer();
    return kOk;
}

Status CMemoryLink::PulseBreak(std::uint32_t durationMs) {
    ++breaks_;
    breakSinceWrite_ = true;
    simulatedSeconds_ += durationMs * 0.001;
    return kOk;
}

void CMemoryLink::Pause(std::uint32_t milliseconds, bool /*exact*/) {
    simulatedSeconds_ += milliseconds * 0.001;
}

Status CMemoryLink::ConfigureLine(std::uint32_t baudRate, std::int32_t /*dataBits*/,
                                  std::int32_t /*parity*/, std::int32_t /*stopBits*/) {
    if (baudRate == 0) {
        return kErrorInvalidParameter;
    }
    baud_ = baudRate;
    return kOk;
}

} // namespace quillon
