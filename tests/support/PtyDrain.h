#pragma once

#include "platform/PseudoTerminal.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace quillon::testing {

// Reads everything the program under test writes to the slave side of a pseudo-terminal,
// on a thread of its own, so that writes never stall on a full queue; the bytes are kept
// for inspection.
//
// Threads: the drain thread reads the master and appends; any thread may call the getters.
// The pseudo-terminal must outlive the drain and must not be hung up while it runs.
class PtyDrain {
public:
    explicit PtyDrain(PseudoTerminal& pty);
    ~PtyDrain();
    PtyDrain(const PtyDrain&) = delete;
    PtyDrain& operator=(const PtyDrain&) = delete;

    std::size_t Count();
    std::vector<std::uint8_t> Bytes();
    void Clear();
    // True when at least count bytes have arrived within timeout.
    bool WaitForCount(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void Stop();

private:
    void Run(std::stop_token stop);

    PseudoTerminal& pty_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::uint8_t> bytes_;
    std::jthread thread_;
};

} // namespace quillon::testing
