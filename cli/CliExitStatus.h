#pragma once

namespace quillon {

// Exit statuses of the device commands of quillon-cli (detect, upload). Scripts rely on
// them: keep the numbers.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitUsage = 1;          // bad command line
inline constexpr int kExitPortNotOpened = 2;  // the serial port could not be opened
inline constexpr int kExitNoDevice = 3;       // no device answered within --wait
inline constexpr int kExitRefused = 4;        // the compatibility decision did not allow it
inline constexpr int kExitUploadFailed = 5;   // the upload ended without the success status
inline constexpr int kExitAborted = 6;        // interrupted by the user
inline constexpr int kExitInvalidPackage = 7; // a package is damaged or has no activation blocks
inline constexpr int kExitPortLost = 8;       // the port hung up before the upload began

} // namespace quillon
