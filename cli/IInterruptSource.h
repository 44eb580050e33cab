#pragma once

#include "platform/ConsoleSignals.h"

namespace quillon {

// Where a device session learns that it should stop: the console's signals for a single
// device, or the station's own requests for each of several devices.
//
// Threads: Take belongs to the thread that runs the session.
class IInterruptSource {
public:
    virtual ~IInterruptSource() = default;
    // The request made since the last call, None for none. Does not wait.
    virtual ConsoleSignal Take() = 0;
};

} // namespace quillon
