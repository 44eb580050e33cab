#pragma once

#include "link/CFWUplSerialEx.h"
#include "package/CEncImageFile.h"
#include "upload/ProtocolBounds.h"
#include "upload/ReplyParsing.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// The longest a whole detection and upload may take when every wait the protocol allows
// runs out, computed from the engine's retry counts and timeouts and the records the run
// would send. A run that takes longer than this hangs somewhere the protocol has no wait.
//
// Worst case per send of a record of P bytes: the break before a resend, the line time of
// P bytes, the pause before the reply, and one reply timeout (the reply word's 1000 ms, or
// the record's own reply timeout when longer: a device that answers at all answers at
// once, so a send ends in at most one wait that runs out). Each record of a module gets
// 3 attempts of 8 sends. Line times are taken at 19200 baud throughout, since a failed
// switch leaves the line slow.
struct SoakTimeBound {
    // The engine's constants (upload/ProtocolBounds.h).
    static constexpr int kSendsPerRecord = bounds::kSendsPerRecord;
    static constexpr int kAttemptsPerModuleRecord = bounds::kAttemptsPerModuleRecord;
    static constexpr double kBreakMs = bounds::kBreakMs;
    static constexpr double kReplyPauseMs = bounds::kReplyPauseMs;
    static constexpr double kReplyWordTimeoutMs = bounds::kReplyWordTimeoutMs;
    static constexpr double kInfoReplyTimeoutMs = bounds::kInfoReplyTimeoutMs;
    static constexpr int kActivationAttemptsAfterSwitch = bounds::kActivationAttemptsAfterSwitch;
    static constexpr double kSlowBaud = bounds::kSlowBaud;
    static constexpr double kActivationBlockBytes = 32;
    // The bounds the engine puts on one reply (lines and bytes together) and on one
    // write (its line time plus this margin). A babbling reply costs at most its byte bound
    // on the line; a write into a line that takes nothing, the margin.
    static constexpr double kReplyMaxBytes = static_cast<double>(kMaxReplyBytes);
    static constexpr double kWriteMarginMs = CFWUplSerialEx::kWriteMarginMs;
    // What a loaded machine adds to every send (thread wake-ups, the simulator's turn).
    static constexpr double kSchedulingSlackMs = 25;
    // Starting the simulator, opening and closing the port, joining the threads.
    static constexpr double kSetupMs = 1500;

    struct Phase {
        std::string name;
        double milliseconds = 0;
    };
    std::vector<Phase> phases;

    double TotalMs() const;
    std::string Describe() const;

    static double LineMs(double bytes, double baud) { return bytes * 10.0 * 1000.0 / baud; }
    static double SendMs(double bytes, double timeoutMs);
    static double ActivationMs(int attempts);
    // All sends of one record through ExchangeRecord.
    static double ExchangeMs(CEncImageFile& package, int record);
    // RunModule over the module whose descriptor is `descriptor`, with `extraPasses`
    // records sent again because the device redirected backwards.
    static double ModuleMs(CEncImageFile& package, int descriptor, int extraPasses = 0);
};

} // namespace quillon
