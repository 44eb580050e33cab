#pragma once

#include <QJsonObject>
#include <mutex>
#include <ostream>
#include <string>

namespace quillon {

// Machine-readable events (--json): one JSON object per line on standard output, each
// with "event", "port" and "time" (UTC ISO 8601) besides its own fields. Events:
// port_opened, device_detected, decision, progress, status, error, result, tally.
//
// Threads: Emit from any port's thread; lines never interleave (one lock, one flush per
// line). Output that can no longer be written is dropped.
class CJsonEvents {
public:
    explicit CJsonEvents(std::ostream& out) : out_(out) {}

    void Emit(const std::string& event, const std::string& port, QJsonObject fields = {});

private:
    std::mutex mutex_;
    std::ostream& out_;
};

} // namespace quillon
