#pragma once

#include "cli/IInterruptSource.h"

#include <csignal>

namespace quillon {

// Catches SIGINT, SIGTERM and SIGHUP for a command that must wind the device down in
// order instead of dying mid-conversation. The handler only writes the signal's number
// into a pipe (the self-pipe idiom: nothing else is safe inside a handler); the command
// looks at the pipe between its other waits. The previous handlers come back when the
// object goes.
//
// Threads: construct and destroy on the main thread, before and after every worker; the
// handler may run on any thread; Take and Fd belong to the main thread. One object at a
// time per process.
class CInterruptWatch : public IInterruptSource {
public:
    CInterruptWatch();
    ~CInterruptWatch() override;
    CInterruptWatch(const CInterruptWatch&) = delete;
    CInterruptWatch& operator=(const CInterruptWatch&) = delete;

    // The signal caught since the last call (the oldest of several), 0 for none. Does not
    // wait.
    int Take() override;
    // Readable while a signal is pending; for poll().
    int Fd() const override { return readFd_; }

private:
    static void Handle(int signal);

    int readFd_ = -1;
    int writeFd_ = -1;
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
    struct sigaction previousHup_ {};
};

} // namespace quillon
