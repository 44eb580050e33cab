#pragma once

#include "platform/ConsoleSignals.h"

#include <functional>
#include <string>

namespace quillon {

class CInterruptWatch;

// How a wait for a typed answer ended.
enum class AnswerWait {
    Line,       // a whole line arrived (in `line`, without its end)
    EndOfInput, // standard input closed: nobody will answer
    Signal,     // a signal came (in `signal`)
    Withdrawn,  // the question no longer matters
    Failed      // standard input cannot be waited for
};

// Waits for one line on standard input, for a signal caught by `watch`, or for
// stillWanted() to turn false, which is asked about ten times a second. What was typed before a
// signal stays in `line`, so a caller that goes on asking does not lose half an answer.
//
// Threads: called on the thread that asks; it reads standard input, nothing else does then.
AnswerWait WaitForAnswer(std::string& line, CInterruptWatch& watch, ConsoleSignal& signal,
                         const std::function<bool()>& stillWanted);

// "y" or "yes" in any case, blanks around it ignored.
bool IsYes(std::string answer);

} // namespace quillon
