// quillon-cli detect and upload as a user or a script meets them: the built program and the
// simulated device (quillon-devsim) each in a process of their own, talking over a
// pseudo-terminal; the program without a terminal (answers come from --yes) or, where it
// asks, on a terminal of its own. Each run has a private settings folder.
//
// The device's summary at its exit says whether it holds the complete image; its trace
// (--verbose) shows every record it received.

#include "cli/CReceipt.h"
#include "package/RecordHeader.h"
#include "tests/cli/ChildProcess.h"
#include "tests/package/TestPackages.h"
#include "tests/support/DeviceScenarios.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/TestText.h"
#include "tests/support/Unprivileged.h"
#include "upload/CompatibilityDecision.h"
#include "upload/UploadTexts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::Contains;
using testing::kLogHeader;
using testing::Lines;
using testing::Occurrences;
using testing::ReadText;
using testing::StartsWithPattern;
using testing::TempDirectory;

const std::string kCli = QUILLON_CLI_PROGRAM;
const std::string kDevSim = QUILLON_DEVSIM_PROGRAM;

// Texts of the program.
constexpr const char* kPortNotOpened = "Selected COM port could not be opened.";
constexpr const char* kInterruptQuestion =
    "Are you sure you want to interrupt the firmware upload process?";
const std::string kHoldsImage = "holds the complete firmware image (57/57 records programmed)";

// The percentages printed as plain lines ("42% Complete"), in order.
std::vector<int> Percentages(const std::string& out) {
    std::vector<int> values;
    const std::string suffix = "% Complete";
    for (const std::string& text : Lines(out)) {
        const std::size_t digits = text.size() - std::min(text.size(), suffix.size());
        if (digits == 0 || text.compare(digits, std::string::npos, suffix) != 0 ||
            !std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(digits),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        values.push_back(std::stoi(text.substr(0, digits)));
    }
    return values;
}

void WriteFile(const std::string& path, const test::Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

// The reference utility package with the n-th (from 1) occurrence of a descriptor text
// replaced by another of the same length.
test::Bytes PatchedUtility(const std::string& from, const std::string& to, int occurrence) {
    test::Bytes bytes = test::ReferenceUtility();
    const std::string text(bytes.begin(), bytes.end());
    std::size_t at = std::string::npos;
    for (int n = 0; n < occurrence; ++n) {
        at = text.find(from, at == std::string::npos ? 0 : at + 1);
        if (at == std::string::npos) {
            ADD_FAILURE() << from << " occurs fewer than " << occurrence << " times";
            return bytes;
        }
    }
    std::copy(to.begin(), to.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

// The shared small image with four records and the given start-up byte timeout.
test::Bytes SmallImage(int timeMs) {
    return testing::SmallImage(4, timeMs);
}

// The simulated device as its own process, fast (no delays), tracing what it receives.
class DevSim {
public:
    explicit DevSim(const std::vector<std::string>& args)
        : process_(kDevSim, WithDefaults(args), ChildProcess::Options{}) {}

    std::string Port() {
        if (!process_.WaitForOutput("\n", 60s)) {
            ADD_FAILURE() << "quillon-devsim did not start: " << process_.Err();
            return "";
        }
        return Lines(process_.Out()).front();
    }
    // Switches it off; its summary line.
    std::string Stop() {
        process_.Signal(SIGINT);
        if (!process_.Wait(60s)) {
            ADD_FAILURE() << "quillon-devsim did not end";
        }
        const auto lines = Lines(process_.Out());
        return lines.empty() ? "" : lines.back();
    }
    std::string Trace() { return process_.Err(); }
    // The next device: a fresh power-up (what the flash holds stays).
    void PowerCycle() { process_.Signal(SIGUSR1); }

private:
    static std::vector<std::string> WithDefaults(const std::vector<std::string>& args) {
        std::vector<std::string> all{"--fast", "--verbose"};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }

    ChildProcess process_;
};

struct CliRun {
    std::optional<int> status;
    std::string out;
    std::string err;
};

class DeviceCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef QUILLON_CUSTOM_PACKAGES
        GTEST_SKIP() << "the expectations are those of the reference packages";
#endif
    }

    void StartDevice(const std::vector<std::string>& args = {}) {
        device_ = std::make_unique<DevSim>(args);
        port_ = device_->Port();
        ASSERT_FALSE(port_.empty());
    }
    // Stops the device and keeps its summary and trace.
    void StopDevice() {
        summary_ = device_->Stop();
        trace_ = device_->Trace();
    }

    ChildProcess::Options CliOptions(bool terminal = false) const {
        ChildProcess::Options options;
        options.environment["XDG_CONFIG_HOME"] = config_.Path().string();
        options.workingDirectory = work_.Path().string();
        options.terminal = terminal;
        return options;
    }
    std::unique_ptr<ChildProcess> StartCli(const std::vector<std::string>& args,
                                           bool terminal = false) {
        auto process = std::make_unique<ChildProcess>(kCli, args, CliOptions(terminal));
        EXPECT_TRUE(process->Started());
        return process;
    }
    static CliRun Finish(ChildProcess& process, std::chrono::seconds limit = 300s) {
        CliRun run;
        run.status = process.Wait(limit);
        run.out = process.Out();
        run.err = process.Err();
        return run;
    }
    CliRun RunCli(const std::vector<std::string>& args, std::chrono::seconds limit = 300s) {
        auto process = StartCli(args);
        return Finish(*process, limit);
    }
    // upload --port <device> --yes with the given extra arguments, then the device stops.
    CliRun Upload(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"upload", "--port", port_, "--yes"};
        args.insert(args.end(), extra.begin(), extra.end());
        CliRun run = RunCli(args);
        StopDevice();
        return run;
    }

    std::string SettingsFile() const {
        return config_.File("Veldra/Quillon.conf");
    }
    void SaveSettings(const std::string& content) const {
        std::filesystem::create_directories(config_.Path() / "Veldra");
        std::ofstream(SettingsFile()) << content;
    }
    std::string WriteWorkFile(const std::string& name, const test::Bytes& bytes) const {
        const std::string path = work_.File(name);
        WriteFile(path, bytes);
        return path;
    }

    std::size_t BaudRequests(const std::string& rate) const {
        return Occurrences(trace_, "baud-rate request " + rate);
    }
    bool ModulesSent() const {
        return Contains(trace_, "FlashMod");
    }

    TempDirectory config_;
    TempDirectory work_;
    std::unique_ptr<DevSim> device_;
    std::string port_;
    std::string summary_;
    std::string trace_;
};

// ---------------------------------------------------------------------------------------
// Success.

TEST_F(DeviceCommandsTest, UploadTransfersChecksAndStartsTheFirmware) {
    // The started firmware takes a moment to print, as a real one does; the log catches it.
    StartDevice({"--startup-delay", "200"});
    const CliRun run = Upload({"--log", "session.log"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;

    EXPECT_TRUE(Contains(run.out, "Please power up the device now.\nBootloader activated...\n"));
    EXPECT_TRUE(Contains(run.out, "The device can be updated with this firmware."));
    const auto percentages = Percentages(run.out);
    ASSERT_FALSE(percentages.empty());
    EXPECT_EQ(percentages.front(), 0);
    EXPECT_EQ(percentages.back(), 100);
    EXPECT_TRUE(std::is_sorted(percentages.begin(), percentages.end()));
    EXPECT_GE(percentages.size(), 50u);
    // The image's last record shows 98; the 100 comes once the firmware has started.
    EXPECT_TRUE(Contains(run.out, "98% Complete\n" + std::string(texts::kCheckingCrc) + "\n" +
                                      texts::kInitializing + "\n100% Complete\n" +
                                      texts::kTransferSucceeded + "\n"));
    EXPECT_TRUE(run.err.empty()) << run.err;

    EXPECT_TRUE(Contains(summary_, kHoldsImage)) << summary_;
    EXPECT_FALSE(Contains(summary_, "out of order"));
    EXPECT_TRUE(Contains(summary_, "firmware started"));
    EXPECT_EQ(BaudRequests("115200"), 1u);
    EXPECT_EQ(BaudRequests("19200"), 0u);

    // The relative log name was taken from the program's folder; the session holds what
    // the firmware printed.
    const std::string log = ReadText(work_.File("session.log"));
    const std::string printed =
        "Veldra KOLM firmware 1.4.6\r\nSelf test... OK\r\n*** Unit Initialised";
    EXPECT_TRUE(StartsWithPattern(log, kLogHeader)) << log;
    EXPECT_EQ(log.substr(std::min(log.size(), kLogHeader.size()), printed.size()), printed) << log;
    // The command line reads the saved settings but never writes them.
    EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
}

TEST_F(DeviceCommandsTest, SlowModeFromTheSavedSettingsNeverChangesTheSpeed) {
    // A short image: at 19200 baud the whole shipped one spends a minute on the line.
    const std::string image = WriteWorkFile("small.bin", SmallImage(1000));
    StartDevice({"--firmware-package", image});
    // The wizard's saved settings: the port, and slow mode stored as any non-zero value.
    const std::string settings = "[General]\nPort=" + port_ + "\nSlow=5\n";
    SaveSettings(settings);
    const CliRun run = RunCli({"upload", "--yes", "--firmware", image});
    StopDevice();
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "Slow mode: the transfer stays at 19200 baud."));
    EXPECT_TRUE(Contains(run.out, texts::kTransferSucceeded));
    EXPECT_TRUE(Contains(summary_, "holds the complete firmware image (4/4 records programmed)"))
        << summary_;
    EXPECT_TRUE(Contains(summary_, "line at 19200 baud"));
    EXPECT_EQ(Occurrences(trace_, "baud-rate request"), 0u);
    EXPECT_EQ(ReadText(SettingsFile()), settings);
}

TEST_F(DeviceCommandsTest, RefusalsAndRedirectsWithinTheirLimitsStillSucceed) {
    // Five refusals of one record (fewer than its sends), and a request to go back two
    // records from the tenth.
    StartDevice({"--refuse", "image:3:5", "--redirect", "image:10:8"});
    const CliRun run = Upload();
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, texts::kTransferSucceeded));
    EXPECT_TRUE(Contains(summary_, kHoldsImage)) << summary_;
    EXPECT_EQ(Occurrences(trace_, "fault: refused"), 5u);
    EXPECT_EQ(Occurrences(trace_, "fault: redirected"), 1u);
    EXPECT_EQ(Occurrences(trace_, "rx image:8 "), 2u);
}

// The warning about a device that already has this firmware is passed with --yes; the
// start-up message split after its blank is still recognised; a log that cannot be
// written is skipped.
TEST_F(DeviceCommandsTest, ConfirmedWarningSplitStartupMessageAndUnwritableLog) {
    StartDevice({"--firmware-version", "1.4.6", "--startup-text", "*** Unit \\r\\nInitialised"});
    const CliRun run = Upload({"--log", work_.File("no-such-folder/session.log")});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, texts::kSameOrNewerFirmware));
    EXPECT_TRUE(Contains(run.out, "Uploading anyway (--yes)."));
    EXPECT_TRUE(Contains(run.out, texts::kTransferSucceeded));
    EXPECT_TRUE(Contains(run.err, "no-such-folder/session.log cannot be written"));
    EXPECT_TRUE(Contains(summary_, kHoldsImage)) << summary_;
    EXPECT_FALSE(std::filesystem::exists(work_.File("no-such-folder")));
}

// ---------------------------------------------------------------------------------------
// Failures: each says why and never ends as success.

class SmallImageTest : public DeviceCommandsTest {
protected:
    // The device and the program both use a short image with the given start-up timeout.
    void StartWithSmallImage(std::vector<std::string> args, int timeMs = 1000) {
        image_ = WriteWorkFile("small.bin", SmallImage(timeMs));
        args.insert(args.end(), {"--firmware-package", image_});
        StartDevice(args);
    }
    CliRun UploadSmall() { return Upload({"--firmware", image_}); }

    std::string image_;
};

TEST_F(SmallImageTest, CrcVerdictDashFailsAndReturnsTheLineTo19200) {
    StartWithSmallImage({"--crc", "bad"});
    const CliRun run = UploadSmall();
    EXPECT_EQ(run.status, 5);
    EXPECT_TRUE(Contains(run.err, texts::kCrcFailed)) << run.err;
    EXPECT_TRUE(Contains(run.out, std::string(texts::kTransferFailed) + "\n"));
    EXPECT_FALSE(Contains(run.out, texts::kTransferSucceeded));
    EXPECT_EQ(BaudRequests("19200"), 1u);
    EXPECT_TRUE(Contains(summary_, "line at 19200 baud")) << summary_;
}

TEST_F(SmallImageTest, CrcWithoutReplyLineFails) {
    StartWithSmallImage({"--crc", "none"});
    const CliRun run = UploadSmall();
    EXPECT_EQ(run.status, 5);
    EXPECT_TRUE(Contains(run.err, std::string(texts::kCrcNoReply) + "\n")) << run.err;
    EXPECT_TRUE(Contains(run.out, texts::kTransferFailed));
    EXPECT_FALSE(Contains(run.out, texts::kInitializing));
}

TEST_F(SmallImageTest, StartupMessageMissingItsBlankIsNotRecognised) {
    StartWithSmallImage({"--startup-text", "*** Unit\\r\\nInitialised\\r\\n"});
    const CliRun run = UploadSmall();
    EXPECT_EQ(run.status, 5);
    EXPECT_TRUE(
        Contains(run.out, std::string(texts::kInitializing) + "\n" + texts::kTransferFailed + "\n"))
        << run.out;
    EXPECT_TRUE(Contains(summary_, "holds the complete firmware image"));
}

TEST_F(SmallImageTest, RedirectsOutsideTheModuleEndTheTransfer) {
    StartWithSmallImage({"--redirect", "image:2:0x3A00:always"});
    const CliRun run = UploadSmall();
    // The device, not the user, broke the transfer off: a failure with the abort text.
    EXPECT_EQ(run.status, 5);
    EXPECT_TRUE(Contains(run.err, texts::kAborted)) << run.err;
    EXPECT_FALSE(Contains(run.out, texts::kTransferSucceeded));
    EXPECT_EQ(Occurrences(trace_, "rx image:2 "), 3u);
}

// Past the launch nothing is left to refuse; an interrupt while a silent firmware is
// awaited still ends the run as aborted, without waiting out the start-up timeout.
TEST_F(SmallImageTest, InterruptWhileTheFirmwareStartsEndsAsAborted) {
    StartWithSmallImage({"--no-startup"}, 60000);
    auto cli = StartCli({"upload", "--port", port_, "--firmware", image_});
    ASSERT_TRUE(cli->WaitForOutput(std::string(texts::kInitializing) + "\n", 120s))
        << cli->Out() << cli->Err();
    cli->Signal(SIGINT);
    const CliRun run = Finish(*cli, 50s);
    StopDevice();
    EXPECT_EQ(run.status, 6);
    EXPECT_TRUE(Contains(run.err, std::string(texts::kAborted) + "\n")) << run.err;
    EXPECT_FALSE(Contains(run.out, texts::kTransferSucceeded));
}

TEST_F(DeviceCommandsTest, FlashModuleRefusedOnEverySendFails) {
    StartDevice({"--refuse", "utility:63:always"});
    const CliRun run = Upload();
    EXPECT_EQ(run.status, 5);
    EXPECT_TRUE(Contains(run.err, texts::kFlashModuleFailed)) << run.err;
    // A failed flash module ends without the transfer's status text.
    EXPECT_FALSE(Contains(run.out, texts::kTransferFailed));
    // Three attempts of eight sends each.
    EXPECT_EQ(Occurrences(trace_, "rx utility:63 "), 24u);
    EXPECT_TRUE(Contains(summary_, "image incomplete"));
    EXPECT_EQ(Occurrences(trace_, "baud-rate request"), 0u);
}

TEST_F(DeviceCommandsTest, DeviceFallingSilentAtARecordFails) {
    StartDevice({"--silent", "utility:63:always"});
    const CliRun run = Upload();
    EXPECT_EQ(run.status, 5);
    EXPECT_TRUE(Contains(run.err, texts::kFlashModuleFailed)) << run.err;
    EXPECT_TRUE(Contains(trace_, "fault: the device falls silent for good"));
    EXPECT_TRUE(Contains(summary_, "image incomplete"));
}

// ---------------------------------------------------------------------------------------
// Interrupts.

TEST_F(DeviceCommandsTest, InterruptWithoutTerminalAbortsAtOnce) {
    StartDevice();
    auto cli = StartCli({"upload", "--port", port_});
    ASSERT_TRUE(cli->WaitForOutput("\n5% Complete\n", 120s)) << cli->Out() << cli->Err();
    cli->Signal(SIGINT);
    const CliRun run = Finish(*cli, 60s);
    StopDevice();
    EXPECT_EQ(run.status, 6);
    EXPECT_TRUE(Contains(run.err, std::string(texts::kAborted) + "\n")) << run.err;
    EXPECT_FALSE(Contains(run.out + run.err, kInterruptQuestion));
    EXPECT_FALSE(Contains(run.out, texts::kTransferSucceeded));
    EXPECT_TRUE(Contains(summary_, "image incomplete")) << summary_;
}

TEST_F(DeviceCommandsTest, SlowFlagSendsNoSpeedRequest) {
    StartDevice();
    auto cli = StartCli({"upload", "--port", port_, "--slow", "--yes"});
    // The first image record has gone through at 19200 baud.
    ASSERT_TRUE(cli->WaitForOutput("\n1% Complete\n", 120s)) << cli->Out() << cli->Err();
    cli->Signal(SIGINT);
    const CliRun run = Finish(*cli, 60s);
    StopDevice();
    EXPECT_EQ(run.status, 6);
    EXPECT_EQ(Occurrences(trace_, "baud-rate request"), 0u);
    EXPECT_TRUE(Contains(trace_, "rx image:1 "));
    EXPECT_TRUE(Contains(summary_, "line at 19200 baud")) << summary_;
}

TEST_F(DeviceCommandsTest, TerminalConfirmsTheWarningAndDeclinedInterruptGoesOn) {
    StartDevice({"--firmware-version", "1.4.6"});
    auto cli = StartCli({"upload", "--port", port_}, true);
    ASSERT_TRUE(cli->WaitForOutput("Upload this firmware anyway? [y/N] ", 60s)) << cli->Out();
    cli->Type("y\n");
    ASSERT_TRUE(cli->WaitForOutput("10% Complete", 120s)) << cli->Out();
    cli->Type("\x03"); // Ctrl-C
    ASSERT_TRUE(cli->WaitForOutput(kInterruptQuestion, 60s)) << cli->Out();
    cli->Type("n\n");
    const CliRun run = Finish(*cli);
    StopDevice();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "If you interrupt the upload process, the device will not be "
                                  "operational.\r\n\r\nAre you sure"));
    // A bar redrawn in place on the terminal.
    EXPECT_TRUE(Contains(run.out, "\r[########################################] 100% Complete"));
    EXPECT_TRUE(Contains(run.out, texts::kTransferSucceeded));
    EXPECT_TRUE(Contains(summary_, kHoldsImage)) << summary_;
}

TEST_F(DeviceCommandsTest, TerminalInterruptAnsweredYesAborts) {
    StartDevice();
    auto cli = StartCli({"upload", "--port", port_}, true);
    ASSERT_TRUE(cli->WaitForOutput("5% Complete", 120s)) << cli->Out();
    cli->Type("\x03");
    ASSERT_TRUE(cli->WaitForOutput("[y/N] ", 60s)) << cli->Out();
    cli->Type("yes\n");
    const CliRun run = Finish(*cli, 60s);
    StopDevice();
    EXPECT_EQ(run.status, 6) << run.out;
    EXPECT_TRUE(Contains(run.out, "Firmware upload has been aborted."));
    EXPECT_TRUE(Contains(summary_, "image incomplete")) << summary_;
}

// ---------------------------------------------------------------------------------------
// The compatibility decision: refusals end before any module is sent, --yes or not.

TEST_F(DeviceCommandsTest, UnsuitableBoardIsRefused) {
    StartDevice({"--board-id", "9;9;9;9;Y;3;5"});
    const CliRun run = Upload();
    EXPECT_EQ(run.status, 4);
    EXPECT_TRUE(Contains(run.out, texts::kBoardNotSuitable)) << run.out;
    EXPECT_FALSE(ModulesSent());
}

TEST_F(DeviceCommandsTest, OldBootloaderIsRefused) {
    // A package whose flash module for this bootloader wants a lower major version than
    // the device has: the device's bootloader is not of the generation the package needs.
    const std::string utility =
        WriteWorkFile("utility.bin", PatchedUtility("VERS:1.0.10", "VERS:0.0.10", 2));
    StartDevice({"--utility-package", utility});
    const CliRun run = Upload({"--utility", utility});
    EXPECT_EQ(run.status, 4);
    EXPECT_TRUE(Contains(run.out, texts::kBootloaderTooOld)) << run.out;
    EXPECT_TRUE(Contains(run.out, "Minimum bootloader version:   0.0.10\n"));
    EXPECT_FALSE(ModulesSent());
}

TEST_F(DeviceCommandsTest, SameFirmwareWithoutConfirmationIsNotUploaded) {
    StartDevice({"--firmware-version", "1.4.6"});
    const CliRun run = RunCli({"upload", "--port", port_});
    StopDevice();
    EXPECT_EQ(run.status, 4);
    EXPECT_TRUE(Contains(run.out, texts::kSameOrNewerFirmware)) << run.out;
    EXPECT_TRUE(Contains(run.err, "give --yes")) << run.err;
    EXPECT_FALSE(ModulesSent());
}

TEST_F(DeviceCommandsTest, MissingFlashModuleVariantIsRefused) {
    // Board variant 5 needs FlashMod5, which the package offers only for bootloader 1.1.1.
    StartDevice({"--bootloader-version", "1.0.10"});
    const CliRun run = Upload();
    EXPECT_EQ(run.status, 4);
    EXPECT_TRUE(Contains(run.out, texts::kFlashModuleNotSuitable)) << run.out;
    EXPECT_FALSE(ModulesSent());
}

TEST_F(DeviceCommandsTest, MissingCrcModuleVariantIsRefused) {
    const std::string utility =
        WriteWorkFile("utility.bin", PatchedUtility("PROD:FwCRCMod5", "PROD:FwCRCMod6", 1));
    StartDevice({"--utility-package", utility});
    const CliRun run = Upload({"--utility", utility});
    EXPECT_EQ(run.status, 4);
    EXPECT_TRUE(Contains(run.out, texts::kCrcModuleNotSuitable)) << run.out;
    EXPECT_FALSE(ModulesSent());
}

TEST_F(DeviceCommandsTest, DetectShowsTheInformationPage) {
    StartDevice();
    const CliRun run = RunCli({"detect", "--port", port_, "--wait", "30"});
    StopDevice();
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::string expected =
        "The following device has been detected on the serial port:\n"
        "  Board type ID:                0;4;1;7;Y;3;5\n"
        "  Bootloader version:           1.1.1\n"
        "  Current firmware version:     KOLM 1.4.2\n"
        "\n"
        "Version of the firmware to be uploaded:\n"
        // Two patterns match: the one shown is followed by " ... " and 0xBB, as UTF-8.
        "  Target board type ID:         0;0,4;0,1;0,7;*;*;N,5 ... \xC2\xBB\n"
        "  Minimum bootloader version:   1.0.10\n"
        "  New firmware version:         KOLM 1.4.6\n"
        "\n"
        "The device can be updated with this firmware.\n";
    EXPECT_TRUE(Contains(run.out, expected)) << run.out;
    EXPECT_FALSE(ModulesSent());
    EXPECT_TRUE(Contains(trace_, "BrdIDMod"));
}

// ---------------------------------------------------------------------------------------
// Ports, waits, packages and the command line.

TEST_F(DeviceCommandsTest, PortThatDoesNotExistIsReported) {
    const CliRun run = RunCli({"detect", "--port", "/dev/quillon-no-such-port"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(Contains(run.err, std::string(kPortNotOpened) +
                                      "\nThere is no serial port /dev/quillon-no-such-port.\n"))
        << run.err;
}

TEST_F(DeviceCommandsTest, FileThatIsNoSerialPortIsReported) {
    const std::string path = WriteWorkFile("plain.txt", {'x'});
    const CliRun run = RunCli({"upload", "--port", path});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(Contains(run.err, path + " is not a serial port.")) << run.err;
}

TEST_F(DeviceCommandsTest, PortWithoutPermissionGivesTheDialoutHint) {
    StartDevice();
    CliRun run;
    if (::geteuid() == 0) {
        // Root may open anything: take every permission off the simulator's port and run
        // the program without the privileges that pass over file modes.
        ASSERT_EQ(::chmod(port_.c_str(), 0), 0);
        std::vector<std::string> args(std::begin(testing::kSetprivUnprivileged),
                                      std::end(testing::kSetprivUnprivileged));
        args.insert(args.end(), {"--", kCli, "detect", "--port", port_});
        ChildProcess process("/usr/bin/setpriv", args, CliOptions());
        if (!process.Started()) {
            StopDevice();
            GTEST_SKIP() << "setpriv is not available";
        }
        run = Finish(process, 60s);
        if (run.status == 126 || run.status == 127) {
            StopDevice();
            GTEST_SKIP() << "the program cannot be run as another user here: " << run.err;
        }
    } else {
        const std::string path = WriteWorkFile("locked", {'x'});
        std::filesystem::permissions(path, std::filesystem::perms::none);
        run = RunCli({"detect", "--port", path});
    }
    StopDevice();
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(Contains(run.err, std::string(kPortNotOpened) + "\nYou are not allowed to use"))
        << run.err;
    EXPECT_TRUE(Contains(run.err, "Add your user to the dialout group")) << run.err;
}

TEST_F(DeviceCommandsTest, SavedPortIsUsedWhenNoneIsGiven) {
    SaveSettings("[General]\nPort=quillon-saved-port\n");
    const CliRun run = RunCli({"upload"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(Contains(run.err, "quillon-saved-port (/dev/quillon-saved-port)")) << run.err;
    EXPECT_EQ(ReadText(SettingsFile()), "[General]\nPort=quillon-saved-port\n");
}

TEST_F(DeviceCommandsTest, PortInUseIsReportedAndWaitingCanBeInterrupted) {
    StartDevice({"--start-off"});
    auto first = StartCli({"detect", "--port", port_});
    ASSERT_TRUE(first->WaitForOutput("Please power up the device now.\n", 60s));
    const CliRun second = RunCli({"upload", "--port", port_});
    EXPECT_EQ(second.status, 2);
    EXPECT_TRUE(Contains(second.err, "is in use by another program.")) << second.err;

    first->Signal(SIGINT);
    const CliRun run = Finish(*first, 60s);
    StopDevice();
    EXPECT_EQ(run.status, 6);
    EXPECT_TRUE(Contains(run.err, "interrupted while waiting for the device")) << run.err;
}

TEST_F(DeviceCommandsTest, NoDeviceWithinTheWait) {
    StartDevice({"--start-off"});
    const auto started = std::chrono::steady_clock::now();
    const CliRun run = RunCli({"upload", "--port", port_, "--wait", "1.5"});
    const auto took = std::chrono::steady_clock::now() - started;
    StopDevice();
    EXPECT_EQ(run.status, 3);
    EXPECT_TRUE(Contains(run.err, "no device answered within 1.5 seconds")) << run.err;
    EXPECT_GE(took, 1500ms);
    EXPECT_FALSE(ModulesSent());
}

TEST_F(DeviceCommandsTest, UtilityPackageWithoutActivationBlocksIsInvalid) {
    // The reference utility package less its ten leading activation block records.
    const test::Bytes& reference = test::ReferenceUtility();
    constexpr std::size_t kActivationRecordsSize = 10 * (kRecordHeaderSize + kBlockSize);
    const std::string path = WriteWorkFile(
        "utility.bin", test::Bytes(reference.begin() + kActivationRecordsSize, reference.end()));
    StartDevice();
    const CliRun run = RunCli({"detect", "--port", port_, "--utility", path});
    StopDevice();
    EXPECT_EQ(run.status, 7);
    EXPECT_TRUE(Contains(run.err, "Problem Encountered!\nInvalid \"Utility.bin\" file.\nCannot "
                                  "continue with the upload process."))
        << run.err;
    EXPECT_EQ(Occurrences(trace_, "rx "), 0u);
}

TEST_F(DeviceCommandsTest, DamagedPackageIsNamed) {
    test::Bytes damaged = test::ReferenceUtility();
    damaged[0] = 15; // the first record header's size field
    const std::string path = WriteWorkFile("damaged.bin", damaged);
    const CliRun run = RunCli({"upload", "--port", "/dev/null", "--utility", path});
    EXPECT_EQ(run.status, 7);
    EXPECT_TRUE(Contains(run.err, "The file \"" + path +
                                      "\" is invalid - cannot continue.\n\n"
                                      "Please obtain the original firmware "
                                      "package supplied by Veldra Pty. Ltd."))
        << run.err;
}

TEST_F(DeviceCommandsTest, CommandLineMistakesAreUsageErrors) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"upload", "--bogus"},
                                                 {"upload", "--wait", "soon"},
                                                 {"detect", "--wait", "0"},
                                                 {"upload", "--log"},
                                                 {"detect", "--port="},
                                                 {"detect", "extra"}}) {
        const CliRun run = RunCli(args);
        EXPECT_EQ(run.status, 1) << args.back();
        EXPECT_TRUE(Contains(run.err, "--help")) << run.err;
    }
    const CliRun help = RunCli({"upload", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(Contains(help.out, "--slow"));
}

// ---------------------------------------------------------------------------------------
// Several devices at once, station mode, receipts and JSON events, and a program that
// outlives its terminal.

std::vector<QJsonObject> JsonLines(const std::string& text) {
    std::vector<QJsonObject> objects;
    for (const std::string& line : Lines(text)) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(
            QByteArray(line.data(), static_cast<qsizetype>(line.size())), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << "not a JSON line: " << line;
        objects.push_back(document.object());
    }
    return objects;
}

std::string Str(const QJsonValue& value) {
    return value.toString().toStdString();
}

class StationTest : public DeviceCommandsTest {
protected:
    // A simulated device of its own with the short image; its port.
    std::string AddDevice(std::vector<std::string> args) {
        args.insert(args.end(), {"--firmware-package", Image()});
        devices_.push_back(std::make_unique<DevSim>(args));
        return devices_.back()->Port();
    }
    std::string Image() {
        if (image_.empty()) {
            image_ = WriteWorkFile("small.bin", SmallImage(1000));
        }
        return image_;
    }
    std::string Summary(std::size_t device) { return devices_[device]->Stop(); }
    // Waits until the report holds `count` lines.
    bool WaitForReceipts(const std::string& path, std::size_t count) {
        for (int i = 0; i < 1200; ++i) {
            if (Lines(ReadText(path)).size() >= count) {
                return true;
            }
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    std::vector<std::unique_ptr<DevSim>> devices_;
    std::string image_;
};

TEST_F(StationTest, ThreeDevicesAtOnceEachWithItsOutcomeReceiptAndEvents) {
    const std::string good = AddDevice({});
    const std::string badCrc = AddDevice({"--crc", "bad"});
    const std::string refused = AddDevice({"--board-id", "9;9;9;9;Y;3;5"});
    const std::string report = work_.File("receipts.jsonl");
    const CliRun run = RunCli({"upload", "--port", good, "--port", badCrc, "--port", refused,
                               "--yes", "--firmware", Image(), "--report", report, "--json"});
    // The failed upload is the most serious of success, failure and refusal.
    EXPECT_EQ(run.status, 5) << run.out << run.err;
    EXPECT_TRUE(Contains(Summary(0), "holds the complete firmware image (4/4"));
    EXPECT_TRUE(Contains(Summary(1), "holds the complete firmware image (4/4"));
    EXPECT_TRUE(Contains(Summary(2), "image incomplete"));
    // The text for people went to standard error, each line with its port.
    EXPECT_TRUE(Contains(run.err, good + ": " + texts::kTransferSucceeded)) << run.err;
    EXPECT_TRUE(Contains(run.err, badCrc + ": The CRC check of the uploaded firmware has failed."));
    EXPECT_TRUE(Contains(run.err, refused + ": The supplied firmware image is not suitable"));

    struct Expected {
        std::string port, result, phase, outcome;
        int status;
    };
    const std::vector<Expected> expected = {{good, "success", "", "accept", 0},
                                            {badCrc, "failed", "crc", "accept", 5},
                                            {refused, "refused", "decision", "refuse", 4}};
    const auto receipts = JsonLines(ReadText(report));
    ASSERT_EQ(receipts.size(), 3u) << ReadText(report);
    // Standard output carries JSON Lines only; each result event holds the receipt.
    std::vector<QJsonObject> results;
    std::map<std::string, std::set<std::string>> events;
    for (const QJsonObject& event : JsonLines(run.out)) {
        events[Str(event["port"])].insert(Str(event["event"]));
        if (Str(event["event"]) == "result") {
            results.push_back(event["receipt"].toObject());
        }
    }
    const std::regex isoTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    for (const Expected& want : expected) {
        SCOPED_TRACE(want.port);
        const auto receipt = std::find_if(receipts.begin(), receipts.end(), [&](const auto& r) {
            return Str(r["port"]) == want.port;
        });
        ASSERT_NE(receipt, receipts.end());
        const QJsonObject& r = *receipt;
        EXPECT_EQ(Str(r["result"]), want.result);
        EXPECT_EQ(r["exit_status"].toInt(), want.status);
        EXPECT_EQ(Str(r["failed_phase"]), want.phase);
        EXPECT_EQ(r["failed_phase"].isNull(), want.phase.empty());
        EXPECT_EQ(Str(r["decision"]["outcome"]), want.outcome);
        EXPECT_TRUE(std::regex_match(Str(r["started_at"]), isoTime)) << Str(r["started_at"]);
        EXPECT_TRUE(std::regex_match(Str(r["ended_at"]), isoTime));
        EXPECT_GE(Str(r["ended_at"]), Str(r["started_at"]));
        EXPECT_EQ(Str(r["device"]["board_type_id"]),
                  want.result == "refused" ? "9;9;9;9;Y;3;5" : "0;4;1;7;Y;3;5");
        EXPECT_EQ(Str(r["device"]["bootloader"]["text"]), "1.1.1");
        EXPECT_EQ(Str(r["device"]["firmware"]["product"]), "KOLM");
        EXPECT_EQ(Str(r["package"]["firmware"]["text"]), "1.4.6");
        EXPECT_TRUE(r["by_id"].isNull()); // pseudo-terminals have no USB identity
        EXPECT_FALSE(Str(r["host"]).empty());
        EXPECT_GE(r["seconds"].toDouble(), 0.0);
        if (want.result != "refused") {
            // The flash and CRC modules, four image records, the launch.
            EXPECT_GE(r["records_sent"].toInt(), 7);
            EXPECT_GE(r["bytes_sent"].toInt(), 4 * 4 * 32);
        }
        EXPECT_EQ(events[want.port].count("port_opened"), 1u);
        EXPECT_EQ(events[want.port].count("device_detected"), 1u);
        EXPECT_EQ(events[want.port].count("decision"), 1u);
        EXPECT_EQ(events[want.port].count("progress"), want.result == "refused" ? 0u : 1u);
        EXPECT_EQ(std::count(results.begin(), results.end(), r), 1);
    }
}

TEST_F(StationTest, StationServesTwoDevicesInTurnOnOnePort) {
    const std::string port = AddDevice({});
    const std::string report = work_.File("station.jsonl");
    // Without --yes: the second device, which already has the new firmware, is refused.
    auto cli = StartCli(
        {"upload", "--station", "--port", port, "--firmware", Image(), "--report", report});
    ASSERT_TRUE(WaitForReceipts(report, 1)) << cli->Out() << cli->Err();
    // The first device is served; the port waits for the next one.
    ASSERT_TRUE(cli->WaitForOutput("station: updated 1, failed 0, refused 0\n" + port +
                                       ": Please power up the device now.\n",
                                   60s))
        << cli->Out();
    devices_[0]->PowerCycle();
    ASSERT_TRUE(WaitForReceipts(report, 2)) << cli->Out() << cli->Err();
    ASSERT_TRUE(cli->WaitForOutput("station: updated 1, failed 0, refused 1\n", 60s)) << cli->Out();
    cli->Signal(SIGINT);
    const CliRun run = Finish(*cli, 60s);
    EXPECT_EQ(run.status, 4) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "Station ended: updated 1, failed 0, refused 1"));
    const auto receipts = JsonLines(ReadText(report));
    ASSERT_EQ(receipts.size(), 2u);
    EXPECT_EQ(Str(receipts[0]["result"]), "success");
    EXPECT_EQ(Str(receipts[0]["device"]["firmware"]["text"]), "1.4.2");
    EXPECT_EQ(Str(receipts[1]["result"]), "refused");
    EXPECT_EQ(Str(receipts[1]["decision"]["outcome"]), "warn");
    EXPECT_EQ(Str(receipts[1]["device"]["firmware"]["text"]), "1.4.6");
}

// Ctrl-C without a terminal while one port is mid-upload and the other still waits for its
// device: the upload is aborted at once (the Close question's answer without a terminal),
// the waiting port stops waiting, and the station ends with the abort's status.
TEST_F(StationTest, InterruptMidUploadAbortsThatDeviceAndEndsTheWaitOfTheOthers) {
    // Forty image records of 400 ms each: the upload is well under way at a quarter.
    const std::string image = WriteWorkFile("long.bin", testing::SmallImage(40, 1000));
    devices_.push_back(std::make_unique<DevSim>(
        std::vector<std::string>{"--programming-time", "400", "--firmware-package", image}));
    const std::string busy = devices_.back()->Port();
    const std::string idle = AddDevice({"--power-up-delay", "3600000"});
    const std::string report = work_.File("station.jsonl");
    auto cli = StartCli({"upload", "--station", "--yes", "--port", busy, "--port", idle,
                         "--firmware", image, "--report", report});
    ASSERT_TRUE(cli->WaitForOutput(busy + ": 25% Complete\n", 120s)) << cli->Out() << cli->Err();
    cli->Signal(SIGINT);
    const CliRun run = Finish(*cli, 60s);
    EXPECT_EQ(run.status, 6) << run.out << run.err;
    const std::string aborted = texts::kAborted;
    EXPECT_TRUE(Contains(run.out, busy + ": " + aborted.substr(0, aborted.find('\n')))) << run.out;
    EXPECT_TRUE(Contains(run.out, "Station ended: updated 0, failed 1, refused 0")) << run.out;
    const auto receipts = JsonLines(ReadText(report));
    ASSERT_EQ(receipts.size(), 1u) << ReadText(report);
    EXPECT_EQ(Str(receipts[0]["port"]), busy);
    EXPECT_EQ(Str(receipts[0]["result"]), "aborted");
    EXPECT_TRUE(Contains(Summary(0), "image incomplete")) << Summary(0);
}

TEST_F(StationTest, PortThatCannotBeOpenedLeavesTheOthersAlone) {
    const std::string good = AddDevice({});
    const std::string missing = "/dev/quillon-no-such-port";
    const CliRun run =
        RunCli({"upload", "--port", good, "--port", missing, "--yes", "--firmware", Image()});
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, missing + ": There is no serial port " + missing)) << run.out;
    EXPECT_TRUE(Contains(run.out, good + ": " + texts::kTransferSucceeded));
    EXPECT_TRUE(Contains(Summary(0), "holds the complete firmware image (4/4"));
}

// An adapter unplugged while the station runs and plugged back in: the simulator ends,
// taking its link, and a new one makes the same name. A port that was only waiting for its
// device writes no receipt and counts nothing; one pulled mid-image records the hang-up.
// Either way the port then serves the device plugged in behind the same name.
struct Replug {
    const char* name;
    std::vector<std::string> firstDevice;
    bool hangsUpItself;               // else it is unplugged while the station waits for it
    std::vector<std::string> results; // of the receipts, in order
    const char* tally;
};

class StationReplugTest : public StationTest, public ::testing::WithParamInterface<Replug> {};

TEST_P(StationReplugTest, PortServesTheDevicePluggedBackIn) {
    const Replug& replug = GetParam();
    const std::string link = work_.File("adapter");
    const std::string report = work_.File("replug.jsonl");
    std::vector<std::string> first = replug.firstDevice;
    first.insert(first.end(), {"--link", link});
    AddDevice(first);
    auto cli = StartCli({"upload", "--station", "--yes", "--port", link, "--firmware", Image(),
                         "--report", report});
    ASSERT_TRUE(cli->WaitForOutput(link + ": Please power up the device now.\n", 60s))
        << cli->Out();
    if (replug.hangsUpItself) {
        ASSERT_TRUE(WaitForReceipts(report, 1)) << cli->Out() << cli->Err();
    }
    EXPECT_TRUE(Contains(Summary(0), "image incomplete"));
    ASSERT_TRUE(
        cli->WaitForOutput(link + ": the serial port hung up; waiting for it to come back\n", 60s))
        << cli->Out();
    AddDevice({"--link", link});
    ASSERT_TRUE(WaitForReceipts(report, replug.results.size())) << cli->Out() << cli->Err();
    ASSERT_TRUE(cli->WaitForOutput(std::string("station: ") + replug.tally + "\n", 60s))
        << cli->Out();
    cli->Signal(SIGINT);
    const CliRun run = Finish(*cli, 60s);
    EXPECT_TRUE(Contains(run.out, std::string("Station ended: ") + replug.tally)) << run.out;
    std::vector<std::string> results;
    for (const QJsonObject& receipt : JsonLines(ReadText(report))) {
        results.push_back(Str(receipt["result"]));
    }
    EXPECT_EQ(results, replug.results);
    EXPECT_TRUE(Contains(Summary(1), "holds the complete firmware image (4/4"));
}

INSTANTIATE_TEST_SUITE_P(UnpluggedAndBack, StationReplugTest,
                         ::testing::Values(Replug{"WhileWaiting",
                                                  {"--start-off"},
                                                  false,
                                                  {"success"},
                                                  "updated 1, failed 0, refused 0"},
                                           Replug{"MidImage",
                                                  {"--hang-up", "image:2"},
                                                  true,
                                                  {"hung-up", "success"},
                                                  "updated 1, failed 1, refused 0"}),
                         [](const auto& param) { return std::string(param.param.name); });

// Mistakes found before any device is touched: the device never receives a record.
struct StartRefusal {
    const char* name;
    std::function<std::vector<std::string>(const std::string& port, const TempDirectory&)> args;
    int status;
    std::string message;
};

class StationRefusalTest : public StationTest,
                           public ::testing::WithParamInterface<StartRefusal> {};

TEST_P(StationRefusalTest, RefusedBeforeAnyDeviceIsTouched) {
    const std::string port = AddDevice({});
    std::vector<std::string> args{"upload", "--yes", "--firmware", Image()};
    const auto extra = GetParam().args(port, work_);
    args.insert(args.end(), extra.begin(), extra.end());
    const CliRun run = RunCli(args);
    devices_[0]->Stop();
    const std::string trace = devices_[0]->Trace();
    EXPECT_EQ(run.status, GetParam().status) << run.out << run.err;
    EXPECT_TRUE(Contains(run.err, GetParam().message)) << run.err;
    EXPECT_EQ(Occurrences(trace, "rx "), 0u) << trace;
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, StationRefusalTest,
    ::testing::Values(
        StartRefusal{"PortNamedTwice",
                     [](const std::string& p, const TempDirectory&) {
                         return std::vector<std::string>{"--port", p, "--port", p};
                     },
                     1, "is named twice"},
        // The device's raw output would break the JSON lines on standard output.
        StartRefusal{"LogToStandardOutputWithJson",
                     [](const std::string& p, const TempDirectory&) {
                         return std::vector<std::string>{"--port", p, "--log", "-", "--json"};
                     },
                     1, "--log - (standard output) takes a single --port"},
        StartRefusal{"SameDeviceThroughALink",
                     [](const std::string& p, const TempDirectory& work) {
                         std::filesystem::create_symlink(p, work.File("link"));
                         return std::vector<std::string>{"--port", p, "--ports", work.File("li*")};
                     },
                     1, "are the same device"},
        StartRefusal{
            "GlobWithoutMatch",
            [](const std::string& p, const TempDirectory& work) {
                return std::vector<std::string>{"--port", p, "--ports", work.File("none-*")};
            },
            2, "no serial port matches"},
        StartRefusal{"ReportInMissingFolder",
                     [](const std::string& p, const TempDirectory& work) {
                         return std::vector<std::string>{"--port", p, "--report",
                                                         work.File("missing/r.jsonl")};
                     },
                     1, "does not exist"},
        StartRefusal{
            "ReportIsAFifo",
            [](const std::string& p, const TempDirectory& work) {
                ::mkfifo(work.File("fifo").c_str(), 0600);
                return std::vector<std::string>{"--port", p, "--report", work.File("fifo")};
            },
            1, "is not a regular file"},
        StartRefusal{
            "ReportIsAFolder",
            [](const std::string& p, const TempDirectory& work) {
                return std::vector<std::string>{"--port", p, "--report", work.Path().string()};
            },
            1, "is not a regular file"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(StationTest, ReadOnlyReportIsRefused) {
    const std::string report = work_.File("readonly.jsonl");
    std::ofstream(report) << "";
    std::filesystem::permissions(report, std::filesystem::perms::owner_read |
                                             std::filesystem::perms::group_read |
                                             std::filesystem::perms::others_read);
    std::filesystem::permissions(work_.Path(), std::filesystem::perms::all);
    std::vector<std::string> args{"upload", "--port", "/dev/null", "--report", report};
    CliRun run;
    if (::geteuid() == 0) {
        // Root writes read-only files: run as an ordinary user, as the dialout test does.
        ChildProcess::Options options = CliOptions();
        options.workingDirectory = "/";
        args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", "--", kCli});
        ChildProcess process("/usr/bin/setpriv", args, options);
        if (!process.Started()) {
            GTEST_SKIP() << "setpriv is not available";
        }
        run = Finish(process, 60s);
        if (run.status == 126 || run.status == 127) {
            GTEST_SKIP() << "the program cannot be run as another user here: " << run.err;
        }
    } else {
        run = RunCli(args);
    }
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(Contains(run.err, "cannot be written: Permission denied")) << run.err;
}

TEST_F(StationTest, ReceiptThatCannotBeWrittenLeavesTheOutcomeAndTheFile) {
    const std::string port = AddDevice({});
    const std::string report = work_.File("full.jsonl");
    // The file is already past the size limit the program runs under: no receipt fits.
    std::string before;
    for (int i = 0; i < 200; ++i) {
        before += "{\"earlier\":" + std::to_string(i) + "}\n";
    }
    std::ofstream(report) << before;
    ChildProcess process("/bin/bash",
                         {"-c", "ulimit -f 1 && exec \"$0\" \"$@\"", kCli, "upload", "--port", port,
                          "--yes", "--firmware", Image(), "--report", report},
                         CliOptions());
    const CliRun run = Finish(process);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "the receipt could not be written to " + report)) << run.out;
    EXPECT_EQ(ReadText(report), before);
    EXPECT_TRUE(Contains(Summary(0), "holds the complete firmware image (4/4"));
}

// The reader of the output goes away, or there is no output at all: the transfer runs to
// its end and the exit status tells the outcome.
class LostOutputTest : public StationTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LostOutputTest, TransferRunsToItsEnd) {
    const std::string port = AddDevice({});
    ChildProcess process(
        "/bin/bash",
        {"-c", GetParam(), kCli, "upload", "--port", port, "--yes", "--firmware", Image()},
        CliOptions());
    const CliRun run = Finish(process);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.err, "cli=0")) << run.err;
    EXPECT_TRUE(Contains(Summary(0), "holds the complete firmware image (4/4"));
}

INSTANTIATE_TEST_SUITE_P(
    Output, LostOutputTest,
    ::testing::Values(
        // head reads two lines and goes: later writes meet a closed pipe.
        "\"$0\" \"$@\" | head -n 2 >/dev/null; echo \"cli=${PIPESTATUS[0]}\" >&2",
        // No standard output (nor error) at all.
        "\"$0\" \"$@\" >&- 2>&-; echo \"cli=$?\" >&2",
        // JSON events into a pipe that closes.
        "\"$0\" \"$@\" --json | head -n 1 >/dev/null; echo \"cli=${PIPESTATUS[0]}\" >&2"));

TEST_F(DeviceCommandsTest, HangUpBeforeTheUploadEndsTheProgram) {
    StartDevice({"--start-off"});
    auto cli = StartCli({"upload", "--port", port_, "--yes"});
    ASSERT_TRUE(cli->WaitForOutput("Please power up the device now.\n", 60s));
    cli->Signal(SIGHUP);
    // The same bound as a whole upload: under ThreadSanitizer on a loaded machine the
    // worker's wind-down has been seen to outlast a minute.
    const CliRun run = Finish(*cli);
    StopDevice();
    EXPECT_EQ(run.status, 6) << run.out << run.err;
    EXPECT_FALSE(ModulesSent());
}

TEST_F(DeviceCommandsTest, HangUpDuringTheUploadLetsItFinish) {
    StartDevice();
    auto cli = StartCli({"upload", "--port", port_, "--yes"});
    ASSERT_TRUE(cli->WaitForOutput("\n5% Complete\n", 120s)) << cli->Out() << cli->Err();
    cli->Signal(SIGHUP);
    const CliRun run = Finish(*cli);
    StopDevice();
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.err, "The terminal hung up; the upload runs to its end."));
    EXPECT_TRUE(Contains(summary_, kHoldsImage)) << summary_;
}

} // namespace
} // namespace quillon
