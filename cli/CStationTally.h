#pragma once

#include <mutex>
#include <string>

namespace quillon {

// The running count of a station: devices updated, failed (anything that may have left a
// device without working firmware, or a port that could not serve it) and refused.
//
// Threads: Count from any port's thread; Text from any thread.
class CStationTally {
public:
    // `result` is a receipt's result word; "no-device" counts nowhere.
    void Count(const std::string& result);
    // "updated 3, failed 1, refused 0"
    std::string Text() const;
    int Updated() const;
    int Failed() const;
    int Refused() const;

private:
    mutable std::mutex mutex_;
    int updated_ = 0;
    int failed_ = 0;
    int refused_ = 0;
};

} // namespace quillon
