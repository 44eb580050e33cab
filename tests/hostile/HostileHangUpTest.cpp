// The USB adapter pulled out (the pseudo-terminal hung up) while the program waits for the
// device, while it identifies it and while it uploads: each ends with a clear outcome
// within the protocol's retries, and nothing hangs.

#include "cli/CDeviceSession.h"
#include "cli/CliExitStatus.h"
#include "resources/EmbeddedResources.h"
#include "tests/hostile/HostileSupport.h"
#include "tests/support/DeviceScenarios.h"
#include "tests/support/Polling.h"
#include "tests/support/TempDirectory.h"
#include "tools/devsim/CDeviceSimulator.h"
#include "tools/soak/SoakPackages.h"
#include "upload/CMessageQueue.h"
#include "upload/CUploadCore.h"
#include "upload/CompatibilityDecision.h"
#include "upload/UploadTexts.h"

#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::Contains;
using testing::NeverPoweredUp;
using testing::RunCli;
using testing::TempDirectory;

// Record numbers of the shipped utility package: the board identification module for the
// simulated device's bootloader has its first data record at 39.
constexpr int kBrdIdModFirstData = 39;

const SoakPackages& Packages() {
    static const SoakPackages packages = MakeSoakPackages(
        EmbeddedResources::UtilityPackage(), EmbeddedResources::FirmwareImage(), 3, 1000, 2000);
    return packages;
}

class HostileHangUpTest : public ::testing::Test {
protected:
    void SetUp() override {
        utilityFile_ = folder_.File("utility.bin");
        firmwareFile_ = folder_.File("firmware.bin");
        std::ofstream(utilityFile_, std::ios::binary)
            .write(reinterpret_cast<const char*>(Packages().utility.data()),
                   static_cast<std::streamsize>(Packages().utility.size()));
        std::ofstream(firmwareFile_, std::ios::binary)
            .write(reinterpret_cast<const char*>(Packages().image.data()),
                   static_cast<std::streamsize>(Packages().image.size()));
    }

    std::unique_ptr<CDeviceSimulator> StartDevice(DevSimScenario scenario) {
        scenario.pacing = false;
        auto device =
            std::make_unique<CDeviceSimulator>(scenario, Packages().utility, Packages().image);
        EXPECT_EQ(device->Start(), kOk);
        return device;
    }

    testing::CliResult Cli(const std::string& command, const std::string& port,
                           const std::vector<std::string>& more = {}) {
        std::vector<std::string> args{command,      "--port",     port,         "--utility",
                                      utilityFile_, "--firmware", firmwareFile_};
        args.insert(args.end(), more.begin(), more.end());
        return RunCli(args);
    }

    TempDirectory folder_;
    std::string utilityFile_;
    std::string firmwareFile_;
};

TEST_F(HostileHangUpTest, WhileWaitingForTheDeviceTheActivationEndsAndSaysWhy) {
    auto device = StartDevice(NeverPoweredUp());
    CUploadCore core;
    core.LoadPackages(Packages().utility, Packages().image);
    ASSERT_FALSE(core.CollectActivationBlocks());
    ASSERT_EQ(core.OpenPort(device->SlavePath()), kOk);
    CMessageQueue queue;
    core.StartActivationWorker(&queue, false);
    ASSERT_TRUE(device->WaitForRecordCount(2, 10s));
    device->Stop(); // the adapter is gone
    const auto message = queue.Take(60s);
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->number, kMsgLineLost);
    EXPECT_TRUE(core.LineLost());
    EXPECT_TRUE(core.StopActivationWorker(600));
    EXPECT_FALSE(core.IsActivationWorkerRunning());
    core.ClosePort();
    EXPECT_FALSE(core.LineLost());
}

TEST_F(HostileHangUpTest, TheKeepAliveEndsQuietlyWhenTheLineGoes) {
    auto device = StartDevice(DevSimScenario{});
    CUploadCore core;
    core.LoadPackages(Packages().utility, Packages().image);
    ASSERT_FALSE(core.CollectActivationBlocks());
    ASSERT_EQ(core.OpenPort(device->SlavePath()), kOk);
    ASSERT_EQ(core.ActivateBootloader(-1, nullptr, false), kOk);
    CMessageQueue queue;
    core.StartActivationWorker(&queue, true);
    ASSERT_TRUE(device->WaitForRecordCount(2, 10s));
    device->Stop();
    ASSERT_TRUE(testing::WaitUntil([&] { return !core.IsActivationWorkerRunning(); }));
    // Reported like the detection's loss; a page with nothing to show for it ignores it.
    const auto message = queue.Take(0ms);
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->number, kMsgLineLost);
    EXPECT_TRUE(core.StopActivationWorker(600));
}

TEST_F(HostileHangUpTest, AHungUpPortIsOpenedAfreshWhenChosenAgain) {
    const std::string port = folder_.File("ttyVELDRA");
    auto device = StartDevice(DevSimScenario{});
    ASSERT_EQ(device->CreateLink(port), 0);
    CUploadCore core;
    core.LoadPackages(Packages().utility, Packages().image);
    ASSERT_FALSE(core.CollectActivationBlocks());
    ASSERT_EQ(core.OpenPort(port), kOk);
    device->Stop();
    ASSERT_TRUE(testing::WaitUntil([&] { return core.LineLost(); }));
    // The adapter is back under the same name: the stale handle must not be reused.
    auto again = StartDevice(DevSimScenario{});
    ASSERT_EQ(again->CreateLink(port), 0);
    ASSERT_EQ(core.OpenPort(port), kOk);
    EXPECT_FALSE(core.LineLost());
    EXPECT_EQ(core.ActivateBootloader(50, nullptr, false), kOk);
    core.ClosePort();
}

TEST_F(HostileHangUpTest, WhileTheCommandLineWaitsForTheDeviceItEndsWithoutADeadline) {
    auto device = StartDevice(NeverPoweredUp());
    const std::string port = device->SlavePath();
    // No --wait: before the line could go away unnoticed, this waited for ever.
    auto run = std::async(std::launch::async, [&] { return Cli("detect", port); });
    ASSERT_TRUE(device->WaitForRecordCount(2, 10s));
    device->Stop();
    ASSERT_EQ(run.wait_for(120s), std::future_status::ready);
    const auto result = run.get();
    EXPECT_EQ(result.status, kExitPortLost) << result.err;
    EXPECT_TRUE(Contains(result.err, "hung up while waiting for the device")) << result.err;
    EXPECT_TRUE(Contains(result.err, port)) << result.err;
}

TEST_F(HostileHangUpTest, DuringIdentificationNoVerdictIsGivenOnHalfTheFacts) {
    DevSimScenario scenario;
    scenario.faults.push_back(
        {DevSimFault::Kind::HangUp, {DevSimPackage::Utility, kBrdIdModFirstData}, 1, 0});
    auto device = StartDevice(scenario);
    const auto result = Cli("detect", device->SlavePath(), {"--wait", "20"});
    EXPECT_TRUE(device->Snapshot().hungUp);
    EXPECT_EQ(result.status, kExitPortLost) << result.out << result.err;
    EXPECT_TRUE(Contains(result.err, "hung up while the device was being identified"))
        << result.out << result.err;
    // Neither verdict: not "can be updated", and not the refusal a half-read board would get.
    EXPECT_FALSE(Contains(result.out, CDeviceSession::kAccepted)) << result.out;
    EXPECT_FALSE(Contains(result.out + result.err, texts::kBoardNotSuitable)) << result.out;
    EXPECT_LT(result.took, 180s);
}

TEST_F(HostileHangUpTest, DuringTheUploadItFailsClearlyAndTheDeviceIsNotCalledDone) {
    DevSimScenario scenario;
    scenario.faults.push_back({DevSimFault::Kind::HangUp, {DevSimPackage::Image, 2}, 1, 0});
    auto device = StartDevice(scenario);
    const auto result = Cli("upload", device->SlavePath(), {"--wait", "20", "--yes"});
    const DevSimState state = device->Snapshot();
    EXPECT_TRUE(state.hungUp);
    EXPECT_FALSE(state.holdsCompleteImage);
    EXPECT_EQ(result.status, kExitUploadFailed) << result.out << result.err;
    EXPECT_TRUE(Contains(result.out + result.err, texts::kImageFailed)) << result.out << result.err;
    EXPECT_TRUE(Contains(result.out + result.err, texts::kTransferFailed))
        << result.out << result.err;
    EXPECT_TRUE(Contains(result.err, "hung up during the upload")) << result.err;
    EXPECT_FALSE(Contains(result.out + result.err, texts::kTransferSucceeded));
    EXPECT_LT(result.took, 300s);
}

} // namespace
} // namespace quillon
