#include "platform/Event.h"

#include <chrono>

namespace quillon {

Event::Event(Mode mode, bool initiallySet) : mode_(mode), set_(initiallySet) {
}

void Event::Set() {
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    if (mode_ == Mode::AutoReset) {
        signalled_.notify_one();
    } else {
        signalled_.notify_all();
    }
}

void Event::Reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

bool Event::Wait(std::uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    const auto isSet = [this] { return set_; };
    if (timeoutMs == 0) {
        // Only a look: a timed wait that is already over would still go to the kernel
        // and sleep out the timer slack, once per record of a module transfer.
        if (!set_) {
            return false;
        }
    } else if (timeoutMs == kInfinite) {
        signalled_.wait(lock, isSet);
    } else if (!signalled_.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSet)) {
        return false;
    }
    if (mode_ == Mode::AutoReset) {
        set_ = false;
    }
    return true;
}

bool Event::IsSet() const {
    std::lock_guard lock(mutex_);
    return set_;
}

} // namespace quillon
