#pragma once

#include <string>

// What the firmware transfer reports. The upload page (and the command-line front end)
// show these exactly as they stand; they live as long as the program, so a message may
// carry their address across threads.
namespace quillon::texts {

inline constexpr const char* kAborted =
    "Firmware upload has been aborted.\n\nYou must upload the firmware completely for the "
    "device to be operational.";
inline constexpr const char* kFlashModuleFailed =
    "Firmware upload failed [1]\n\nPlease verify the you have the original firmware "
    "upgrade\npackage supplied by Veldra and try the upload process again.\n\nIf the upload "
    "still fails try checking the \"Slow mode\" tick box\non the serial port selection page.";
inline constexpr const char* kImageFailed = "Failed to upload the Firmware image";
inline constexpr const char* kCheckingCrc = "Checking CRC of the uploaded firmware";
inline constexpr const char* kCrcModuleFailed = "Firmware upload failed [2]";
inline constexpr const char* kCrcNoReply = "Firmware upload failed [3]";
inline constexpr const char* kCrcFailed =
    "The CRC check of the uploaded firmware has failed.\n\nPlease verify that you have the "
    "original firmware upgrade\npackage supplied by Veldra and try the upload process "
    "again.\n\nIf the upload still fails try checking the \"Slow mode\" tick box\non the "
    "serial port selection page.";
inline constexpr const char* kLaunchFailed =
    "Failed to launch the uploaded firmware.\n\nTry to re-power the device and test its "
    "correct operation.\nIf not functioning correctly, please reattempt the upload process.";
inline constexpr const char* kInitializing = "Initializing the new firmware";
inline constexpr const char* kTransferFailed = "Firmware transfer failed";
inline constexpr const char* kTransferSucceeded =
    "Firmware transfer and initialization completed successfully";

// What detection reports (the detection page and the command line alike).
inline constexpr const char* kPowerUp = "Please power up the device now.";
inline constexpr const char* kActivated = "Bootloader activated...";
inline constexpr const char* kProblemTitle = "Problem Encountered!";
inline constexpr const char* kInvalidUtility =
    "Invalid \"Utility.bin\" file.\nCannot continue with the upload process.\n\nPlease verify "
    "that you have the original\nfirmware package supplied by Veldra Pty. Ltd.";
// The port hung up during detection or identification (the adapter was pulled out).
inline constexpr const char* kLineLost =
    "The connection to the serial port has been lost.\nThe adapter may have been unplugged.\n\n"
    "Please check the connection, then go back to the\nserial port selection page and try "
    "again.";

// A package whose records cannot be read, named by its file name.
inline std::string InvalidFileText(const std::string& fileName) {
    return "The file \"" + fileName +
           "\" is invalid - cannot continue.\n\nPlease obtain the original firmware package "
           "supplied by Veldra Pty. Ltd.";
}

} // namespace quillon::texts
