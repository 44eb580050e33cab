#include "cli/CReceiptFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon {

CReceiptFile::~CReceiptFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool CReceiptFile::Open(const std::string& path, std::string& error) {
    path_ = path;
    const std::string shown = "the report file " + path;
    std::error_code folderError;
    const std::filesystem::path folder = std::filesystem::absolute(path, folderError).parent_path();
    if (!std::filesystem::is_directory(folder, folderError)) {
        error = shown + " cannot be written: its folder " + folder.string() + " does not exist";
        return false;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        error = shown + " is not a regular file";
        return false;
    }
    // Non-blocking, so that a FIFO put in its place meanwhile cannot hold the open.
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd_ < 0) {
        error = shown + " cannot be written: " + std::strerror(errno);
        return false;
    }
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = shown + " is not a regular file";
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

bool CReceiptFile::Append(const std::string& line, std::string& error) {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) {
        error = "the report file is not open";
        return false;
    }
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    ssize_t written = -1;
    do {
        written = ::write(fd_, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    const int writeError = written < 0 ? errno : ENOSPC;
    if (written != static_cast<ssize_t>(line.size())) {
        if (written > 0 && end >= 0) {
            [[maybe_unused]] const int cut = ::ftruncate(fd_, end);
        }
        error = "the receipt could not be written to " + path_ + ": " + std::strerror(writeError);
        return false;
    }
    if (::fsync(fd_) != 0) {
        error = "the receipt could not be flushed to " + path_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace quillon
