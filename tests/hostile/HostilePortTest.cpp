// Port paths that are not serial ports, and a port another process holds: the engine
// answers with the status of the failed open, the command line with exit status 2 and a
// message that names the trouble; nothing blocks, and nothing at the path is changed.

#include "cli/CliExitStatus.h"
#include "platform/PseudoTerminal.h"
#include "platform/StatusCodes.h"
#include "tests/hostile/HostileSupport.h"
#include "tests/support/TempDirectory.h"
#include "upload/CUploadCore.h"
#include "upload/UploadTexts.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon {
namespace {

using testing::Contains;
using testing::RunCli;
using testing::TempDirectory;

constexpr const char* kPortNotOpened = "Selected COM port could not be opened.";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class HostilePortTest : public ::testing::Test {
protected:
    // The engine's answer, checked to leave no port open behind it.
    Status OpenWithEngine(const std::string& path) {
        CUploadCore core;
        const Status status = core.OpenPort(path);
        EXPECT_FALSE(core.Link().IsOpen());
        return status;
    }

    void ExpectCliRefuses(const std::string& path, const std::string& reason) {
        const auto result = RunCli({"detect", "--port", path, "--wait", "120"});
        EXPECT_EQ(result.status, kExitPortNotOpened) << result.err;
        EXPECT_TRUE(Contains(result.err, kPortNotOpened)) << result.err;
        EXPECT_TRUE(Contains(result.err, reason)) << result.err;
        // Refused at the door: the wait for a device never starts.
        EXPECT_FALSE(Contains(result.out, texts::kPowerUp)) << result.out;
        EXPECT_LT(result.took, std::chrono::seconds(60));
    }

    TempDirectory folder_;
};

TEST_F(HostilePortTest, RegularFileIsNotASerialPortAndStaysAsItWas) {
    const std::string path = folder_.File("notes.txt");
    std::ofstream(path) << "keep me\n";
    EXPECT_EQ(OpenWithEngine(path), kErrorInvalidFunction);
    ExpectCliRefuses(path, "is not a serial port");
    EXPECT_EQ(ReadAll(path), "keep me\n");
}

TEST_F(HostilePortTest, DirectoryIsRefused) {
    const std::string path = folder_.File("folder");
    std::filesystem::create_directory(path);
    EXPECT_EQ(OpenWithEngine(path), kErrorAccessDenied);
    ExpectCliRefuses(path, "Is a directory");
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST_F(HostilePortTest, FifoIsRefusedWithoutWaitingForAWriter) {
    const std::string path = folder_.File("pipe");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    // Without a reader or writer at the other end: opening must not block.
    EXPECT_EQ(OpenWithEngine(path), kErrorInvalidFunction);
    ExpectCliRefuses(path, "is not a serial port");
    // With a reader: still refused, and nothing is written into the pipe.
    testing::FifoReader reader(path);
    ASSERT_TRUE(reader.IsOpen());
    EXPECT_EQ(OpenWithEngine(path), kErrorInvalidFunction);
    EXPECT_EQ(reader.Drain(), 0u);
}

TEST_F(HostilePortTest, SymbolicLinkLoopIsRefused) {
    const std::string first = folder_.File("ttyA");
    const std::string second = folder_.File("ttyB");
    std::filesystem::create_symlink(second, first);
    std::filesystem::create_symlink(first, second);
    EXPECT_EQ(OpenWithEngine(first), kErrorPathNotFound);
    ExpectCliRefuses(first, "Too many levels of symbolic links");
}

TEST_F(HostilePortTest, MissingPortAndNonTerminalDeviceAreRefused) {
    EXPECT_EQ(OpenWithEngine(folder_.File("ttyUSB9")), kErrorFileNotFound);
    ExpectCliRefuses(folder_.File("ttyUSB9"), "There is no serial port");
    EXPECT_EQ(OpenWithEngine("/dev/null"), kErrorInvalidFunction);
    ExpectCliRefuses("/dev/null", "is not a serial port");
}

TEST_F(HostilePortTest, PortHeldByAnotherProcessIsRefusedUntilReleased) {
    PseudoTerminal pty;
    ASSERT_EQ(pty.Open(), 0);
    testing::PortHolder holder(pty.SlavePath());
    ASSERT_TRUE(holder.Holding());

    EXPECT_EQ(OpenWithEngine(pty.SlavePath()), kErrorAccessDenied);
    ExpectCliRefuses(pty.SlavePath(), "is in use by another program");

    holder.Release();
    CUploadCore core;
    EXPECT_EQ(core.OpenPort(pty.SlavePath()), kOk);
    EXPECT_TRUE(core.Link().IsOpen());
}

TEST_F(HostilePortTest, LinkToThePortIsFollowed) {
    // The stable name a udev rule gives an adapter is a symbolic link: that one must work.
    PseudoTerminal pty;
    ASSERT_EQ(pty.Open(), 0);
    const std::string link = folder_.File("ttyVeldra");
    ASSERT_EQ(pty.CreateLink(link), 0);
    CUploadCore core;
    EXPECT_EQ(core.OpenPort(link), kOk);
}

} // namespace
} // namespace quillon
