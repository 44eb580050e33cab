// Session log paths that cannot be used: in a missing folder, on a read-only disk, a FIFO
// (with and without a reader), a folder. The log is simply not written: nothing blocks,
// nothing is created where it should not be, and the upload it belongs to still succeeds.

#include "cli/CliExitStatus.h"
#include "link/CFWUplSerialEx.h"
#include "link/SessionLog.h"
#include "resources/EmbeddedResources.h"
#include "tests/hostile/HostileSupport.h"
#include "tests/support/TempDirectory.h"
#include "tools/devsim/CDeviceSimulator.h"
#include "tools/soak/SoakPackages.h"
#include "upload/CMessageQueue.h"
#include "upload/CUploadCore.h"
#include "upload/CompatibilityDecision.h"
#include "upload/UploadTexts.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::TempDirectory;

// Quick packages: three image records, short reply timeouts.
const SoakPackages& Packages() {
    static const SoakPackages packages = MakeSoakPackages(
        EmbeddedResources::UtilityPackage(), EmbeddedResources::FirmwareImage(), 3, 1000, 2000);
    return packages;
}

class HostileLogTest : public ::testing::Test {
protected:
    // A whole upload with the given log path; true when it reported success.
    bool UploadWithLog(const std::string& logPath) {
        DevSimScenario scenario;
        scenario.pacing = false;
        CDeviceSimulator device(scenario, Packages().utility, Packages().image);
        EXPECT_EQ(device.Start(), kOk);
        // The queue outlives the core, whose upload thread posts into it to the end.
        CMessageQueue queue;
        CUploadCore core;
        core.LoadPackages(Packages().utility, Packages().image);
        core.SetLogPath(logPath);
        core.CollectActivationBlocks();
        if (core.OpenPort(device.SlavePath()) != kOk ||
            core.ActivateBootloader(200, nullptr, false) != kOk) {
            ADD_FAILURE() << "no device";
            return false;
        }
        core.IdentifyDevice();
        EXPECT_EQ(AssessCompatibility(core).outcome, CompatibilityOutcome::Accept);
        core.StartUpload(&queue);
        bool succeeded = false;
        std::string said;
        for (;;) {
            const auto message = queue.Take(120s);
            if (!message) {
                ADD_FAILURE() << "the upload did not end: " << said;
                return false;
            }
            if (message->number == kMsgStatus || message->number == kMsgError) {
                said += std::string(MessageText(message->lParam)) + " | ";
                succeeded =
                    std::strcmp(MessageText(message->lParam), texts::kTransferSucceeded) == 0;
            }
            if (message->number == kMsgSequenceEnded) {
                const bool done = device.WaitForStartupText(5s) && device.HoldsCompleteImage();
                EXPECT_TRUE(succeeded && done) << said << (done ? "" : " (device not done)");
                return succeeded && done;
            }
        }
    }

    TempDirectory folder_;
};

TEST_F(HostileLogTest, MissingFolderIsNotCreated) {
    const std::string path = folder_.File("no/such/folder/upload.log");
    SessionLog log;
    EXPECT_FALSE(log.Open(path));
    EXPECT_FALSE(std::filesystem::exists(folder_.File("no")));
    EXPECT_TRUE(UploadWithLog(path));
    EXPECT_FALSE(std::filesystem::exists(folder_.File("no")));
}

TEST_F(HostileLogTest, FifoIsNeverWaitedFor) {
    const std::string path = folder_.File("log.fifo");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    // No reader: opening for writing would block without O_NONBLOCK.
    SessionLog log;
    EXPECT_FALSE(log.Open(path));
    EXPECT_TRUE(UploadWithLog(path));

    // A reader at the other end takes the session, and one that does not read in time
    // loses bytes rather than holding up the upload.
    testing::FifoReader reader(path);
    ASSERT_TRUE(reader.IsOpen());
    EXPECT_TRUE(log.Open(path));
    log.Close();
    EXPECT_TRUE(UploadWithLog(path));
    EXPECT_GT(reader.Drain(), 0u);
}

TEST_F(HostileLogTest, FolderInPlaceOfTheFileIsLeftAlone) {
    const std::string path = folder_.File("upload.log");
    std::filesystem::create_directory(path);
    CFWUplSerialEx link;
    link.OpenLog(path);
    EXPECT_FALSE(link.IsLogOpen());
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST_F(HostileLogTest, ReadOnlyDiskLeavesTheLogClosedAndTheOldLogIntact) {
    const std::string existing = folder_.File("old.log");
    std::ofstream(existing) << "earlier session\n";
    const std::string fresh = folder_.File("new.log");
    const int verdict = testing::RunWithReadOnlyFolder(folder_.Path().string(), [&] {
        SessionLog log;
        const bool freshRefused = !log.Open(fresh) && !std::filesystem::exists(fresh);
        // An existing log cannot be appended to either.
        SessionLog old;
        const bool oldRefused = !old.Open(existing);
        return freshRefused && oldRefused;
    });
    if (verdict == testing::kNoReadOnlyFolder) {
        GTEST_SKIP() << "no way to make a folder read-only here";
    }
    EXPECT_EQ(verdict, 0);
    std::ifstream in(existing);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "earlier session");
}

TEST_F(HostileLogTest, ReadOnlyDiskDoesNotSpoilTheUpload) {
    const std::string path = folder_.File("upload.log");
    const int verdict = testing::RunWithReadOnlyFolder(folder_.Path().string(), [&] {
        return UploadWithLog(path) && !std::filesystem::exists(path);
    });
    if (verdict == testing::kNoReadOnlyFolder) {
        GTEST_SKIP() << "no way to make a folder read-only here";
    }
    EXPECT_EQ(verdict, 0);
}

} // namespace
} // namespace quillon
