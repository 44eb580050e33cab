#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace quillon {

class ConsoleSignals;

enum class StandardStream { Input, Output, Error };

// Whether the stream is a terminal (a console window on Windows) a person looks at.
bool IsTerminal(StandardStream stream);
// The width of the terminal behind an output stream in columns; 80 when unknown.
std::size_t TerminalColumns(StandardStream stream);

// Standard input read for the answer to a question, together with the console's signals,
// so that a Ctrl-C while asked is noticed at once. On POSIX a poll on both; on Windows a
// reader thread of the object's own takes what is typed or piped in, because a console
// in line mode blocks a read until the line is whole.
//
// Threads: one object at a time per process, owned by the thread that asks, which alone
// calls Wait and Read; on Windows the reader thread is started and joined by the object.
class TerminalInput {
public:
    enum class Ready {
        Input,    // something to read, or the input has ended
        Signal,   // a signal is pending (not taken)
        TimedOut, // neither within the time
        Failed    // standard input cannot be waited for
    };
    enum class Read {
        Data,    // appended
        Nothing, // nothing after all; wait again
        End      // standard input is closed: nobody will answer
    };

    TerminalInput();
    ~TerminalInput();
    TerminalInput(const TerminalInput&) = delete;
    TerminalInput& operator=(const TerminalInput&) = delete;

    Ready Wait(const ConsoleSignals& console, std::chrono::milliseconds timeout);
    // Appends to `text` what has come in; does not wait.
    Read ReadInto(std::string& text);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace quillon
