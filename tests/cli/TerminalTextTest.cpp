// What the upload and detect commands put on the terminal: device and package texts
// (Latin-1) as UTF-8 without control characters, and the upload page's percentage.

#include "cli/TerminalText.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(TerminalTextTest, Latin1BecomesUtf8) {
    EXPECT_EQ(Latin1ToTerminal("0;0,4 ... \xBB"), "0;0,4 ... \xC2\xBB");
    EXPECT_EQ(Latin1ToTerminal("\xE9t\xE9 \xFF"), "\xC3\xA9t\xC3\xA9 \xC3\xBF");
    EXPECT_EQ(Latin1ToTerminal("KOLM 1.4.6"), "KOLM 1.4.6");
}

TEST(TerminalTextTest, ControlCharactersFromTheDeviceAreShownNotObeyed) {
    // An escape sequence in a reply would otherwise recolour or clear the user's terminal;
    // C1 controls (0x80 to 0x9F) act as escapes on some terminals too.
    EXPECT_EQ(Latin1ToTerminal("a\x1B[2Jb"), "a\\x1B[2Jb");
    EXPECT_EQ(Latin1ToTerminal(std::string("x\0y\r\n\x7F", 6)), "x\\x00y\\x0D\\x0A\\x7F");
    EXPECT_EQ(Latin1ToTerminal("\x9B"
                               "1m"),
              "\\x9B1m");
}

TEST(TerminalTextTest, PercentCountsTheRecordJustSent) {
    EXPECT_EQ(ProgressPercent(0, 100), 1);
    EXPECT_EQ(ProgressPercent(0, 57), 1);
    EXPECT_EQ(ProgressPercent(27, 57), 49);
    EXPECT_EQ(ProgressPercent(55, 57), 98);
    EXPECT_EQ(ProgressPercent(56, 57), 100);
    // The report once the firmware has started.
    EXPECT_EQ(ProgressPercent(100, 100), 100);
    EXPECT_EQ(ProgressPercent(3, 0), -1);
    EXPECT_EQ(ProgressPercent(-1, 10), -1);
}

TEST(TerminalTextTest, BarIsFilledInProportion) {
    EXPECT_EQ(PercentText(42), "42% Complete");
    EXPECT_EQ(ProgressBar(0, 10), "[----------]   0% Complete");
    EXPECT_EQ(ProgressBar(55, 10), "[#####-----]  55% Complete");
    EXPECT_EQ(ProgressBar(100, 10), "[##########] 100% Complete");
}

} // namespace
} // namespace quillon
