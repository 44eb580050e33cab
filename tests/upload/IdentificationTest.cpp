// Reading what the device says about itself: information lines into descriptors, the
// board identification reply into a board type ID, and the start-up message.

#include "upload/CStartupWatcher.h"
#include "upload/DeviceIdentification.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace quillon {
namespace {

TEST(DeviceLinesTest, TagOrderDecidesWhatSurvives) {
    VersionDescriptor firmware;
    ApplyDeviceLines({"PROD:abc", "VERS:1.4.6"}, firmware, kUnavailableText);
    EXPECT_EQ(firmware.product, "");
    EXPECT_EQ(firmware.text, "1.4.6");

    ApplyDeviceLines({"VERS:1.4.6", "PROD:abc"}, firmware, kUnavailableText);
    EXPECT_EQ(firmware.product, "abc");
    EXPECT_EQ(firmware.major, 1);
    EXPECT_EQ(firmware.minor, 4);
    EXPECT_EQ(firmware.revision, 6);
}

TEST(DeviceLinesTest, ValuesFollowTheFirstColonOrAreTheWholeLine) {
    VersionDescriptor bootloader;
    ApplyDeviceLines({"Prod=abc", "BILD:Oct 31 2007 11:27:49", "TIME:1500"}, bootloader,
                     kUnknownText);
    EXPECT_EQ(bootloader.product, "Prod=abc");
    EXPECT_EQ(bootloader.buildStamp, "Oct 31 2007 11:27:49");
    EXPECT_EQ(bootloader.timeStamp, 1500);
    EXPECT_EQ(bootloader.orderKey, -1);
}

TEST(DeviceLinesTest, EmptyListsGivePlaceholders) {
    VersionDescriptor bootloader;
    VersionDescriptor firmware;
    bootloader.SetText("2.1.2");
    firmware.SetText("1.4.6");
    ApplyDeviceLines({}, bootloader, kUnknownText);
    ApplyDeviceLines({}, firmware, kUnavailableText);
    EXPECT_EQ(bootloader.text, "Unknown");
    EXPECT_EQ(bootloader.major, -1);
    EXPECT_EQ(firmware.text, "Unavailable");
    EXPECT_EQ(firmware.orderKey, -1);
}

TEST(DeviceLinesTest, LinesWithoutVersionLeaveDescriptorUnset) {
    VersionDescriptor firmware;
    firmware.SetText("1.4.6");
    ApplyDeviceLines({"PROD:KOLM"}, firmware, kUnavailableText);
    EXPECT_EQ(firmware.text, "");
    EXPECT_EQ(firmware.product, "KOLM");
    EXPECT_EQ(firmware.orderKey, -1);
}

TEST(BoardIdDecodingTest, DecodesCharacterCodesAndDropsTheTrailer) {
    EXPECT_EQ(DecodeBoardTypeId("303431375933352A"), "0;4;1;7;Y;3;5");
    EXPECT_EQ(DecodeBoardTypeId("30343137593338zz"), "0;4;1;7;Y;3;8");
    EXPECT_EQ(DecodeBoardTypeId("4e6e2A"), "N;n"); // either case of hex digits
}

TEST(BoardIdDecodingTest, ZeroCodeEndsTheId) {
    EXPECT_EQ(DecodeBoardTypeId("3031003233XX"), "0;1");
}

TEST(BoardIdDecodingTest, UndecodableLinesAreUnavailable) {
    EXPECT_EQ(DecodeBoardTypeId(""), "Unavailable");
    EXPECT_EQ(DecodeBoardTypeId("3"), "Unavailable");
    EXPECT_EQ(DecodeBoardTypeId("2A"), "Unavailable");        // nothing before the trailer
    EXPECT_EQ(DecodeBoardTypeId("00312A"), "Unavailable");    // ends before it starts
    EXPECT_EQ(DecodeBoardTypeId("3031302A"), "0;1;0");        // even count: fine
    EXPECT_EQ(DecodeBoardTypeId("303132A"), "Unavailable");   // odd number of digits
    EXPECT_EQ(DecodeBoardTypeId("3G31322A"), "Unavailable");  // not hexadecimal
    EXPECT_EQ(DecodeBoardTypeId(" 031322A"), "Unavailable");  // no blanks inside a group
    EXPECT_EQ(DecodeBoardTypeId(std::string(62, '3') + "2A"), // 64 characters: accepted
              "3;3;3;3;3;3;3;3;3;3;3;3;3;3;3;3;3;3;3;3;3;3;3;3;3;3;3;3;3;3;3");
    EXPECT_EQ(DecodeBoardTypeId(std::string(64, '3') + "2A"), "Unavailable");
}

bool FeedAll(CStartupWatcher& watcher, const std::string& output) {
    bool seen = false;
    for (unsigned char c : output) {
        seen = watcher.Feed(c) || seen;
    }
    return seen;
}

TEST(StartupWatcherTest, FindsTheMessageAnywhereInTheOutput) {
    CStartupWatcher watcher;
    EXPECT_TRUE(FeedAll(watcher, "abc\r\n*** Unit Initialised\r\n"));
}

TEST(StartupWatcherTest, RecognisesOnTheFinalCharacter) {
    CStartupWatcher watcher;
    EXPECT_FALSE(FeedAll(watcher, "*** Unit Initialise"));
    EXPECT_TRUE(watcher.Feed('d'));
}

TEST(StartupWatcherTest, SkipsNonPrintableBytesButNotMissingBlanks) {
    CStartupWatcher split;
    EXPECT_TRUE(FeedAll(split, "*** Unit \r\nInitialised"));
    CStartupWatcher shortened;
    EXPECT_FALSE(FeedAll(shortened, "*** Unit\r\nInitialised"));
    CStartupWatcher withZeroes;
    EXPECT_TRUE(FeedAll(withZeroes, std::string("***\0 Unit\x7f Initialised", 22)));
}

TEST(StartupWatcherTest, WindowKeepsOnlyTheLastCharacters) {
    CStartupWatcher watcher;
    EXPECT_FALSE(FeedAll(watcher, std::string(1000, 'x') + "*** Unit Initialisex"));
    EXPECT_EQ(watcher.Window().size(), 20u);
    EXPECT_TRUE(FeedAll(watcher, "*** Unit Initialised"));
}

// A firmware that keeps talking without the message: each read hands out a byte after a
// short pause (well within the per-byte timeout), so only the total bound ends the watch.
TEST(StartupWatcherTest, BabblingFirmwareEndsAtTheTotalBound) {
    using Clock = std::chrono::steady_clock;
    std::vector<std::uint32_t> timeouts;
    const auto babble = [&timeouts](std::uint8_t& byte, std::uint32_t timeoutMs) {
        timeouts.push_back(timeoutMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        byte = 'x';
        return kOk;
    };
    CStartupWatcher watcher;
    const auto start = Clock::now();
    EXPECT_EQ(watcher.Watch(babble, 10000, std::chrono::milliseconds(400)), kWaitTimeout);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(400));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    ASSERT_FALSE(timeouts.empty());
    // No read may wait past the end of the whole watch.
    EXPECT_LE(*std::max_element(timeouts.begin(), timeouts.end()), 400u);
    // A healthy firmware may report a long self-test before its message: the engine's
    // bound leaves it at least five minutes, whatever the package's per-byte timeout.
    EXPECT_GE(CStartupWatcher::TotalLimit(0), std::chrono::minutes(5));
}

TEST(StartupWatcherTest, EndsWithTheMessageTheFailedReadOrTooMuchOutput) {
    const std::string output = "boot\r\n*** Unit Initialised\r\n";
    std::size_t at = 0;
    const auto talk = [&](std::uint8_t& byte, std::uint32_t) {
        if (at == output.size()) {
            return kWaitTimeout;
        }
        byte = static_cast<std::uint8_t>(output[at++]);
        return kOk;
    };
    CStartupWatcher found;
    EXPECT_EQ(found.Watch(talk, 1000, std::chrono::seconds(60)), kOk);
    EXPECT_EQ(at, output.find("d\r") + 1); // stops reading at the message's last byte
    CStartupWatcher silent;
    EXPECT_EQ(silent.Watch(talk, 1000, std::chrono::seconds(60)), kWaitTimeout);

    std::size_t reads = 0;
    const auto noise = [&reads](std::uint8_t& byte, std::uint32_t) {
        ++reads;
        byte = '*';
        return kOk;
    };
    CStartupWatcher flooded;
    EXPECT_EQ(flooded.Watch(noise, 1000, std::chrono::seconds(600)), kErrorMoreData);
    EXPECT_EQ(reads, CStartupWatcher::kMaxOutput);
}

} // namespace
} // namespace quillon
