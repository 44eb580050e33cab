#pragma once

namespace quillon {

// Where a device session learns that it should stop: the process's signals for a single
// device, or the station's own requests for each of several devices.
//
// Threads: Take and Fd belong to the thread that runs the session.
class IInterruptSource {
public:
    virtual ~IInterruptSource() = default;
    // The request (a signal number) made since the last call, 0 for none. Does not wait.
    virtual int Take() = 0;
    // Readable while a request is pending; for poll().
    virtual int Fd() const = 0;
};

} // namespace quillon
