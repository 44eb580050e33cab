#include "cli/CDeviceSession.h"

#include "cli/CliExitStatus.h"
#include "cli/IInterruptSource.h"
#include "cli/TerminalText.h"
#include "link/PortName.h"
#include "package/CInvalidFileError.h"
#include "resources/EmbeddedResources.h"
#include "upload/UploadTexts.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <thread>

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How often a wait looks for an interrupt.
constexpr auto kInterruptSlice = 50ms;
// Bounded waits for the activation worker, as the pages use them (polls of 100 ms).
constexpr int kDetectionStopPolls = 101;

// Names for the embedded packages in messages about them.
constexpr const char* kEmbeddedUtilityName = "Utility.bin";
constexpr const char* kEmbeddedFirmwareName = "FwImage.bin";

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, int& error) {
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = errno != 0 ? errno : ENOENT;
        return false;
    }
    bytes.clear();
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        const auto* data = reinterpret_cast<const std::uint8_t*>(chunk);
        bytes.insert(bytes.end(), data, data + static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        error = EIO;
        return false;
    }
    return true;
}

// Why an open failed, in words a user can act on.
std::string PortFailureReason(const std::string& name, const std::string& path, int error,
                              Status status) {
    const std::string shown = name == path ? path : name + " (" + path + ")";
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "There is no serial port " + shown + ".";
    case EBUSY:
    case EAGAIN:
        return "The serial port " + shown + " is in use by another program.";
    case EACCES:
    case EPERM:
        return "You are not allowed to use the serial port " + shown +
               ". Add your user to the dialout group (sudo usermod -aG dialout $USER), then "
               "log in again.";
    case ENOTTY:
        return shown + " is not a serial port.";
    case 0:
        return "The serial port " + shown + " failed with status " + std::to_string(status) + ".";
    default:
        return "The serial port " + shown + ": " + std::strerror(error) + ".";
    }
}

bool ParseSeconds(const std::string& text, std::chrono::milliseconds& out) {
    if (text.empty()) {
        return false;
    }
    std::size_t used = 0;
    double seconds = 0;
    try {
        seconds = std::stod(text, &used);
    } catch (const std::exception&) {
        return false;
    }
    // A day is far more than any device takes to power up; beyond it the number is a typo.
    if (used != text.size() || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400) {
        return false;
    }
    out = std::chrono::milliseconds(static_cast<std::int64_t>(std::ceil(seconds * 1000)));
    return true;
}

std::string SecondsText(std::chrono::milliseconds wait) {
    const auto ms = wait.count();
    std::string text = std::to_string(ms / 1000);
    if (ms % 1000 != 0) {
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, ".%03lld", static_cast<long long>(ms % 1000));
        text += fraction;
        while (text.back() == '0') {
            text.pop_back();
        }
    }
    return text + (ms == 1000 ? " second" : " seconds");
}

} // namespace

CDeviceSession::CDeviceSession(std::string prefix, std::ostream& out, std::ostream& err,
                               IInterruptSource& interrupts)
    : prefix_(std::move(prefix)), out_(out), err_(err), interrupts_(interrupts) {
}

CDeviceSession::~CDeviceSession() {
    // No worker may outlive the session's output streams and queue.
    StopActivationWorker(kDetectionStopPolls);
    if (core_.IsUploadRunning()) {
        core_.AbortUpload();
    }
}

bool CDeviceSession::TakeValue(const std::vector<std::string>& args, std::size_t& i,
                               const std::string& name, std::string& value, std::string& error) {
    const std::string& arg = args[i];
    if (arg == name) {
        if (i + 1 >= args.size()) {
            error = "option " + name + " needs a value";
            return true;
        }
        value = args[++i];
        return true;
    }
    if (arg.rfind(name + "=", 0) == 0) {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

bool CDeviceSession::ParseOption(const std::vector<std::string>& args, std::size_t& i,
                                 DeviceOptions& options, std::string& error) {
    std::string value;
    if (TakeValue(args, i, "--port", value, error)) {
        if (error.empty()) {
            if (value.empty()) {
                error = "option --port needs a port name";
            }
            options.port = value;
            options.portGiven = true;
            options.ports.push_back(value);
        }
        return true;
    }
    if (TakeValue(args, i, "--ports", value, error)) {
        if (error.empty() && value.empty()) {
            error = "option --ports needs a pattern";
        }
        options.portGlobs.push_back(value);
        return true;
    }
    if (TakeValue(args, i, "--wait", value, error)) {
        std::chrono::milliseconds wait{};
        if (error.empty()) {
            if (ParseSeconds(value, wait)) {
                options.wait = wait;
            } else {
                error = "option --wait needs a number of seconds above 0, not '" + value + "'";
            }
        }
        return true;
    }
    if (TakeValue(args, i, "--utility", value, error)) {
        options.utilityFile = value;
        if (error.empty() && value.empty()) {
            error = "option --utility needs a file name";
        }
        return true;
    }
    if (TakeValue(args, i, "--firmware", value, error)) {
        options.firmwareFile = value;
        if (error.empty() && value.empty()) {
            error = "option --firmware needs a file name";
        }
        return true;
    }
    return false;
}

std::string CDeviceSession::OptionsHelp() {
    return "  --port PORT      the serial port: a path such as /dev/ttyUSB0, a name under /dev\n"
           "                   (ttyUSB0) or COMn for /dev/ttyS(n-1); default: the port saved\n"
           "                   by the wizard (\"COM1\" when none was saved); may be given\n"
           "                   more than once to serve several devices at once\n"
           "  --ports GLOB     every port whose path matches GLOB, e.g.\n"
           "                   '/dev/serial/by-id/usb-FTDI_*' (quote it for the shell)\n"
           "  --wait SECONDS   give up when no device has answered within this time\n"
           "                   (default: wait until interrupted)\n"
           "  --utility FILE   use the utility package in FILE instead of the embedded one\n"
           "  --firmware FILE  use the firmware image in FILE instead of the embedded one\n";
}

int CDeviceSession::Fail(int status, const std::string& message) {
    out_.flush();
    err_ << prefix_ << ": " << message << "\n";
    err_.flush();
    return status;
}

int CDeviceSession::InvalidFile(const std::string& fileName) {
    out_.flush();
    err_ << texts::InvalidFileText(fileName) << "\n";
    err_.flush();
    return kExitInvalidPackage;
}

int CDeviceSession::LoadPackages(const DeviceOptions& options) {
    std::span<const std::uint8_t> utility = EmbeddedResources::UtilityPackage();
    std::span<const std::uint8_t> firmware = EmbeddedResources::FirmwareImage();
    std::string utilityName = kEmbeddedUtilityName;
    std::string firmwareName = kEmbeddedFirmwareName;
    for (auto [path, bytes, span, name] :
         {std::tuple{&options.utilityFile, &utilityBytes_, &utility, &utilityName},
          std::tuple{&options.firmwareFile, &firmwareBytes_, &firmware, &firmwareName}}) {
        if (path->empty()) {
            continue;
        }
        int error = 0;
        if (!ReadWholeFile(*path, *bytes, error)) {
            return Fail(kExitInvalidPackage, "cannot read " + *path + ": " + std::strerror(error));
        }
        *span = *bytes;
        *name = *path;
    }

    core_.UtilityPackage().SetFilePath(utilityName);
    core_.FirmwareImage().SetFilePath(firmwareName);
    try {
        core_.LoadPackages(utility, firmware);
        RecordHeader header{};
        for (CEncImageFile* package : {&core_.UtilityPackage(), &core_.FirmwareImage()}) {
            for (int n = 0; n < package->GetRecordCount(); ++n) {
                package->ReadHeader(n, header);
            }
        }
    } catch (const CInvalidFileError& error) {
        return InvalidFile(error.FileName());
    }
    return kExitSuccess;
}

int CDeviceSession::OpenPort(const std::string& port) {
    const Status status = core_.OpenPort(port);
    if (core_.Link().IsOpen()) {
        // Like the port page, the results of configuring an opened port are not judged:
        // a line that cannot be set shows up as a device that does not answer.
        core_.selectedPort = port;
        return kExitSuccess;
    }
    const int error = core_.Link().GetLastSystemError();
    out_.flush();
    err_ << kPortNotOpened << "\n"
         << PortFailureReason(port, DevicePathForPort(port), error, status) << "\n";
    err_.flush();
    return kExitPortNotOpened;
}

CDeviceSession::WaitResult
CDeviceSession::WaitForMessage(CMessageQueue::Message& message, ConsoleSignal& signal,
                               std::optional<Clock::time_point> deadline) {
    for (;;) {
        if ((signal = interrupts_.Take()) != ConsoleSignal::None) {
            return WaitResult::Interrupted;
        }
        auto slice = std::chrono::duration_cast<std::chrono::milliseconds>(kInterruptSlice);
        if (deadline) {
            const auto left = *deadline - Clock::now();
            if (left <= Clock::duration::zero()) {
                return WaitResult::TimedOut;
            }
            slice = std::min(slice, std::chrono::ceil<std::chrono::milliseconds>(left));
        }
        if (const auto taken = queue_.Take(slice)) {
            message = *taken;
            return WaitResult::Message;
        }
    }
}

bool CDeviceSession::StopActivationWorker(int maxPolls) {
    return core_.StopActivationWorker(maxPolls);
}

int CDeviceSession::Detect(std::optional<std::chrono::milliseconds> wait) {
    core_.ResetDeviceData();
    out_ << texts::kPowerUp << std::endl;
    if (core_.CollectActivationBlocks()) {
        out_.flush();
        err_ << texts::kProblemTitle << "\n" << texts::kInvalidUtility << "\n";
        err_.flush();
        return kExitInvalidPackage;
    }

    std::optional<Clock::time_point> deadline;
    if (wait) {
        deadline = Clock::now() + *wait;
    }
    core_.StartActivationWorker(&queue_, false);
    for (;;) {
        CMessageQueue::Message message;
        ConsoleSignal signal = ConsoleSignal::None;
        const WaitResult result = WaitForMessage(message, signal, deadline);
        if (result == WaitResult::Message) {
            if (message.number == kMsgBootloaderActivated) {
                break;
            }
            if (message.number == kMsgLineLost) {
                StopActivationWorker(kDetectionStopPolls);
                return PortLost("while waiting for the device");
            }
            continue;
        }
        StopActivationWorker(kDetectionStopPolls);
        if (result == WaitResult::TimedOut) {
            // The device may have answered just before the worker saw the stop request.
            bool answered = false;
            while (const auto late = queue_.Take(0ms)) {
                answered = answered || late->number == kMsgBootloaderActivated;
            }
            if (answered) {
                break;
            }
            return Fail(kExitNoDevice, "no device answered within " + SecondsText(*wait) + " on " +
                                           core_.selectedPort + ".");
        }
        return Fail(kExitAborted, "interrupted while waiting for the device.");
    }
    // The worker ends by itself right after its notification; the stop returns as soon as
    // it has.
    StopActivationWorker(kDetectionStopPolls);
    out_ << texts::kActivated << std::endl;
    return kExitSuccess;
}

int CDeviceSession::Identify() {
    std::atomic<bool> done{false};
    std::jthread identification([this, &done] {
        core_.IdentifyDevice();
        done = true;
    });
    bool interrupted = false;
    while (!done.load()) {
        if (!interrupted && interrupts_.Take() != ConsoleSignal::None) {
            // Nothing has been written to the device's flash yet: cut the conversation
            // short instead of sitting out every retry.
            interrupted = true;
            out_.flush();
            err_ << prefix_ << ": interrupted; ending the identification..." << std::endl;
            core_.Link().InterruptWaits();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    identification.join();
    if (interrupted) {
        core_.Link().ResumeWaits();
        return kExitAborted;
    }
    if (core_.LineLost()) {
        // What was read before the line went is incomplete: judging the firmware by it
        // would only mislead.
        return PortLost("while the device was being identified");
    }
    return kExitSuccess;
}

int CDeviceSession::PortLost(const std::string& when) {
    return Fail(kExitPortLost, "the serial port " + core_.selectedPort + " hung up " + when +
                                   ": the adapter was unplugged or the line was closed. "
                                   "Nothing was written to the device; check the connection "
                                   "and try again.");
}

void CDeviceSession::PrintField(const char* label, const std::string& value) {
    constexpr std::size_t kLabelColumn = 30;
    const std::string text = label;
    out_ << "  " << text << std::string(kLabelColumn - std::min(kLabelColumn - 1, text.size()), ' ')
         << Latin1ToTerminal(value) << "\n";
}

CompatibilityResult CDeviceSession::AssessAndShow() {
    const CompatibilityResult result = AssessCompatibility(core_);
    out_ << "\nThe following device has been detected on the serial port:\n";
    PrintField("Board type ID:", core_.boardTypeId);
    PrintField("Bootloader version:", core_.deviceBootloader.text);
    PrintField("Current firmware version:",
               core_.deviceFirmware.product + " " + core_.deviceFirmware.text);
    out_ << "\nVersion of the firmware to be uploaded:\n";
    PrintField("Target board type ID:", core_.targetBoardText);
    PrintField("Minimum bootloader version:", core_.minimumBootloader.text);
    PrintField("New firmware version:",
               core_.packageFirmware.product + " " + core_.packageFirmware.text);
    out_ << "\n";
    if (result.outcome == CompatibilityOutcome::Accept) {
        out_ << kAccepted << "\n";
    } else {
        out_ << result.message;
        if (result.message.empty() || result.message.back() != '\n') {
            out_ << "\n";
        }
    }
    out_.flush();
    return result;
}

} // namespace quillon
