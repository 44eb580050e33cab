#include "link/SessionLog.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon {

namespace {

void WriteAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return; // failures while appending are not reported
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

} // namespace

SessionLog::~SessionLog() {
    Close();
}

bool SessionLog::Open(const std::string& path) {
    Close();
    if (path.empty()) {
        return false;
    }
    // Non-blocking so that a FIFO without a reader fails instead of hanging the caller.
    constexpr int kFlags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    struct stat st {};
    int fd = -1;
    if (path == kStandardOutput) {
        // A file behind standard output is shared with the program's own text, offset and
        // all; anything else (a terminal, a pipe) is opened afresh, so that its own
        // description can stay non-blocking without touching the program's.
        if (fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode)) {
            fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        } else {
            fd = ::open("/dev/stdout", kFlags);
        }
    } else {
        fd = ::open(path.c_str(), kFlags | O_CREAT | O_APPEND, 0666);
    }
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    if (S_ISREG(st.st_mode)) {
        // One session at a time in a file: a second writer would interleave its bytes.
        if (path != kStandardOutput && flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    // A terminal, a pipe or a FIFO stays non-blocking: the bytes are appended on the
    // port's event thread, which a reader that falls behind must never hold up; what it
    // cannot take at once is dropped.
    fd_ = fd;

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string header = FormatHeader(local);
    WriteAll(fd_, header.data(), header.size());
    return true;
}

void SessionLog::Append(const void* data, std::size_t size) {
    if (fd_ >= 0 && size > 0) {
        WriteAll(fd_, data, size);
    }
}

void SessionLog::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::string SessionLog::FormatHeader(const std::tm& localTime) {
    char text[128];
    const int n =
        std::snprintf(text, sizeof text,
                      "\r\n-------------------------------------------\r\nLog File Appended - "
                      "%04d/%02d/%02d %02d:%02d:%02d\r\n",
                      localTime.tm_year + 1900, localTime.tm_mon + 1, localTime.tm_mday,
                      localTime.tm_hour, localTime.tm_min, localTime.tm_sec);
    const auto length = n > 0 ? static_cast<std::size_t>(n) : 0;
    return std::string(text, length < sizeof text ? length : sizeof text - 1);
}

} // namespace quillon
