#pragma once

#include <QEvent>
#include <cstdint>
#include <mutex>

namespace quillon {

// A numbered message with two parameters, posted to a dialog and handled on the UI
// thread: what workers use to tell a page something.
// Threads: built on the posting thread, read and destroyed on the UI thread. Qt's event
// queue hands it over under its own lock, which the thread sanitizer cannot see into (Qt
// is not instrumented); the fields are written and read under a lock of ours as well, so
// the hand-over is visible to it.
class CMessageEvent : public QEvent {
public:
    CMessageEvent(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam);

    static QEvent::Type EventType();

    std::uint32_t Message() const;
    std::intptr_t WParam() const;
    std::intptr_t LParam() const;

private:
    static std::mutex& HandOverLock();

    std::uint32_t message_ = 0;
    std::intptr_t wParam_ = 0;
    std::intptr_t lParam_ = 0;
};

} // namespace quillon
