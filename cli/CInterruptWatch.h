#pragma once

#include "cli/IInterruptSource.h"
#include "platform/ConsoleSignals.h"

#include <chrono>

namespace quillon {

// The console's signals (Ctrl-C, termination, hang-up) for a command that must wind the
// device down in order instead of dying mid-conversation; their usual effect comes back
// when the object goes.
//
// Threads: construct and destroy on the main thread, before and after every worker; Take
// and Signals belong to the main thread. One object at a time per process.
class CInterruptWatch : public IInterruptSource {
public:
    ConsoleSignal Take() override { return signals_.Take(); }
    // Waits up to `timeout` for a signal.
    ConsoleSignal Take(std::chrono::milliseconds timeout) { return signals_.Take(timeout); }
    // For waiting on a typed answer and the signals at once.
    const ConsoleSignals& Signals() const { return signals_; }

private:
    ConsoleSignals signals_;
};

} // namespace quillon
