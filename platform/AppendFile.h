#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillon {

// A file that grows only at its end: a log or a list of receipts. Paths are UTF-8 (made
// UTF-16 for Windows, so C:\Users\Zoë\receipts.jsonl works). The open never blocks, so
// that a FIFO put in the file's place cannot hold the program.
//
// Besides regular files it can take a stream (a terminal, a pipe, a FIFO with a reader,
// another device, standard output) when asked to. A stream is written without waiting
// where the system allows it: what the reader cannot take at once is dropped, so that a
// reader that falls behind never holds up the writer. Windows consoles and pipes have no
// such mode and are written through.
//
// Threads: not synchronised; its owner guards it.
class AppendFile {
public:
    enum class Lock {
        None,     // others may write the file too
        Exclusive // while open no other holder of such a lock (on Windows: no other writer)
    };
    enum class OpenResult { Opened, NotRegular, Failed };
    enum class Kind {
        RegularOnly, // anything else is NotRegular
        AnyWritable  // streams too; locks apply to regular files only
    };

    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens the file, creating it with `posixMode` (less the umask; Windows gives it the
    // folder's permissions). Refuses anything but a regular file; `reason` then says why.
    OpenResult Open(const std::string& path, Lock lock, unsigned posixMode, std::string& reason,
                    Kind kind = Kind::RegularOnly);
    // Standard output on the same terms as a stream; a regular file behind it is shared
    // with the program's own output, offset and all.
    OpenResult OpenStandardOutput(std::string& reason);
    bool IsOpen() const { return handle_ != kClosed; }
    // Writes all of it at the end; false with the reason when not all of it was written
    // (for a stream: when the reader could not take it all at once).
    bool Append(const void* data, std::size_t size, std::string& reason);
    // Its length now; -1 when unknown.
    std::int64_t Size() const;
    // Shortens it to `length`.
    bool CutBack(std::int64_t length);
    // Returns once what was written is on the disk.
    bool Flush(std::string& reason);
    void Close();

    // Whether this user may write an existing file, or create files in a folder; judged
    // without opening or creating anything.
    static bool MayWrite(const std::string& path);
    // Whether standard output is open for writing.
    static bool MayWriteStandardOutput();
    // Whether `path` is a FIFO that no reader holds open, so that opening it would fail.
    static bool IsFifoWithoutReader(const std::string& path);

private:
    static constexpr std::intptr_t kClosed = -1; // also INVALID_HANDLE_VALUE
    std::intptr_t handle_ = kClosed;
    bool stream_ = false;
};

} // namespace quillon
