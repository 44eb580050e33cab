#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace quillon::testing {

// A program run the way a user or a script runs it: its own process, its own environment
// and folder, and either no terminal at all (standard input from /dev/null, output caught
// in pipes) or a pseudo-terminal as its controlling terminal (what is typed goes to its
// standard input, Ctrl-C reaches it as SIGINT, everything it prints comes back).
//
// Threads: the reader thread collects the output; the owner's thread starts, signals,
// types and waits. Getters may be called from either.
class ChildProcess {
public:
    struct Options {
        std::map<std::string, std::string> environment; // set or replaced
        std::string workingDirectory;                   // empty: the test's own
        bool terminal = false;
    };

    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const Options& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    void Signal(int signal) const;
    // Types on the terminal (terminal mode only).
    void Type(const std::string& text) const;

    // Standard output (with a terminal: everything the terminal showed).
    std::string Out();
    std::string Err();
    // True once the output (or the error output) holds `text`.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout,
                       bool errorOutput = false);
    // The exit status (a signal that ended it as 128 + its number); nothing when it had
    // not ended in time, in which case it is killed.
    std::optional<int> Wait(std::chrono::milliseconds timeout);

private:
    void Read();

    pid_t pid_ = -1;
    int outFd_ = -1; // pipe or terminal master
    int errFd_ = -1; // pipe; -1 with a terminal
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_;
    std::string err_;
    std::optional<int> status_;
    std::thread reader_;
};

} // namespace quillon::testing
