// What the upload and detect commands put on the terminal: device and package texts
// (Latin-1) as UTF-8 without control characters, and the upload page's percentage.

#include "cli/TerminalText.h"

#include "upload/UploadProgress.h"

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

// The command line shows the upload page's figure: the record just sent counted from 0,
// rounded down, so only the report once the firmware has started shows 100.
TEST(TerminalTextTest, PercentIsTheUploadPagesFigure) {
    struct Report {
        std::intptr_t done;
        std::intptr_t total;
        int percent;
    };
    for (const Report& r : {Report{0, 100, 0}, Report{0, 57, 0}, Report{1, 57, 1},
                            Report{27, 57, 47}, Report{56, 57, 98}, Report{57, 57, 100},
                            Report{100, 100, 100}, Report{3, 0, -1}, Report{-1, 10, -1}}) {
        EXPECT_EQ(ProgressPercent(r.done, r.total), r.percent) << r.done << " of " << r.total;
        if (r.percent >= 0) {
            EXPECT_EQ(static_cast<unsigned>(r.percent),
                      UploadPercent(static_cast<std::uint32_t>(r.done),
                                    static_cast<std::uint32_t>(r.total)));
        }
    }
}

TEST(TerminalTextTest, BarIsFilledInProportion) {
    EXPECT_EQ(PercentText(42), "42% Complete");
    EXPECT_EQ(ProgressBar(0, 10), "[----------]   0% Complete");
    EXPECT_EQ(ProgressBar(55, 10), "[#####-----]  55% Complete");
    EXPECT_EQ(ProgressBar(100, 10), "[##########] 100% Complete");
}

} // namespace
} // namespace quillon
