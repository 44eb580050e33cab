#include "link/SessionLog.h"

#include "link/CFWUplSerialEx.h"
#include "platform/PseudoTerminal.h"
#include "tests/support/Polling.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/TestText.h"
#include "tests/support/Unprivileged.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quillon {
namespace {

using namespace std::chrono_literals;

const std::string kHyphens(43, '-');

// Matches one header with any time stamp; returns what follows the first header.
::testing::AssertionResult StartsWithHeader(const std::string& text, std::string& rest) {
    const std::string lead = "\r\n" + kHyphens + "\r\nLog File Appended - ";
    const std::string stamp = "dddd/dd/dd dd:dd:dd\r\n"; // d = any digit
    if (text.size() < lead.size() + stamp.size() || text.compare(0, lead.size(), lead) != 0) {
        return ::testing::AssertionFailure() << "no header at the start of the log";
    }
    for (std::size_t i = 0; i < stamp.size(); ++i) {
        const char c = text[lead.size() + i];
        const bool ok =
            stamp[i] == 'd' ? std::isdigit(static_cast<unsigned char>(c)) != 0 : c == stamp[i];
        if (!ok) {
            return ::testing::AssertionFailure() << "bad time stamp in the header";
        }
    }
    rest = text.substr(lead.size() + stamp.size());
    return ::testing::AssertionSuccess();
}

TEST(SessionLogFormatTest, HeaderHasTheFixedLayout) {
    std::tm when{};
    when.tm_year = 2024 - 1900;
    when.tm_mon = 2;
    when.tm_mday = 5;
    when.tm_hour = 7;
    when.tm_min = 8;
    when.tm_sec = 9;
    EXPECT_EQ(SessionLog::FormatHeader(when),
              "\r\n" + kHyphens + "\r\nLog File Appended - 2024/03/05 07:08:09\r\n");
}

class SessionLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pty_.Open(), 0);
        ASSERT_EQ(link_.Open(pty_.SlavePath(), 2048, 2048, true), kOk);
        ASSERT_EQ(link_.ConfigureLine(19200, 8, kParityNone, kStopBitsOne), kOk);
    }

    // Sends bytes and waits until the link has buffered them (so they were logged).
    void Deliver(const std::string& bytes) {
        const std::size_t before = link_.AvailableBytes();
        ASSERT_EQ(pty_.Write(bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ASSERT_TRUE(
            testing::WaitUntil([&] { return link_.AvailableBytes() == before + bytes.size(); }));
    }

    testing::TempDirectory dir_;
    PseudoTerminal pty_;
    CFWUplSerialEx link_;
};

TEST_F(SessionLogTest, EveryReceivedByteFollowsTheHeaderUnchanged) {
    const std::string path = dir_.File("session.log");
    Deliver("before the log\r\n"); // not logged
    link_.OpenLog(path);
    ASSERT_TRUE(link_.IsLogOpen());
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all.push_back(static_cast<char>(i));
    }
    const std::string startup = std::string("Boot\0\x01\x7F\xFF", 8) + "\r\n*** Unit Initialised";
    Deliver(startup);
    Deliver(all);
    link_.OpenLog(""); // closes
    EXPECT_FALSE(link_.IsLogOpen());
    Deliver("after the log");

    std::string rest;
    ASSERT_TRUE(StartsWithHeader(testing::ReadText(path), rest));
    EXPECT_EQ(rest, startup + all);
}

TEST_F(SessionLogTest, TwoSessionsAppendToOneFile) {
    const std::string path = dir_.File("twice.log");
    link_.OpenLog(path);
    Deliver("first run");
    link_.OpenLog(path); // a second run with the same path
    Deliver("second run");
    link_.OpenLog("");

    const std::string text = testing::ReadText(path);
    std::string rest;
    ASSERT_TRUE(StartsWithHeader(text, rest));
    ASSERT_EQ(rest.rfind("first run", 0), 0u);
    std::string second;
    ASSERT_TRUE(StartsWithHeader(rest.substr(9), second));
    EXPECT_EQ(second, "second run");
}

TEST_F(SessionLogTest, LogThatCannotBeOpenedIsSkipped) {
    ASSERT_EQ(mkfifo(dir_.File("fifo").c_str(), 0600), 0);
    const std::string held = dir_.File("held.log");
    SessionLog other;
    ASSERT_TRUE(other.Open(held)); // in use elsewhere
    std::vector<std::string> paths = {dir_.File("no/such/folder/x.log"), dir_.Path().string(),
                                      dir_.File("fifo"), held, std::string(5000, 'x')};
    // A read-only file, tried where file modes bind (root would write it anyway).
    const std::string readOnly = dir_.File("read-only.log");
    std::ofstream(readOnly) << "kept";
    ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
    EXPECT_EQ(testing::RunUnprivileged([&readOnly] {
                  CFWUplSerialEx link;
                  link.OpenLog(readOnly);
                  return !link.IsLogOpen();
              }),
              0);
    EXPECT_EQ(testing::ReadText(readOnly), "kept");
    for (const auto& path : paths) {
        SCOPED_TRACE(path.substr(0, 60));
        link_.OpenLog(path); // must not block or throw
        EXPECT_FALSE(link_.IsLogOpen());
    }
    other.Close();
    std::string rest;
    ASSERT_TRUE(StartsWithHeader(testing::ReadText(held), rest));
    EXPECT_EQ(rest, ""); // the failed attempt added nothing
    Deliver("still working");
    std::uint8_t byte = 0;
    EXPECT_EQ(link_.ReadByte(byte, 1000), kOk);
    EXPECT_EQ(byte, 's');
}

// Where a user watches the start-up live: standard output ("-", here a pipe) and a FIFO
// with a reader. Both get the session; a reader that falls behind loses bytes, but never
// holds up the port's event thread, which writes the log.
TEST_F(SessionLogTest, StandardOutputAndFifoTakeTheSessionWithoutHoldingTheLine) {
    const std::string fifo = dir_.File("watch");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const bool standardOutput : {true, false}) {
        SCOPED_TRACE(standardOutput ? "standard output" : "FIFO");
        int ends[2] = {-1, -1};
        int savedOutput = -1;
        if (standardOutput) {
            ASSERT_EQ(pipe(ends), 0);
            std::fflush(stdout);
            savedOutput = dup(STDOUT_FILENO);
            ASSERT_GE(dup2(ends[1], STDOUT_FILENO), 0);
            close(ends[1]);
            link_.OpenLog(SessionLog::kStandardOutput);
        } else {
            ends[0] = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
            ASSERT_GE(ends[0], 0);
            link_.OpenLog(fifo);
        }
        EXPECT_TRUE(link_.IsLogOpen());
        Deliver("booting\r\n");
        std::string seen(4096, '\0');
        const ssize_t got = read(ends[0], seen.data(), seen.size());
        seen.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        // Far more than a pipe holds, while nobody reads: the link still takes every byte.
        for (int chunk = 0; chunk < 64; ++chunk) {
            Deliver(std::string(4096, 'x'));
        }
        link_.OpenLog("");
        if (standardOutput) {
            ASSERT_GE(dup2(savedOutput, STDOUT_FILENO), 0);
            close(savedOutput);
        }
        close(ends[0]);
        std::string rest;
        ASSERT_TRUE(StartsWithHeader(seen, rest));
        EXPECT_EQ(rest, "booting\r\n");
        link_.ClearReceiveBuffer();
    }
}

TEST_F(SessionLogTest, ReplacingTheLogWhileBytesStreamLosesNoOrder) {
    const std::string a = dir_.File("a.log");
    const std::string b = dir_.File("b.log");
    std::atomic<bool> done{false};
    std::string sent;
    for (int i = 0; i < 4000; ++i) {
        sent.push_back(static_cast<char>('0' + i % 10));
    }
    std::thread sender([&] {
        for (std::size_t i = 0; i < sent.size(); i += 100) {
            pty_.Write(sent.data() + i, 100);
            std::this_thread::sleep_for(1ms);
        }
        done = true;
    });
    int swaps = 0;
    while (!done) {
        link_.OpenLog(swaps++ % 2 == 0 ? a : b);
        std::this_thread::sleep_for(2ms);
    }
    sender.join();
    ASSERT_TRUE(testing::WaitUntil([&] { return link_.AvailableBytes() == sent.size(); }));
    link_.OpenLog("");
    // Every session in either file is a run of the stream, unchanged.
    for (const auto& path : {a, b}) {
        std::string text = testing::ReadText(path);
        std::string rest;
        while (!text.empty()) {
            ASSERT_TRUE(StartsWithHeader(text, rest));
            const auto next = rest.find("\r\n" + kHyphens);
            const std::string chunk = rest.substr(0, next);
            EXPECT_NE(sent.find(chunk), std::string::npos);
            text = next == std::string::npos ? std::string() : rest.substr(next);
        }
    }
}

} // namespace
} // namespace quillon
