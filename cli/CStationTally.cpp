#include "cli/CStationTally.h"

namespace quillon {

void CStationTally::Count(const std::string& result) {
    std::lock_guard lock(mutex_);
    if (result == "success") {
        ++updated_;
    } else if (result == "refused") {
        ++refused_;
    } else if (result != "no-device") {
        ++failed_;
    }
}

std::string CStationTally::Text() const {
    std::lock_guard lock(mutex_);
    return "updated " + std::to_string(updated_) + ", failed " + std::to_string(failed_) +
           ", refused " + std::to_string(refused_);
}

int CStationTally::Updated() const {
    std::lock_guard lock(mutex_);
    return updated_;
}

int CStationTally::Failed() const {
    std::lock_guard lock(mutex_);
    return failed_;
}

int CStationTally::Refused() const {
    std::lock_guard lock(mutex_);
    return refused_;
}

} // namespace quillon
