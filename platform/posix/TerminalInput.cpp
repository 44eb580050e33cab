#include "platform/TerminalInput.h"

#include "platform/ConsoleSignals.h"

#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace quillon {

namespace {

int FdOf(StandardStream stream) {
    switch (stream) {
    case StandardStream::Input:
        return STDIN_FILENO;
    case StandardStream::Output:
        return STDOUT_FILENO;
    case StandardStream::Error:
        return STDERR_FILENO;
    }
    return -1;
}

} // namespace

bool IsTerminal(StandardStream stream) {
    return ::isatty(FdOf(stream)) != 0;
}

std::size_t TerminalColumns(StandardStream stream) {
    winsize size{};
    if (::ioctl(FdOf(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

struct TerminalInput::State {};

TerminalInput::TerminalInput() = default;
TerminalInput::~TerminalInput() = default;

TerminalInput::Ready TerminalInput::Wait(const ConsoleSignals& console,
                                         std::chrono::milliseconds timeout) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {static_cast<int>(console.Waitable()), POLLIN, 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(timeout.count()));
    if (ready < 0 && errno != EINTR) {
        return Ready::Failed;
    }
    if (ready <= 0) {
        return Ready::TimedOut;
    }
    if ((fds[1].revents & POLLIN) != 0) {
        return Ready::Signal;
    }
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        return Ready::Input;
    }
    return Ready::TimedOut;
}

TerminalInput::Read TerminalInput::ReadInto(std::string& text) {
    char chunk[256];
    const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        return Read::Nothing;
    }
    if (got <= 0) {
        return Read::End;
    }
    text.append(chunk, static_cast<std::size_t>(got));
    return Read::Data;
}

} // namespace quillon
