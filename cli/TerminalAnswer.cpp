#include "cli/TerminalAnswer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace quillon {

AnswerWait WaitForAnswer(std::string& line, int signalFd, const std::function<int()>& takeSignal,
                         int& signal, const std::function<bool()>& stillWanted) {
    signal = 0;
    for (;;) {
        if (const auto end = line.find('\n'); end != std::string::npos) {
            line.resize(end); // what was typed after it answers nothing
            return AnswerWait::Line;
        }
        if (!stillWanted()) {
            return AnswerWait::Withdrawn;
        }
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {signalFd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, 100);
        if (ready < 0 && errno != EINTR) {
            return AnswerWait::Failed;
        }
        if (ready <= 0) {
            continue;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            signal = takeSignal();
            if (signal != 0) {
                return AnswerWait::Signal;
            }
        }
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            continue;
        }
        char chunk[256];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got <= 0) {
            return AnswerWait::EndOfInput;
        }
        line.append(chunk, static_cast<std::size_t>(got));
    }
}

bool IsYes(std::string answer) {
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    answer.erase(answer.begin(), std::find_if_not(answer.begin(), answer.end(), blank));
    answer.erase(std::find_if_not(answer.rbegin(), answer.rend(), blank).base(), answer.end());
    std::transform(answer.begin(), answer.end(), answer.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return answer == "y" || answer == "yes";
}

} // namespace quillon
