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
    // Non-blocking so that a FIFO without a reader fails instead of hanging the caller; only
    // regular files are taken.
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
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
