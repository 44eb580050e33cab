#include "platform/AppendFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon {

AppendFile::~AppendFile() {
    Close();
}

AppendFile::OpenResult AppendFile::Open(const std::string& path, Lock lock, unsigned posixMode,
                                        std::string& reason, Kind kind) {
    Close();
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) &&
        (kind == Kind::RegularOnly || S_ISDIR(info.st_mode))) {
        reason = "not a regular file";
        return OpenResult::NotRegular;
    }
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
               static_cast<mode_t>(posixMode));
    if (fd < 0) {
        reason = std::strerror(errno);
        return OpenResult::Failed;
    }
    if (::fstat(fd, &info) != 0 || (kind == Kind::RegularOnly && !S_ISREG(info.st_mode))) {
        ::close(fd);
        reason = "not a regular file";
        return OpenResult::NotRegular;
    }
    const bool regular = S_ISREG(info.st_mode);
    if (regular && lock == Lock::Exclusive && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        reason = std::strerror(errno);
        ::close(fd);
        return OpenResult::Failed;
    }
    if (regular) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    handle_ = fd;
    stream_ = !regular;
    return OpenResult::Opened;
}

AppendFile::OpenResult AppendFile::OpenStandardOutput(std::string& reason) {
    Close();
    struct stat info {};
    if (::fstat(STDOUT_FILENO, &info) != 0) {
        reason = std::strerror(errno);
        return OpenResult::Failed;
    }
    // Anything but a regular file is opened afresh, so that its own description can be
    // non-blocking without changing the one the program's own output goes through.
    const bool regular = S_ISREG(info.st_mode);
    const int fd = regular ? ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0)
                           : ::open("/dev/stdout", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        reason = std::strerror(errno);
        return OpenResult::Failed;
    }
    handle_ = fd;
    stream_ = !regular;
    return OpenResult::Opened;
}

bool AppendFile::Append(const void* data, std::size_t size, std::string& reason) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(static_cast<int>(handle_), p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && stream_ && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            reason = "the reader did not take it all at once; the rest was dropped";
            return false;
        }
        if (n <= 0) {
            reason = std::strerror(n < 0 ? errno : ENOSPC);
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::int64_t AppendFile::Size() const {
    struct stat info {};
    if (::fstat(static_cast<int>(handle_), &info) != 0) {
        return -1;
    }
    return info.st_size;
}

bool AppendFile::CutBack(std::int64_t length) {
    return ::ftruncate(static_cast<int>(handle_), static_cast<off_t>(length)) == 0;
}

bool AppendFile::Flush(std::string& reason) {
    if (::fsync(static_cast<int>(handle_)) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    return true;
}

void AppendFile::Close() {
    if (handle_ != kClosed) {
        ::close(static_cast<int>(handle_));
        handle_ = kClosed;
        stream_ = false;
    }
}

bool AppendFile::MayWrite(const std::string& path) {
    struct stat info {};
    const bool folder = ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    return ::access(path.c_str(), folder ? W_OK | X_OK : W_OK) == 0;
}

bool AppendFile::MayWriteStandardOutput() {
    const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
    return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
}

bool AppendFile::IsFifoWithoutReader(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISFIFO(info.st_mode)) {
        return false;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return errno == ENXIO;
}

} // namespace quillon
