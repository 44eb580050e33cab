#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

namespace quillon {

// What the console or the system asks of a running command.
enum class ConsoleSignal {
    None,
    Interrupt, // Ctrl-C (SIGINT): ask whether to close
    Terminate, // SIGTERM; Ctrl-Break, the console window closed, log-off, shut-down: abort
    HangUp     // SIGHUP: the terminal or the session has gone (Windows has none)
};

// Catches the console's signals for a command that must wind the device down in order
// instead of dying mid-conversation, and keeps them for the command to take between its
// other waits. Each signal's usual effect comes back when the object goes.
//
// On POSIX the handler only writes the signal into a pipe (the self-pipe idiom: nothing
// else is safe inside a handler). On Windows the console runs the handler on a thread of
// its own and ends the process as soon as it returns from a close, a log-off or a
// shut-down, so for those it holds on, a few seconds at most, until the object goes: by
// then the command has aborted the upload and let the device go.
//
// Threads: construct and destroy on the main thread, before and after every worker; the
// handler may run on any thread; Take belongs to one thread at a time (the command's).
// One object at a time per process.
class ConsoleSignals {
public:
    ConsoleSignals();
    ~ConsoleSignals();
    ConsoleSignals(const ConsoleSignals&) = delete;
    ConsoleSignals& operator=(const ConsoleSignals&) = delete;

    // The signal caught since the last call (the oldest of several); None when there is
    // none. Does not wait.
    ConsoleSignal Take();
    // The same, waiting up to `timeout` for one to come.
    ConsoleSignal Take(std::chrono::milliseconds timeout);

private:
    friend class TerminalInput;
    // Ready while a signal is pending (the pipe's read end, the event's handle); what
    // TerminalInput waits on beside standard input.
    std::intptr_t Waitable() const;

    struct State;
    std::unique_ptr<State> state_;
};

} // namespace quillon
