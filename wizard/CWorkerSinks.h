#pragma once

#include "wizard/CPostingMessageSink.h"

#include <memory>
#include <vector>

namespace quillon {

class CDialog;

// The message sinks through which the core's workers report to the pages. The master
// dialog keeps them in a base class placed ahead of the core; bases go in the reverse
// order, so every sink outlives the core's destructor, which joins the workers. A worker
// left running by a bounded wait therefore never posts through freed memory, and a page
// that detaches its sink before its window goes never hears from it again.
//
// Threads: SinkFor on the UI thread; the sinks' Post from any thread.
class CWorkerSinks {
public:
    CWorkerSinks() = default;
    CWorkerSinks(const CWorkerSinks&) = delete;
    CWorkerSinks& operator=(const CWorkerSinks&) = delete;

    // The page's sink, pointed at the page (again); made on first use.
    CPostingMessageSink& SinkFor(CDialog& page);

protected:
    ~CWorkerSinks() = default;

private:
    struct Entry {
        const CDialog* page;
        std::unique_ptr<CPostingMessageSink> sink;
    };
    std::vector<Entry> sinks_;
};

} // namespace quillon
