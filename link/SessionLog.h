#pragma once

#include "platform/AppendFile.h"

#include <cstddef>
#include <ctime>
#include <string>

namespace quillon {

// An append-only session log: each Open adds a header with the local time, then every
// appended chunk is written unchanged. A file is created when missing, never truncated,
// and held exclusively while open. The path "-" is standard output; a terminal, a FIFO
// with a reader or another device takes the bytes as far as it can without waiting. A
// path that cannot be opened or is in use leaves the log closed; write failures are
// ignored.
//
// Threads: not synchronised; the owner guards it (the link appends under its receive lock).
class SessionLog {
public:
    SessionLog() = default;
    ~SessionLog();
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    // The path that names standard output.
    static constexpr const char* kStandardOutput = "-";

    bool Open(const std::string& path);
    void Append(const void* data, std::size_t size);
    void Close();
    bool IsOpen() const { return file_.IsOpen(); }

    // The header for a session started at the given local time.
    static std::string FormatHeader(const std::tm& localTime);

private:
    AppendFile file_;
};

} // namespace quillon
