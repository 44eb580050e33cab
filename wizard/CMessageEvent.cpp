#include "wizard/CMessageEvent.h"

namespace quillon {

CMessageEvent::CMessageEvent(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam)
    : QEvent(EventType()) {
    std::lock_guard lock(HandOverLock());
    message_ = message;
    wParam_ = wParam;
    lParam_ = lParam;
}

std::mutex& CMessageEvent::HandOverLock() {
    static std::mutex lock;
    return lock;
}

std::uint32_t CMessageEvent::Message() const {
    std::lock_guard lock(HandOverLock());
    return message_;
}

std::intptr_t CMessageEvent::WParam() const {
    std::lock_guard lock(HandOverLock());
    return wParam_;
}

std::intptr_t CMessageEvent::LParam() const {
    std::lock_guard lock(HandOverLock());
    return lParam_;
}

QEvent::Type CMessageEvent::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

} // namespace quillon
