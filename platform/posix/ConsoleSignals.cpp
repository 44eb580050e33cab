#include "platform/ConsoleSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace quillon {

namespace {

// The handler's only way out; -1 while no object is installed.
std::atomic<int> g_signalPipe{-1};

void Handle(int signal) {
    const int savedErrno = errno;
    const int fd = g_signalPipe.load();
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(signal);
        // A full pipe already holds more signals than anyone will look at.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

struct ConsoleSignals::State {
    int readFd = -1;
    int writeFd = -1;
    struct sigaction previousInt {};
    struct sigaction previousTerm {};
    struct sigaction previousHup {};
};

ConsoleSignals::ConsoleSignals() : state_(std::make_unique<State>()) {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return; // signals then keep their usual effect
    }
    state_->readFd = fds[0];
    state_->writeFd = fds[1];
    g_signalPipe.store(state_->writeFd);

    struct sigaction action {};
    action.sa_handler = &Handle;
    sigemptyset(&action.sa_mask);
    // Restarting keeps interrupted reads and waits in library code from failing with EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &state_->previousInt);
    sigaction(SIGTERM, &action, &state_->previousTerm);
    sigaction(SIGHUP, &action, &state_->previousHup);
}

ConsoleSignals::~ConsoleSignals() {
    if (state_->readFd < 0) {
        return;
    }
    sigaction(SIGINT, &state_->previousInt, nullptr);
    sigaction(SIGTERM, &state_->previousTerm, nullptr);
    sigaction(SIGHUP, &state_->previousHup, nullptr);
    g_signalPipe.store(-1);
    ::close(state_->readFd);
    ::close(state_->writeFd);
}

ConsoleSignal ConsoleSignals::Take() {
    unsigned char byte = 0;
    if (state_->readFd < 0 || ::read(state_->readFd, &byte, 1) != 1) {
        return ConsoleSignal::None;
    }
    switch (byte) {
    case SIGINT:
        return ConsoleSignal::Interrupt;
    case SIGTERM:
        return ConsoleSignal::Terminate;
    case SIGHUP:
        return ConsoleSignal::HangUp;
    default:
        return ConsoleSignal::None;
    }
}

ConsoleSignal ConsoleSignals::Take(std::chrono::milliseconds timeout) {
    // Without a pipe poll only sleeps: the caller's loop keeps its pace.
    pollfd fd{state_->readFd, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(timeout.count())) > 0) {
        return Take();
    }
    return ConsoleSignal::None;
}

std::intptr_t ConsoleSignals::Waitable() const {
    return state_->readFd;
}

} // namespace quillon
