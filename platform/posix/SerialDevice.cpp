#include "platform/SerialDevice.h"

#include "platform/LineSpeed.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace quillon {

// Nothing beyond the members every system shares.
struct SerialDevice::Native {};

namespace {

using Clock = std::chrono::steady_clock;

// While received bytes sit unread after being reported, the port stays readable and poll
// cannot wait for "more": the wait then looks again at this interval instead.
constexpr int kStaleDataRecheckMs = 5;

int RemainingMs(int timeoutMs, Clock::time_point deadline) {
    if (timeoutMs < 0) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

void DrainEventFd(int fd) {
    eventfd_t value = 0;
    while (eventfd_read(fd, &value) == 0) {
    }
}

} // namespace

SerialDevice::SerialDevice()
    : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      cancelFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
}

SerialDevice::~SerialDevice() {
    Close();
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
    if (cancelFd_ >= 0) {
        ::close(cancelFd_);
    }
}

int SerialDevice::Open(const std::string& path) {
    if (IsOpen()) {
        return EBUSY;
    }
    if (wakeFd_ < 0 || cancelFd_ < 0) {
        return EMFILE;
    }
    if (path.empty() || path.find('\0') != std::string::npos) {
        return ENOENT;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    const auto fail = [fd](int error) {
        ::close(fd);
        return error;
    };
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return fail(errno);
    }
    if (!S_ISCHR(st.st_mode) || isatty(fd) == 0) {
        return fail(ENOTTY);
    }
    // TIOCEXCL keeps other users out but not root; the advisory lock covers every
    // cooperating process, root included.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        return fail(error == EWOULDBLOCK ? EBUSY : error);
    }
    ::ioctl(fd, TIOCEXCL);

    struct termios tio {};
    if (tcgetattr(fd, &tio) != 0) {
        const int error = errno;
        ::ioctl(fd, TIOCNXCL);
        return fail(error);
    }
    const speed_t ispeed = cfgetispeed(&tio);
    const speed_t ospeed = cfgetospeed(&tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, ispeed);
    cfsetospeed(&tio, ospeed);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK | IGNBRK |
                                          BRKINT | ISTRIP);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    // VMIN 1 makes an empty non-blocking read fail with EAGAIN, so that a read of 0 bytes
    // can only mean a hang-up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        const int error = errno;
        ::ioctl(fd, TIOCNXCL);
        return fail(error);
    }

    DrainEventFd(wakeFd_);
    hungUp_.store(false);
    hangUpReported_.store(false);
    reportedGeneration_ = queueGeneration_.load();
    reportedQueue_ = 0;
    {
        std::lock_guard lock(stateMutex_);
        shadow_ = DCB{};
        pendingErrors_ = 0;
        pendingBreaks_ = 0;
        struct serial_icounter_struct icount {};
        haveCounters_ = ::ioctl(fd, TIOCGICOUNT, &icount) == 0;
        counts_ =
            Counts{icount.frame, icount.overrun, icount.parity, icount.brk, icount.buf_overrun};
    }
    fd_.store(fd, std::memory_order_release);
    return 0;
}

void SerialDevice::Close() {
    if (!IsOpen()) {
        return;
    }
    // A write held up by the driver is woken and waited out, so the descriptor is never
    // closed (and its number reused) under it.
    const int fd = static_cast<int>(TakeHandleForClose());
    if (fd < 0) {
        return;
    }
    // The exclusive flag belongs to the terminal, not to this descriptor: clear it, or the
    // port stays closed to everyone while any other descriptor keeps the terminal alive.
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    hungUp_.store(false);
}

int SerialDevice::GetState(DCB& dcb) const {
    // The settings are the ones last applied: some drivers take a field without keeping it
    // (a pseudo-terminal always carries 8-bit bytes without parity). The speed comes from the
    // driver, which may have rounded it.
    std::uint32_t baud = 0;
    if (const int error = GetLineSpeed(Fd(), baud); error != 0) {
        return error;
    }
    std::lock_guard lock(stateMutex_);
    dcb = shadow_;
    dcb.BaudRate = baud;
    return 0;
}

int SerialDevice::SetState(const DCB& dcb) {
    const int fd = Fd();
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > kParitySpace ||
        dcb.StopBits > kStopBitsTwo || dcb.BaudRate == 0) {
        return EINVAL;
    }
    struct termios tio {};
    if (tcgetattr(fd, &tio) != 0) {
        return errno;
    }
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= kSizes[dcb.ByteSize - 5];
    switch (dcb.Parity) {
    case kParityOdd:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case kParityEven:
        tio.c_cflag |= PARENB;
        break;
    case kParityMark:
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case kParitySpace:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    if (dcb.StopBits != kStopBitsOne) {
        tio.c_cflag |= CSTOPB; // one and a half is sent as two
    }
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF);
    if (dcb.fParity && dcb.Parity != kParityNone) {
        tio.c_iflag |= INPCK;
    }
    if (dcb.fOutX) {
        tio.c_iflag |= IXON;
    }
    if (dcb.fInX) {
        tio.c_iflag |= IXOFF;
    }
    // Termios has one hardware flow control (RTS/CTS); DSR/DTR flow is kept as set.
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        tio.c_cflag |= CRTSCTS;
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        return errno;
    }
    std::uint32_t current = 0;
    if (GetLineSpeed(fd, current) != 0 || current != dcb.BaudRate) {
        if (const int error = SetLineSpeed(fd, dcb.BaudRate); error != 0) {
            return error;
        }
    }
    ApplyModemControl(dcb);
    std::lock_guard lock(stateMutex_);
    shadow_ = dcb;
    return 0;
}

int SerialDevice::ApplyModemControl(const DCB& dcb) {
    // Lines a device does not have (pseudo-terminals) are not an error.
    const int fd = Fd();
    int raise = 0;
    int lower = 0;
    if (dcb.fDtrControl == DTR_CONTROL_DISABLE) {
        lower |= TIOCM_DTR;
    } else if (dcb.fDtrControl == DTR_CONTROL_ENABLE) {
        raise |= TIOCM_DTR;
    }
    if (dcb.fRtsControl == RTS_CONTROL_DISABLE) {
        lower |= TIOCM_RTS;
    } else if (dcb.fRtsControl == RTS_CONTROL_ENABLE) {
        raise |= TIOCM_RTS;
    }
    if (lower != 0) {
        ::ioctl(fd, TIOCMBIC, &lower);
    }
    if (raise != 0) {
        ::ioctl(fd, TIOCMBIS, &raise);
    }
    return 0;
}

int SerialDevice::BytesWaiting(std::uint32_t& count) const {
    int n = 0;
    if (::ioctl(Fd(), FIONREAD, &n) != 0) {
        count = 0;
        return errno;
    }
    count = static_cast<std::uint32_t>(std::max(n, 0));
    return 0;
}

int SerialDevice::BytesUnsent(std::uint32_t& count) const {
    int n = 0;
    if (::ioctl(Fd(), TIOCOUTQ, &n) != 0) {
        count = 0;
        return errno;
    }
    count = static_cast<std::uint32_t>(std::max(n, 0));
    return 0;
}

int SerialDevice::Purge(bool receive, bool transmit) {
    if (!receive && !transmit) {
        return 0;
    }
    const int which = receive && transmit ? TCIOFLUSH : (receive ? TCIFLUSH : TCOFLUSH);
    const int result = tcflush(Fd(), which) == 0 ? 0 : errno;
    if (receive) {
        queueGeneration_.fetch_add(1, std::memory_order_acq_rel);
    }
    return result;
}

int SerialDevice::SetBreak(bool on) {
    return ::ioctl(Fd(), on ? TIOCSBRK : TIOCCBRK) == 0 ? 0 : errno;
}

int SerialDevice::ModemStatus(std::uint32_t& bits) const {
    bits = 0;
    int lines = 0;
    if (::ioctl(Fd(), TIOCMGET, &lines) != 0) {
        const int error = errno;
        return error == ENOTTY || error == EINVAL ? 0 : error;
    }
    if ((lines & TIOCM_CTS) != 0) {
        bits |= MS_CTS_ON;
    }
    if ((lines & TIOCM_DSR) != 0) {
        bits |= MS_DSR_ON;
    }
    if ((lines & TIOCM_RNG) != 0) {
        bits |= MS_RING_ON;
    }
    if ((lines & TIOCM_CAR) != 0) {
        bits |= MS_RLSD_ON;
    }
    return 0;
}

std::uint32_t SerialDevice::PollCounters() {
    // Caller holds stateMutex_.
    if (!haveCounters_) {
        return 0;
    }
    struct serial_icounter_struct icount {};
    if (::ioctl(Fd(), TIOCGICOUNT, &icount) != 0) {
        return 0;
    }
    std::uint32_t bits = 0;
    if (icount.frame != counts_.frame) {
        bits |= CE_FRAME;
    }
    if (icount.overrun != counts_.overrun) {
        bits |= CE_OVERRUN;
    }
    if (icount.parity != counts_.parity) {
        bits |= CE_RXPARITY;
    }
    if (icount.buf_overrun != counts_.bufOverrun) {
        bits |= CE_RXOVER;
    }
    if (icount.brk != counts_.brk) {
        bits |= CE_BREAK;
        pendingBreaks_ += static_cast<std::uint32_t>(icount.brk - counts_.brk);
    }
    counts_ = Counts{icount.frame, icount.overrun, icount.parity, icount.brk, icount.buf_overrun};
    pendingErrors_ |= bits;
    return bits;
}

int SerialDevice::Read(void* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    if (HungUp()) {
        return EIO;
    }
    if (size == 0) {
        return 0;
    }
    for (;;) {
        const ssize_t n = ::read(Fd(), buffer, size);
        if (n > 0) {
            got = static_cast<std::size_t>(n);
            queueGeneration_.fetch_add(1, std::memory_order_acq_rel);
            return 0;
        }
        if (n == 0) {
            // End of file on a terminal with VMIN 1: the other end is gone.
            NoteHangUp();
            return EIO;
        }
        const int error = errno;
        if (error == EINTR) {
            continue;
        }
        if (error == EAGAIN) {
            return 0;
        }
        if (error == EIO) {
            NoteHangUp();
        }
        return error;
    }
}

void SerialDevice::UpdateWriteCancel() {
    if (cancelFd_ < 0) {
        return;
    }
    if (writesInterrupted_ || closing_) {
        eventfd_write(cancelFd_, 1);
    } else {
        DrainEventFd(cancelFd_);
    }
}

int SerialDevice::Write(const void* data, std::size_t size, std::size_t& put) {
    put = 0;
    if (HungUp()) {
        return EIO;
    }
    if (size == 0) {
        return 0;
    }
    const WriteScope scope(*this);
    if (!scope.Entered()) {
        return ECANCELED;
    }
    if (!IsOpen()) {
        return EBADF; // closed before this call began: nothing to wait for
    }
    for (;;) {
        const ssize_t n = ::write(Fd(), data, size);
        if (n >= 0) {
            put = static_cast<std::size_t>(n);
            return 0;
        }
        const int error = errno;
        if (error == EINTR) {
            continue;
        }
        if (error == EAGAIN) {
            return 0;
        }
        if (error == EIO) {
            NoteHangUp();
        }
        return error;
    }
}

namespace {

// Polls one descriptor for the given events; 0 when ready, ETIMEDOUT, EIO on hang-up.
int PollOne(int fd, short events, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        struct pollfd pfd {
            fd, events, 0
        };
        const int n = ::poll(&pfd, 1, RemainingMs(timeoutMs, deadline));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return ETIMEDOUT;
        }
        if ((pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            return EIO;
        }
        return 0;
    }
}

} // namespace

int SerialDevice::WaitReadable(int timeoutMs) {
    if (HungUp()) {
        return EIO;
    }
    const int result = PollOne(Fd(), POLLIN, timeoutMs);
    if (result == EIO) {
        NoteHangUp();
    }
    return result;
}

int SerialDevice::WaitWritable(int timeoutMs) {
    if (HungUp()) {
        return EIO;
    }
    const WriteScope scope(*this);
    if (!scope.Entered()) {
        return ECANCELED;
    }
    if (!IsOpen()) {
        return EBADF; // closed before this call began: nothing to wait for
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        struct pollfd fds[2] = {{Fd(), POLLOUT, 0}, {static_cast<int>(cancelFd_), POLLIN, 0}};
        const int n = ::poll(fds, 2, RemainingMs(timeoutMs, deadline));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return ECANCELED;
        }
        if (n == 0) {
            return ETIMEDOUT;
        }
        if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            NoteHangUp();
            return EIO;
        }
        return 0;
    }
}

void SerialDevice::Wake() {
    wakeSequence_.fetch_add(1, std::memory_order_seq_cst);
    if (wakeFd_ >= 0) {
        eventfd_write(wakeFd_, 1);
    }
}

int SerialDevice::WaitEvent(std::uint32_t mask, int timeoutMs, std::uint32_t& events,
                            std::uint64_t wakeSequence) {
    events = 0;
    const int fd = Fd();
    if (fd < 0) {
        return EBADF;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    const bool watchInput = (mask & (EV_RXCHAR | EV_RXFLAG | EV_BREAK | EV_ERR)) != 0;
    for (;;) {
        // A wake-up since the caller looked ends the wait; older ones are stale.
        if (wakeSequence_.load(std::memory_order_seq_cst) != wakeSequence) {
            return 0;
        }
        if (HungUp()) {
            if ((mask & EV_ERR) != 0 && !hangUpReported_.exchange(true)) {
                events = EV_ERR;
                return 0;
            }
            // Nothing more will come from the port: sleep until woken.
            const int result = PollOne(wakeFd_, POLLIN, RemainingMs(timeoutMs, deadline));
            if (result != 0) {
                return result;
            }
            DrainEventFd(wakeFd_);
            continue;
        }

        bool staleInput = false;
        int queueError = 0;
        const std::uint32_t found = PendingEvents(mask, staleInput, queueError);
        if (found != 0) {
            events = found;
            return 0;
        }

        int waitMs = RemainingMs(timeoutMs, deadline);
        if (timeoutMs >= 0 && waitMs == 0) {
            return ETIMEDOUT;
        }
        if (staleInput) {
            waitMs = waitMs < 0 ? kStaleDataRecheckMs : std::min(waitMs, kStaleDataRecheckMs);
        }
        struct pollfd fds[2] = {
            {fd, static_cast<short>(watchInput && !staleInput ? POLLIN : 0), 0},
            {static_cast<int>(wakeFd_), POLLIN, 0},
        };
        const int n = ::poll(fds, 2, waitMs);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            DrainEventFd(wakeFd_);
            continue;
        }
        if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            NoteHangUp();
        }
        // Input, a hang-up or a recheck interval: look again.
    }
}

} // namespace quillon
