#pragma once

#include <QJsonObject>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace quillon {

struct VersionDescriptor;

// What one device run on one port did, as a station keeps it: the port and its adapter,
// when, what the device and the package were, the decision, the result and what went on
// the line. Written as one JSON object per line (JSON Lines), snake_case keys, times in
// UTC ISO 8601; a value that was never learnt is null.
//
// Threads: filled and written by the port's thread.
class CReceipt {
public:
    struct Version {
        std::string text;
        std::string product;
        std::string build;
    };
    using TimePoint = std::chrono::system_clock::time_point;

    static Version FromDescriptor(const VersionDescriptor& descriptor);
    // The receipt's result word for a device command's exit status; a failed upload on a
    // port that hung up is "hung-up".
    static const char* ResultName(int exitStatus, bool lineLost);
    // 2024-05-01T12:34:56.789Z
    static std::string IsoTime(TimePoint time);

    QJsonObject ToJson() const;
    // The compact JSON object and a line end.
    std::string ToLine() const;

    std::string port;
    std::string byId;
    std::string usbSerial;
    TimePoint startedAt{};
    TimePoint endedAt{};
    std::string host;
    // Set once the device has been identified.
    std::optional<Version> bootloader;
    std::optional<Version> firmware;
    std::string boardTypeId;
    Version package;
    std::string decisionOutcome; // accept, warn, refuse; empty without a decision
    std::string decisionText;
    std::string result;
    std::string failedPhase; // empty on success
    int exitStatus = 0;
    std::uint64_t recordsSent = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t retries = 0;
    double seconds = 0;
    std::string logPath;
};

} // namespace quillon
