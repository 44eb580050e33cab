#pragma once

#include "cli/IInterruptSource.h"

namespace quillon {

// The requests the station makes of one port's device session, delivered the way a
// signal reaches a single session: a number in a pipe that the session looks at between
// its waits.
//
// Threads: Post from any thread; Take and Fd belong to the port's thread.
class CPortSignals : public IInterruptSource {
public:
    CPortSignals();
    ~CPortSignals() override;
    CPortSignals(const CPortSignals&) = delete;
    CPortSignals& operator=(const CPortSignals&) = delete;

    void Post(int signal);
    int Take() override;
    int Fd() const override { return readFd_; }

private:
    int readFd_ = -1;
    int writeFd_ = -1;
};

} // namespace quillon
