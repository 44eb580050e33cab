// The saved settings (the wizard's Port and Slow, which the command line reads as its
// defaults) when the file is corrupt, unreadable or on a read-only disk: reading falls
// back to the defaults, nothing crashes, and what was saved before is never lost.

#include "cli/CliSettings.h"
#include "tests/hostile/HostileSupport.h"
#include "tests/support/Unprivileged.h"
#include "wizard/WizardSettings.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon {
namespace {

using testing::SettingsFile;
using testing::SettingsFolder;
using testing::TouchUniquely;

class HostileSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::remove_all(SettingsFolder());
        std::filesystem::create_directories(SettingsFolder());
    }
    void TearDown() override { std::filesystem::remove_all(SettingsFolder()); }

    static void WriteFile(const std::string& bytes) {
        std::ofstream(SettingsFile(), std::ios::binary | std::ios::trunc) << bytes;
        TouchUniquely(SettingsFile());
    }
    static WizardSettings Load() {
        TouchUniquely(SettingsFile());
        return LoadWizardSettings();
    }
};

TEST_F(HostileSettingsTest, CorruptFileReadsAsDefaultsAndSavingRepairsIt) {
    WriteFile(std::string("\x00\x01[Gen\xff\nPort\x00=\n\x0b\x0c=\"unterminated\n[\n", 32));
    const WizardSettings loaded = Load();
    EXPECT_EQ(loaded.port, "COM1");
    EXPECT_FALSE(loaded.slow);
    EXPECT_EQ(LoadCliSettings().port, "COM1");

    // The next save writes a sound file whatever the old one held.
    EXPECT_TRUE(SaveWizardSettings({"/dev/ttyUSB3", true}));
    const WizardSettings again = Load();
    EXPECT_EQ(again.port, "/dev/ttyUSB3");
    EXPECT_TRUE(again.slow);
    const CliSettings cli = LoadCliSettings();
    EXPECT_EQ(cli.port, "/dev/ttyUSB3");
    EXPECT_TRUE(cli.slow);
}

TEST_F(HostileSettingsTest, OddValuesReadAsTheirDefaults) {
    WriteFile("[General]\nPort=\nSlow=maybe\n");
    EXPECT_FALSE(Load().slow);
    WriteFile("[General]\nSlow=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x5\\0)\n");
    const WizardSettings loaded = Load();
    EXPECT_EQ(loaded.port, "COM1");
    EXPECT_FALSE(loaded.slow);
    // A port stored as a number (as a DWORD in the registry reads) is no port name.
    WriteFile("[General]\nPort=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\0\\x5)\nSlow=yes\n");
    EXPECT_EQ(Load().port, "COM1");
    EXPECT_FALSE(Load().slow);
    EXPECT_EQ(LoadCliSettings().port, "COM1");
}

TEST_F(HostileSettingsTest, AwkwardPortNamesSurviveARoundTrip) {
    for (const std::string port : {"a, b", "x;y=z", "\"quoted\" \\back\\", "  spaced  ",
                                   "caf\xc3\xa9 port", "[General]", "line\nbreak"}) {
        SaveWizardSettings({port, false});
        EXPECT_EQ(Load().port, port);
        EXPECT_EQ(LoadCliSettings().port, port);
    }
}

TEST_F(HostileSettingsTest, FolderInPlaceOfTheFileGivesDefaultsAndIsLeftAlone) {
    std::filesystem::create_directory(SettingsFile());
    const WizardSettings loaded = Load();
    EXPECT_EQ(loaded.port, "COM1");
    EXPECT_FALSE(loaded.slow);
    // (In a child: the settings object keeps a failed save's values pending in memory.)
    EXPECT_EQ(testing::RunInChild([] { return !SaveWizardSettings({"COM5", true}); }), 0);
    EXPECT_TRUE(std::filesystem::is_directory(SettingsFile()));
    EXPECT_EQ(Load().port, "COM1");
}

TEST_F(HostileSettingsTest, FifoInPlaceOfTheFileGivesDefaultsWithoutBlocking) {
    // Reading a FIFO would wait for a writer for ever; it must count as no settings.
    ASSERT_EQ(::mkfifo(SettingsFile().c_str(), 0600), 0);
    const WizardSettings loaded = LoadWizardSettings();
    EXPECT_EQ(loaded.port, "COM1");
    EXPECT_FALSE(loaded.slow);
    EXPECT_EQ(LoadCliSettings().port, "COM1");
    EXPECT_FALSE(SaveWizardSettings({"COM5", true}));
    EXPECT_EQ(std::filesystem::status(SettingsFile()).type(), std::filesystem::file_type::fifo);
}

TEST_F(HostileSettingsTest, UnreadableFileGivesDefaults) {
    WriteFile("[General]\nPort=COM4\nSlow=1\n");
    std::filesystem::permissions(SettingsFile(), std::filesystem::perms::none);
    const int verdict = testing::RunUnprivileged([] {
        const WizardSettings loaded = Load();
        return loaded.port == "COM1" && !loaded.slow && LoadCliSettings().port == "COM1";
    });
    if (verdict == testing::kCannotDropPrivileges) {
        GTEST_SKIP() << "file modes cannot be made to bind here";
    }
    EXPECT_EQ(verdict, 0);
    std::filesystem::permissions(SettingsFile(), std::filesystem::perms::owner_all);
}

TEST_F(HostileSettingsTest, ReadOnlyDiskKeepsTheSavedSettingsIntact) {
    WriteFile("[General]\nPort=COM4\nSlow=1\n");
    const int verdict = testing::RunWithReadOnlyFolder(SettingsFolder(), [] {
        const WizardSettings before = Load();
        const bool saved = SaveWizardSettings({"COM9", false});
        // (What reads back now is only the settings object's memory of the failed save;
        // the file is looked at from outside below.)
        return before.port == "COM4" && before.slow && !saved;
    });
    if (verdict == testing::kNoReadOnlyFolder) {
        GTEST_SKIP() << "no way to make a folder read-only here";
    }
    EXPECT_EQ(verdict, 0);
    const WizardSettings kept = Load();
    EXPECT_EQ(kept.port, "COM4");
    EXPECT_TRUE(kept.slow);
}

TEST_F(HostileSettingsTest, ACorruptFileOnAReadOnlyDiskIsNotReportedAsSaved) {
    // Reading the corrupt file and failing to write the new one both end in the same
    // state of the settings object: only the file tells them apart.
    const std::string corrupt("\x00\x01[Gen\xff\nPort\x00=\n", 16);
    WriteFile(corrupt);
    const int verdict = testing::RunWithReadOnlyFolder(SettingsFolder(), [] {
        return !SaveWizardSettings({"COM9", true});
    });
    if (verdict == testing::kNoReadOnlyFolder) {
        GTEST_SKIP() << "no way to make a folder read-only here";
    }
    EXPECT_EQ(verdict, 0);
    std::ifstream in(SettingsFile(), std::ios::binary);
    std::ostringstream kept;
    kept << in.rdbuf();
    EXPECT_EQ(kept.str(), corrupt);
}

} // namespace
} // namespace quillon
