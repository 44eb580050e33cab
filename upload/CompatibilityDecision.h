#pragma once

#include <string>

namespace quillon {

class CUploadCore;

// Whether the embedded package may be uploaded to the detected device, and what to tell
// the user. Refusals keep Next disabled; a warning lets the user go on knowingly.
enum class CompatibilityOutcome { Refuse, Warn, Accept };

struct CompatibilityResult {
    CompatibilityOutcome outcome = CompatibilityOutcome::Refuse;
    std::string message; // empty on acceptance
    bool highlight = true;
    bool nextEnabled = false;
};

namespace texts {
inline constexpr const char* kBoardNotSuitable =
    "The supplied firmware image is not suitable for the connected device.\nCannot continue "
    "with the upload process.";
inline constexpr const char* kBootloaderTooOld =
    "The bootloader version in the connected device is of an older version than "
    "expected.\nCannot continue with the upload process.\nTo obtain a firmware update you "
    "will need to send the device back to Veldra.\n";
inline constexpr const char* kSameOrNewerFirmware =
    "The current firmware version in the connected device appears to  be the same as, or is "
    "newer than the version of the supplied firmware image.\n\nIf you still wish to upload "
    "this firmware, click Next. This will commence the upload process.\n";
inline constexpr const char* kFlashModuleNotSuitable =
    "The supplied Flash Programming module is not suitable for the connected device.\nCannot "
    "continue with the upload process.";
inline constexpr const char* kCrcModuleNotSuitable =
    "The supplied CRC Check module is not suitable for the connected device.\nCannot "
    "continue with the upload process.";
} // namespace texts

// Rebuilds the core's target board list, target board text and minimum bootloader version
// from its packages and device data, then applies the rules in their fixed order: the
// first that applies decides. Runs on the owner's thread; sends nothing to the device.
CompatibilityResult AssessCompatibility(CUploadCore& core);

} // namespace quillon
