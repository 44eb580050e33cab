#include "cli/CInterruptWatch.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace quillon {

namespace {

// The handler's only way out; -1 while no watch is installed.
std::atomic<int> g_signalPipe{-1};

} // namespace

CInterruptWatch::CInterruptWatch() {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return; // signals then keep their usual effect
    }
    readFd_ = fds[0];
    writeFd_ = fds[1];
    g_signalPipe.store(writeFd_);

    struct sigaction action {};
    action.sa_handler = &CInterruptWatch::Handle;
    sigemptyset(&action.sa_mask);
    // Restarting keeps interrupted reads and waits in library code from failing with EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInt_);
    sigaction(SIGTERM, &action, &previousTerm_);
    sigaction(SIGHUP, &action, &previousHup_);
}

CInterruptWatch::~CInterruptWatch() {
    if (readFd_ < 0) {
        return;
    }
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
    sigaction(SIGHUP, &previousHup_, nullptr);
    g_signalPipe.store(-1);
    ::close(readFd_);
    ::close(writeFd_);
}

void CInterruptWatch::Handle(int signal) {
    const int savedErrno = errno;
    const int fd = g_signalPipe.load();
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(signal);
        // A full pipe already holds more interrupts than anyone will look at.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

int CInterruptWatch::Take() {
    if (readFd_ < 0) {
        return 0;
    }
    unsigned char byte = 0;
    if (::read(readFd_, &byte, 1) == 1) {
        return byte;
    }
    return 0;
}

} // namespace quillon
