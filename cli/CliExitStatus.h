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

// Several devices in one run end with the most serious of their statuses. First what may
// have left a device without working firmware (a failed, then an aborted upload), then
// what keeps the station itself from working (a port that hung up or cannot be opened,
// a damaged package), then devices that were not there, and last refusals, which leave
// the device as it was.
inline constexpr int kExitSeverityOrder[] = {kExitUploadFailed,  kExitAborted,        kExitPortLost,
                                             kExitPortNotOpened, kExitInvalidPackage, kExitNoDevice,
                                             kExitRefused,       kExitUsage,          kExitSuccess};

// The more serious of two statuses; -1 stands for none.
inline int MoreSerious(int a, int b) {
    if (a < 0 || b < 0) {
        return a < 0 ? b : a;
    }
    for (const int status : kExitSeverityOrder) {
        if (a == status || b == status) {
            return status;
        }
    }
    return a;
}

} // namespace quillon
