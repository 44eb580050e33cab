#include "platform/PseudoTerminal.h"

#include "platform/LineSpeed.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;

int MakeRaw(int fd) {
    struct termios tio {};
    if (tcgetattr(fd, &tio) != 0) {
        return errno;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0 ? 0 : errno;
}

int RemainingMs(int timeoutMs, Clock::time_point deadline) {
    if (timeoutMs < 0) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

} // namespace

PseudoTerminal::~PseudoTerminal() {
    Close();
}

int PseudoTerminal::Open() {
    if (IsOpen()) {
        return EBUSY;
    }
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        return errno;
    }
    char name[PATH_MAX] = {};
    int error = 0;
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0 ||
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
        error = errno;
    } else {
        error = MakeRaw(master);
    }
    if (error != 0) {
        ::close(master);
        return error;
    }
    // Our own slave descriptor: without it the master reports POLLHUP whenever the program
    // under test has the port closed, and a reader of the master would spin.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        error = errno;
        ::close(master);
        return error;
    }
    if ((error = MakeRaw(slave)) != 0) {
        ::close(slave);
        ::close(master);
        return error;
    }
    master_ = master;
    slave_ = slave;
    slavePath_ = name;
    return 0;
}

int PseudoTerminal::CreateLink(const std::string& linkPath) {
    if (!IsOpen()) {
        return EBADF;
    }
    struct stat st {};
    if (lstat(linkPath.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            return EEXIST; // never replace a real file
        }
        ::unlink(linkPath.c_str());
    }
    if (symlink(slavePath_.c_str(), linkPath.c_str()) != 0) {
        return errno;
    }
    if (!linkPath_.empty() && linkPath_ != linkPath) {
        ::unlink(linkPath_.c_str());
    }
    linkPath_ = linkPath;
    return 0;
}

ssize_t PseudoTerminal::Read(void* buffer, std::size_t size, int timeoutMs) {
    if (!IsOpen()) {
        return -1;
    }
    if (size == 0) {
        return 0;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        const ssize_t n = ::read(master_, buffer, size);
        if (n > 0) {
            return n;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || errno != EAGAIN) {
            return -1;
        }
        const int waitMs = RemainingMs(timeoutMs, deadline);
        if (timeoutMs >= 0 && waitMs == 0) {
            return 0;
        }
        struct pollfd pfd {
            master_, POLLIN, 0
        };
        const int ready = ::poll(&pfd, 1, waitMs);
        if (ready < 0 && errno != EINTR) {
            return -1;
        }
        if (ready == 0) {
            return 0;
        }
    }
}

std::size_t PseudoTerminal::ReadExactly(void* buffer, std::size_t size, int timeoutMs) {
    auto* out = static_cast<unsigned char*>(buffer);
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::size_t done = 0;
    while (done < size) {
        const int waitMs = RemainingMs(timeoutMs, deadline);
        const ssize_t n = Read(out + done, size - done, waitMs);
        if (n <= 0) {
            if (n < 0 || (timeoutMs >= 0 && RemainingMs(timeoutMs, deadline) == 0)) {
                break;
            }
            continue;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

ssize_t PseudoTerminal::Write(const void* data, std::size_t size, int timeoutMs) {
    if (!IsOpen()) {
        return -1;
    }
    const auto* in = static_cast<const unsigned char*>(data);
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(master_, in + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            return done > 0 ? static_cast<ssize_t>(done) : -1;
        }
        const int waitMs = RemainingMs(timeoutMs, deadline);
        if (timeoutMs >= 0 && waitMs == 0) {
            break;
        }
        struct pollfd pfd {
            master_, POLLOUT, 0
        };
        if (::poll(&pfd, 1, waitMs) < 0 && errno != EINTR) {
            break;
        }
    }
    return static_cast<ssize_t>(done);
}

std::uint32_t PseudoTerminal::SlaveBaudRate() const {
    std::uint32_t baud = 0;
    if (slave_ < 0 || GetLineSpeed(slave_, baud) != 0) {
        return 0;
    }
    return baud;
}

std::uint32_t PseudoTerminal::PendingFromSlave() const {
    int n = 0;
    if (master_ < 0 || ::ioctl(master_, FIONREAD, &n) != 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(std::max(n, 0));
}

int PseudoTerminal::HoldSlaveOutput(bool hold) {
    if (slave_ < 0) {
        return EBADF;
    }
    // The stop lives in the slave's terminal, shared by every descriptor of it, so the
    // own descriptor can stop what the program under test writes through its own.
    return ::tcflow(slave_, hold ? TCOOFF : TCOON) == 0 ? 0 : errno;
}

void PseudoTerminal::HangUp() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
}

void PseudoTerminal::Close() {
    HangUp();
    if (!linkPath_.empty()) {
        ::unlink(linkPath_.c_str());
        linkPath_.clear();
    }
    slavePath_.clear();
}

} // namespace quillon
