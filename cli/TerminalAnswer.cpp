#include "cli/TerminalAnswer.h"

#include "cli/CInterruptWatch.h"
#include "platform/TerminalInput.h"

#include <algorithm>
#include <cctype>
#include <chrono>

namespace quillon {

AnswerWait WaitForAnswer(std::string& line, CInterruptWatch& watch, ConsoleSignal& signal,
                         const std::function<bool()>& stillWanted) {
    using namespace std::chrono_literals;
    signal = ConsoleSignal::None;
    TerminalInput input;
    for (;;) {
        if (const auto end = line.find('\n'); end != std::string::npos) {
            line.resize(end); // what was typed after it answers nothing
            return AnswerWait::Line;
        }
        if (!stillWanted()) {
            return AnswerWait::Withdrawn;
        }
        switch (input.Wait(watch.Signals(), 100ms)) {
        case TerminalInput::Ready::Failed:
            return AnswerWait::Failed;
        case TerminalInput::Ready::TimedOut:
            continue;
        case TerminalInput::Ready::Signal:
            signal = watch.Take();
            if (signal != ConsoleSignal::None) {
                return AnswerWait::Signal;
            }
            continue;
        case TerminalInput::Ready::Input:
            break;
        }
        if (input.ReadInto(line) == TerminalInput::Read::End) {
            return AnswerWait::EndOfInput;
        }
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
