#include "platform/AppendFile.h"
#include "platform/PathPattern.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/TestText.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace quillon {
namespace {

// A path inside the folder as UTF-8, whatever the system's own narrow encoding.
std::string Utf8Path(const testing::TempDirectory& folder, const std::u8string& name) {
    const std::u8string path = (folder.Path() / name).u8string();
    return std::string(path.begin(), path.end());
}

TEST(PathPatternTest, MatchesNamesAsTheShellDoes) {
    const struct {
        const char* name;
        const char* pattern;
        bool ignoreCase;
        bool matches;
    } cases[] = {
        {"COM3", "COM*", true, true},        {"com12", "COM1?", true, true},
        {"COM3", "com[1-4]", true, true},    {"COM5", "COM[1-4]", true, false},
        {"COM3", "COM[!3]", true, false},    {"COM10", "COM?", true, false},
        {"ttyUSB0", "ttyUSB*", false, true}, {"ttyusb0", "ttyUSB*", false, false},
        {"aXbXc", "a*b*c", false, true},     {"abc", "a*b*d", false, false},
        {"[x", "[x", false, true},           {"", "*", false, true},
        {"COM1", "", false, false},          {"Zoë.log", "Zo?.log", true, true},
        {"Zoë.log", "ZO*?.LOG", true, true}, {"Zoë.log", "Zo??.log", true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MatchesPathPattern(c.name, c.pattern, c.ignoreCase), c.matches)
            << c.name << " against " << c.pattern;
    }
}

TEST(PathPatternTest, ExpandsToTheMatchingEntriesOfAFolderSorted) {
    testing::TempDirectory work;
    for (const char* name : {"port B2", "port A1", "other"}) {
        std::ofstream(work.Path() / name) << "";
    }
    EXPECT_EQ(ExpandPathPattern(work.File("port*")),
              (std::vector<std::string>{work.File("port A1"), work.File("port B2")}));
    EXPECT_TRUE(ExpandPathPattern(work.File("none*")).empty());
}

TEST(AppendFileTest, AppendsCutsBackAndKeepsWhatWasThere) {
    testing::TempDirectory work;
    const std::string path = Utf8Path(work, u8"Zoë receipts.jsonl");
    std::string reason;
    {
        AppendFile file;
        ASSERT_EQ(file.Open(path, AppendFile::Lock::None, 0644, reason),
                  AppendFile::OpenResult::Opened)
            << reason;
        ASSERT_TRUE(file.Append("one\n", 4, reason)) << reason;
        const std::int64_t end = file.Size();
        ASSERT_TRUE(file.Append("half a li", 9, reason)) << reason;
        EXPECT_EQ(file.Size(), end + 9);
        ASSERT_TRUE(file.CutBack(end));
        EXPECT_TRUE(file.Flush(reason)) << reason;
    }
    AppendFile again;
    ASSERT_EQ(again.Open(path, AppendFile::Lock::None, 0644, reason),
              AppendFile::OpenResult::Opened);
    ASSERT_TRUE(again.Append("two\n", 4, reason)) << reason;
    EXPECT_EQ(testing::ReadText(path), "one\ntwo\n");
}

TEST(AppendFileTest, OpensOnlyARegularFileNotHeldByAnother) {
    testing::TempDirectory work;
    const std::string log = Utf8Path(work, u8"session log.txt");
    AppendFile holder;
    std::string reason;
    ASSERT_EQ(holder.Open(log, AppendFile::Lock::Exclusive, 0666, reason),
              AppendFile::OpenResult::Opened);
    const struct {
        std::string path;
        AppendFile::OpenResult result;
    } cases[] = {
        {Utf8Path(work, u8""), AppendFile::OpenResult::NotRegular},
        {Utf8Path(work, u8"no folder/receipts.jsonl"), AppendFile::OpenResult::Failed},
        {log, AppendFile::OpenResult::Failed},
    };
    for (const auto& c : cases) {
        AppendFile file;
        reason.clear();
        EXPECT_EQ(file.Open(c.path, AppendFile::Lock::Exclusive, 0666, reason), c.result) << c.path;
        EXPECT_FALSE(file.IsOpen()) << c.path;
        EXPECT_FALSE(reason.empty()) << c.path;
    }
}

} // namespace
} // namespace quillon
