#pragma once

#include "upload/IMessageSink.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace quillon {

// A message sink for front ends without a window: workers post, the owner takes the
// messages in order on its own thread.
// Threads: Post from any thread; Take from one consumer thread.
class CMessageQueue : public IMessageSink {
public:
    struct Message {
        std::uint32_t number = 0;
        std::intptr_t wParam = 0;
        std::intptr_t lParam = 0;
    };

    void Post(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) override;
    // The oldest message, waiting at most `timeout` for one to arrive.
    std::optional<Message> Take(std::chrono::milliseconds timeout);
    // Wakes a consumer blocked in Take without a message (it then returns nothing).
    void Interrupt();

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Message> messages_;
    bool interrupted_ = false;
};

} // namespace quillon
