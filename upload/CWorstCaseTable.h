#pragma once

#include "package/CEncImageFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// The longest each phase of an upload can take with the given packages when the device
// answers every wait at its last moment (or not at all) and keeps every transfer within
// its send limit: computed from the engine's own bounds (ProtocolBounds.h, the reply and
// write bounds, the start-up watch), so a station's timeout can be sized from it. Rendered
// as the README's table, which a test compares with this computation.
//
// Threads: a value computed and read on one thread; it only reads the packages.
class CWorstCaseTable {
public:
    struct Row {
        std::string phase;
        double fastMs = 0; // the upload at 115200 baud (-1: not part of it)
        double slowMs = 0; // slow mode, 19200 baud throughout (-1: not part of it)
    };

    CWorstCaseTable(CEncImageFile& utility, CEncImageFile& firmware);

    const std::vector<Row>& Rows() const { return rows_; }
    // The Markdown table: phase, 115200 baud, 19200 baud; the last row the whole upload.
    std::string Markdown() const;

    // One send of a record of `bytes` at `baud`: the break before it, its line time, the
    // pause, the reply word with each byte at its timeout, and a completion reply (word and
    // text) of `completionTimeoutMs` when one is expected (0: none).
    static double SendMs(double bytes, std::uint32_t baud, std::uint32_t wordTimeoutMs,
                         std::uint32_t completionTimeoutMs);

private:
    // The longest single send among the module's records, times its send limit.
    double ModuleMs(CEncImageFile& package, int descriptor, std::uint32_t baud);
    // A module of this name (or one of its variants) with the longest worst case.
    double LongestModuleMs(const std::string& name, std::uint32_t baud);
    double RequestMs(std::uint16_t type, std::uint32_t baud);
    double SpeedSwitchMs(std::uint32_t requestBaud, std::uint32_t lineBaud);

    CEncImageFile& utility_;
    CEncImageFile& firmware_;
    std::vector<Row> rows_;
};

} // namespace quillon
