#pragma once

#include <cstdint>

namespace quillon {

// The percentage the front ends show for a progress report (kMsgProgress, done and total):
// done x 100 / total, rounded down. The worker reports the record just sent counted from
// 0, so the last of 57 records shows 98, and 100 comes only with the report once the
// firmware has started (100 of 100): a full figure means the device runs the new firmware.
// 0 for a report without a total. The wizard's page and the command line both show this.
constexpr unsigned UploadPercent(std::uint32_t done, std::uint32_t total) {
    if (total == 0) {
        return 0;
    }
    return static_cast<unsigned>(static_cast<std::uint64_t>(done) * 100u / total);
}

} // namespace quillon
