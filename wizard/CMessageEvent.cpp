#include "wizard/CMessageEvent.h"

namespace quillon {

CMessageEvent::CMessageEvent(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam)
    : QEvent(EventType()), message_(message), wParam_(wParam), lParam_(lParam) {
}

QEvent::Type CMessageEvent::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

} // namespace quillon
