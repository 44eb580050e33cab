#pragma once

#include <QEvent>
#include <cstdint>

namespace quillon {

// A numbered message with two parameters, posted to a dialog and handled on the UI
// thread: what workers use to tell a page something.
class CMessageEvent : public QEvent {
public:
    CMessageEvent(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam);

    static QEvent::Type EventType();

    std::uint32_t Message() const { return message_; }
    std::intptr_t WParam() const { return wParam_; }
    std::intptr_t LParam() const { return lParam_; }

private:
    std::uint32_t message_;
    std::intptr_t wParam_;
    std::intptr_t lParam_;
};

} // namespace quillon
