#include "upload/CMessageQueue.h"

namespace quillon {

void CMessageQueue::Post(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) {
    {
        std::lock_guard lock(mutex_);
        messages_.push_back({message, wParam, lParam});
    }
    arrived_.notify_all();
}

std::optional<CMessageQueue::Message> CMessageQueue::Take(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, timeout, [this] { return !messages_.empty() || interrupted_; });
    interrupted_ = false;
    if (messages_.empty()) {
        return std::nullopt;
    }
    Message message = messages_.front();
    messages_.pop_front();
    return message;
}

void CMessageQueue::Interrupt() {
    {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
    }
    arrived_.notify_all();
}

} // namespace quillon
