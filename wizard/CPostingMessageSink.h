#pragma once

#include "upload/IMessageSink.h"

#include <QPointer>
#include <cstdint>
#include <mutex>

namespace quillon {

class CDialog;

// Lets a worker thread of the core report to a page: every Post becomes a message posted
// to the dialog and handled on the UI thread. Detach (or destroying the dialog) makes
// later posts do nothing, so a late worker cannot reach a page that is gone.
//
// Threads: Post from any thread; construction, Retarget and Detach on the UI thread.
class CPostingMessageSink : public IMessageSink {
public:
    explicit CPostingMessageSink(CDialog* target = nullptr);

    void Post(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) override;
    void Retarget(CDialog* target);
    void Detach() { Retarget(nullptr); }

private:
    std::mutex lock_;
    QPointer<CDialog> target_;
};

} // namespace quillon
