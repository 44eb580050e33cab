#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quillon {

// The packages a soak run uploads: the embedded ones, made quick to exercise without
// touching a single payload byte. The firmware image keeps only its first data records
// (its module descriptor says so), every reply timeout above `replyTimeoutMs` is lowered
// to it, and the image's description gains a TIME entry so that a missing start-up
// message costs `startupTimeoutMs` per byte instead of ten seconds. The engine reads these
// exactly as it reads the real ones.
struct SoakPackages {
    std::vector<std::uint8_t> utility;
    std::vector<std::uint8_t> image;
    int imageRecords = 0;
    std::uint32_t replyTimeoutMs = 0;
    std::uint32_t startupTimeoutMs = 0;
};

// Returns empty packages when the embedded ones do not have the expected shape (a module
// descriptor first in the image, room in it for one more entry).
SoakPackages MakeSoakPackages(std::span<const std::uint8_t> utility,
                              std::span<const std::uint8_t> image, int imageRecords,
                              std::uint32_t replyTimeoutMs, std::uint32_t startupTimeoutMs);

} // namespace quillon
