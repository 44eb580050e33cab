#include "wizard/CPostingMessageSink.h"

#include "wizard/CDialog.h"

namespace quillon {

CPostingMessageSink::CPostingMessageSink(CDialog* target) : target_(target) {
}

void CPostingMessageSink::Post(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) {
    // The lock keeps the dialog from being detached between the check and the post; the
    // dialog itself is destroyed on the UI thread only after its owner has stopped the
    // workers, so it lives through the post.
    const std::lock_guard guard(lock_);
    if (CDialog* target = target_.data()) {
        target->PostMessage(message, wParam, lParam);
    }
}

void CPostingMessageSink::Retarget(CDialog* target) {
    const std::lock_guard guard(lock_);
    target_ = target;
}

} // namespace quillon
