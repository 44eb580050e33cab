#pragma once

#include "package/CEncImageFile.h"
#include "tools/devsim/DevSimScenario.h"
#include "tools/soak/SoakPackages.h"
#include "tools/soak/SoakTimeBound.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace quillon {

// How a soak run ended, as the user would be told.
enum class SoakOutcome : std::uint8_t {
    Success,
    PortFailed,      // the port did not open
    NotActivated,    // the bootloader never answered
    Refused,         // the compatibility decision refused the upload
    Aborted,         // "Firmware upload has been aborted. ..."
    FlashFailed,     // "Firmware upload failed [1] ..."
    ImageFailed,     // "Failed to upload the Firmware image"
    CrcModuleFailed, // "Firmware upload failed [2]"
    CrcNoReply,      // "Firmware upload failed [3]"
    CrcFailed,       // "The CRC check of the uploaded firmware has failed. ..."
    LaunchFailed,    // "Failed to launch the uploaded firmware. ..."
    NoStartup,       // launched, but the start-up message never came
    Hung,            // no end of the sequence long after the bound
};
inline constexpr int kSoakOutcomeCount = 13;
const char* ToString(SoakOutcome outcome);

// What one run faces: the device with its faults, slow mode, and when (if at all) the
// user aborts the upload.
struct SoakRunPlan {
    int number = 0;
    DevSimScenario scenario;
    bool slowMode = false;
    std::optional<std::chrono::milliseconds> abortAfter; // after the upload started
    std::uint32_t activationSeed = 0;
    int backwardRedirects = 0; // records sent again because of backward redirects
    int babblingSends = 0;     // sends whose reply may run on until the engine's reply bound
    bool stopsReading = false; // the device may stop taking bytes: later writes stall
    std::string faults;        // the plan in words
};

struct SoakRunResult {
    SoakOutcome outcome = SoakOutcome::Hung;
    std::string detail; // the refusal text, ...
    double milliseconds = 0;
    double boundMs = 0;
    bool deviceHoldsImage = false; // complete, every record byte for byte
    bool startupPrinted = false;
    bool aborted = false; // AbortUpload was called
    bool stalled = false; // the watchdog pulled the line: the engine waited without end

    bool HostSuccess() const { return outcome == SoakOutcome::Success; }
    bool DeviceDone() const { return deviceHoldsImage && startupPrinted; }
    bool FalseSuccess() const { return HostSuccess() && !DeviceDone(); }
    bool FalseFailure() const { return !HostSuccess() && DeviceDone(); }
    bool PastBound() const { return milliseconds > boundMs; }
};

// Uploads through the real engine (CUploadCore with a CMessageQueue, as the command-line
// front end drives it: open the port, activate, identify, decide, upload) against the
// in-process device simulator, one planned run at a time.
//
// Threads: the owner's thread plans and runs; each run starts and joins the core's
// workers, the link's event thread and the simulator's thread, and leaves none behind.
class CSoakRunner {
public:
    static constexpr int kActivationAttempts = 200;

    explicit CSoakRunner(SoakPackages packages);

    bool Usable() const { return !packages_.image.empty(); }
    SoakRunPlan Plan(int number, std::mt19937_64& random) const;
    SoakTimeBound Bound(const SoakRunPlan& plan);
    SoakRunResult Run(const SoakRunPlan& plan);
    const SoakPackages& Packages() const { return packages_; }

private:
    struct ModuleRecords {
        int descriptor = -1;
        std::vector<int> data;
    };
    ModuleRecords Module(CEncImageFile& package, int descriptor);
    std::vector<int> RecordsOfType(std::uint16_t type);

    SoakPackages packages_;
    CEncImageFile utility_;
    CEncImageFile image_;

    // Record numbers the runs meet, from the packages themselves.
    std::vector<int> activationBlocks_;
    std::vector<int> informationRequests_; // the first of each list
    int fastBaudRequest_ = -1;
    int slowBaudRequest_ = -1;
    int launchRequest_ = -1;
    ModuleRecords boardIdModule_;
    ModuleRecords flashModule_;
    ModuleRecords crcModule_;
    ModuleRecords imageModule_;
};

} // namespace quillon
