#include "wizard/CWorkerSinks.h"

#include <algorithm>

namespace quillon {

CPostingMessageSink& CWorkerSinks::SinkFor(CDialog& page) {
    auto it = std::find_if(sinks_.begin(), sinks_.end(),
                           [&page](const Entry& entry) { return entry.page == &page; });
    if (it == sinks_.end()) {
        sinks_.push_back({&page, std::make_unique<CPostingMessageSink>()});
        it = std::prev(sinks_.end());
    }
    it->sink->Retarget(&page);
    return *it->sink;
}

} // namespace quillon
