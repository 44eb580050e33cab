#include "tests/hostile/HostileSupport.h"

#include "cli/CCommandLine.h"
#include "cli/CDetectCommand.h"
#include "cli/CUploadCommand.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sched.h>
#include <sstream>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillon::testing {

PortHolder::PortHolder(const std::string& path) {
    int ready[2];
    int release[2];
    if (::pipe(ready) != 0) {
        return;
    }
    if (::pipe(release) != 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        return;
    }
    child_ = ::fork();
    if (child_ == 0) {
        // Only system calls from here on: the parent has other threads.
        ::close(ready[0]);
        ::close(release[1]);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        char answer = 'n';
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            answer = 'y';
        }
        if (::write(ready[1], &answer, 1) != 1) {
            ::_exit(2);
        }
        char ignored = 0;
        while (::read(release[0], &ignored, 1) < 0 && errno == EINTR) {
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char answer = 'n';
    if (child_ > 0) {
        while (::read(ready[0], &answer, 1) < 0 && errno == EINTR) {
        }
    }
    ::close(ready[0]);
    holding_ = answer == 'y';
}

PortHolder::~PortHolder() {
    Release();
}

void PortHolder::Release() {
    if (release_ >= 0) {
        ::close(release_);
        release_ = -1;
    }
    if (child_ > 0) {
        int status = 0;
        while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
        }
        child_ = -1;
    }
    holding_ = false;
}

FifoReader::FifoReader(const std::string& path)
    : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
}

FifoReader::~FifoReader() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::size_t FifoReader::Drain() {
    std::size_t total = 0;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0) {
            return total;
        }
        total += static_cast<std::size_t>(n);
    }
}

CliResult RunCli(const std::vector<std::string>& args) {
    const std::string program = "quillon-cli";
    CCommandLine commandLine(program);
    commandLine.AddCommand(std::make_unique<CDetectCommand>(program));
    commandLine.AddCommand(std::make_unique<CUploadCommand>(program));
    std::ostringstream out;
    std::ostringstream err;
    CliResult result;
    const auto start = std::chrono::steady_clock::now();
    result.status = commandLine.Run(args, out, err);
    result.took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    result.out = out.str();
    result.err = err.str();
    return result;
}

int RunInChild(const std::function<bool()>& check) {
    const pid_t child = ::fork();
    if (child < 0) {
        return 1;
    }
    if (child == 0) {
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

int RunWithReadOnlyFolder(const std::string& folder, const std::function<bool()>& check) {
    const pid_t child = ::fork();
    if (child < 0) {
        return 1;
    }
    if (child == 0) {
        bool readOnly = false;
        if (::unshare(CLONE_NEWNS) == 0 &&
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
            ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) ==
                0) {
            readOnly = true;
        } else if (::geteuid() != 0 && ::chmod(folder.c_str(), 0555) == 0) {
            readOnly = true;
        }
        if (!readOnly) {
            ::_exit(kNoReadOnlyFolder);
        }
        const bool held = check();
        ::chmod(folder.c_str(), 0755);
        ::_exit(held ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

std::string SettingsFolder() {
    const char* home = std::getenv("XDG_CONFIG_HOME");
    return std::string(home != nullptr ? home : "/tmp") + "/Veldra";
}

std::string SettingsFile() {
    return SettingsFolder() + "/Quillon.conf";
}

void TouchUniquely(const std::string& path) {
    static time_t stamp = 1500000000;
    const struct timespec times[2] = {{++stamp, 0}, {stamp, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

} // namespace quillon::testing
