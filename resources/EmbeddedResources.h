#pragma once

#include <cstdint>
#include <span>

namespace quillon {

// The two packages the program carries, read in place from its resources (stored
// uncompressed, never copied). The spans stay valid for the life of the program.
//
// Threads: any thread; the resources are registered once, on first use.
class EmbeddedResources {
public:
    // The firmware image; empty when the program was built without one.
    static std::span<const std::uint8_t> FirmwareImage();
    // The utility package ("Utility.bin"); empty when the program was built without one.
    static std::span<const std::uint8_t> UtilityPackage();
};

} // namespace quillon
