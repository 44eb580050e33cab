#pragma once

#include "cli/IInterruptSource.h"

#include <deque>
#include <mutex>

namespace quillon {

// The requests the station makes of one port's device session, delivered the way a
// signal reaches a single session: kept until the session looks between its waits.
//
// Threads: Post from any thread; Take belongs to the port's thread.
class CPortSignals : public IInterruptSource {
public:
    void Post(ConsoleSignal signal) {
        std::lock_guard lock(mutex_);
        // More requests than these are never looked at.
        if (pending_.size() < kMostPending) {
            pending_.push_back(signal);
        }
    }
    ConsoleSignal Take() override {
        std::lock_guard lock(mutex_);
        if (pending_.empty()) {
            return ConsoleSignal::None;
        }
        const ConsoleSignal signal = pending_.front();
        pending_.pop_front();
        return signal;
    }

private:
    static constexpr std::size_t kMostPending = 64;
    std::mutex mutex_;
    std::deque<ConsoleSignal> pending_;
};

} // namespace quillon
