#pragma once

#include "platform/AppendFile.h"

#include <mutex>
#include <string>

namespace quillon {

// The station's report file: receipts appended as whole lines. Each line goes out whole
// and is flushed to the disk before the next run begins, so a crash or a
// power cut never leaves half a line; a write that runs out of space is cut back to where
// the file ended, for the same reason.
//
// Threads: opened on the command's thread before any port starts; Append from any port's
// thread (one at a time, under the object's lock).
class CReceiptFile {
public:
    CReceiptFile() = default;
    CReceiptFile(const CReceiptFile&) = delete;
    CReceiptFile& operator=(const CReceiptFile&) = delete;

    // Opens (creating) the file for appending. Refuses a folder that does not exist, a
    // file that is not a regular one (a FIFO would block a port or lose receipts) and one
    // this user may not write; false with the reason in `error`.
    bool Open(const std::string& path, std::string& error);
    // False with the reason in `error`; the file then ends where it ended before.
    bool Append(const std::string& line, std::string& error);
    const std::string& Path() const { return path_; }

private:
    std::mutex mutex_;
    std::string path_;
    AppendFile file_;
};

} // namespace quillon
