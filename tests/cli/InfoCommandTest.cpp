// Runs the built quillon-cli program as a user would and checks what it prints.

#include "package/RecordHeader.h"
#include "tests/package/TestPackages.h"
#include "tests/support/TestText.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace quillon {
namespace {

using testing::Contains;
using testing::Lines;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

CliRun RunCli(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(QUILLON_CLI_PROGRAM), args);
    CliRun run;
    if (!process.waitForStarted(60000) || !process.waitForFinished(120000)) {
        ADD_FAILURE() << "quillon-cli did not run";
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    // On Windows the program writes text as Windows does, each line ended by CR LF.
    run.out = process.readAllStandardOutput().replace("\r\n", "\n").toStdString();
    run.err = process.readAllStandardError().replace("\r\n", "\n").toStdString();
    return run;
}

// The cells of a table row: columns are separated by two or more blanks.
std::vector<std::string> Cells(const std::string& row) {
    const QStringList parts = QString::fromStdString(row).trimmed().split(
        QRegularExpression(QStringLiteral("\\s{2,}")), Qt::SkipEmptyParts);
    std::vector<std::string> cells;
    for (const QString& part : parts) {
        cells.push_back(part.toStdString());
    }
    return cells;
}

bool HasLine(const std::string& text, const char* pattern) {
    return QRegularExpression(QString::fromLatin1(pattern), QRegularExpression::MultilineOption)
        .match(QString::fromStdString(text))
        .hasMatch();
}

std::string WriteFile(const QTemporaryDir& dir, const char* name, const test::Bytes& bytes) {
    const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    return path;
}

class InfoTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { embedded_ = RunCli({QStringLiteral("info")}); }
    static CliRun embedded_;
};
CliRun InfoTest::embedded_;

TEST_F(InfoTest, ShowsTheFirmwareImage) {
#ifdef QUILLON_CUSTOM_PACKAGES
    GTEST_SKIP() << "this build embeds other packages";
#endif
    ASSERT_EQ(embedded_.status, 0) << embedded_.err;
    EXPECT_EQ(embedded_.err, "");
    const std::string& out = embedded_.out;
    EXPECT_TRUE(HasLine(out, "^Firmware image$"));
    EXPECT_TRUE(HasLine(out, "^  Product:\\s+KOLM$")) << out;
    EXPECT_TRUE(HasLine(out, "^  Version:\\s+1\\.4\\.6$"));
    EXPECT_TRUE(HasLine(out, "^  Build stamp:\\s+May 15 2006 16:01:56$"));
    EXPECT_TRUE(HasLine(out, "^  Size:\\s+110988 bytes$"));
    EXPECT_TRUE(HasLine(out, "^  Records:\\s+58$"));
    const auto p0 = out.find("1. 0;0,4;0,1;0,7;*;*;N,5\n");
    const auto p1 = out.find("2. 1;0;0,1;0,7;*;*;N,5\n");
    const auto p2 = out.find("3. 4,7;0-3;0-7;0,7;Y;*;N,5\n");
    ASSERT_NE(p0, std::string::npos);
    ASSERT_NE(p1, std::string::npos);
    ASSERT_NE(p2, std::string::npos);
    EXPECT_LT(p0, p1);
    EXPECT_LT(p1, p2);
    EXPECT_LT(p2, out.find("Utility package"));
}

TEST_F(InfoTest, ShowsTheUtilityPackageKinds) {
#ifdef QUILLON_CUSTOM_PACKAGES
    GTEST_SKIP() << "this build embeds other packages";
#endif
    const std::string& out = embedded_.out;
    const std::string utility = out.substr(std::min(out.find("Utility package"), out.size()));
    EXPECT_TRUE(HasLine(utility, "^  Size:\\s+16206 bytes$")) << utility;
    EXPECT_TRUE(HasLine(utility, "^  Records:\\s+81$"));
    const std::vector<std::vector<std::string>> kinds = {
        {"0x3A00", "activation block", "10"},    {"0x3A02", "information request", "10"},
        {"0x3A03", "baud-rate request", "12"},   {"0x3A04", "launch request", "5"},
        {"0x8001", "loader descriptor", "11"},   {"0x8000", "module descriptor", "11"},
        {"0x7A05", "module start record", "11"}, {"0x4001", "data record 1", "11"},
    };
    std::vector<std::vector<std::string>> shown;
    for (const std::string& line : Lines(utility)) {
        if (line.rfind("    0x", 0) == 0) {
            shown.push_back(Cells(line));
        }
    }
    EXPECT_EQ(shown, kinds);
}

TEST_F(InfoTest, ShowsTheElevenModules) {
#ifdef QUILLON_CUSTOM_PACKAGES
    GTEST_SKIP() << "this build embeds other packages";
#endif
    using Row = std::vector<std::string>;
    const std::vector<Row> expected = {
        {"BrdIDMod", "1.1.1", "Oct 31 2007 11:27:49", "1000", "2", "24", "Tovrin", "1.0.10"},
        {"BrdIDMod", "1.1.1", "Oct 31 2007 11:27:49", "1000", "2", "21", "Tovrin48", "2.1.2"},
        {"BrdIDMod", "1.1.1", "Oct 31 2007 11:27:49", "1000", "2", "21", "Tovrin44", "2.1.2"},
        {"FlashMod", "1.0.6", "Oct 31 2007 11:27:48", "1000", "2", "34", "Tovrin", "1.0.10"},
        {"FlashMod8", "1.0.1", "Oct 31 2007 11:27:48", "1000", "2", "50", "Tovrin48", "2.1.2"},
        {"FlashMod4", "1.0.1", "Oct 31 2007 11:27:48", "1000", "2", "50", "Tovrin44", "2.1.2"},
        {"FlashMod5", "1.0.1", "Oct 31 2007 11:27:48", "1000", "2", "39", "Tovrin", "1.1.1"},
        {"FwCRCMod", "1.0.4", "Oct 31 2007 11:27:50", "8000", "2", "31", "Tovrin", "1.0.10"},
        {"FwCRCMod8", "1.0.2", "Oct 31 2007 11:27:50", "8000", "2", "48", "Tovrin48", "2.1.2"},
        {"FwCRCMod4", "1.0.2", "Oct 31 2007 11:27:50", "8000", "2", "48", "Tovrin44", "2.1.2"},
        {"FwCRCMod5", "1.0.3", "Oct 31 2007 11:27:50", "16000", "2", "35", "Tovrin", "1.1.1"},
    };
    const auto lines = Lines(embedded_.out);
    const auto header = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("    Name", 0) == 0;
    });
    ASSERT_NE(header, lines.end()) << embedded_.out;
    EXPECT_EQ(Cells(*header), (Row{"Name", "Version", "Build stamp", "TIME (ms)", "Records",
                                   "Blocks", "Bootloader", "Minimum version"}));
    std::vector<Row> rows;
    for (auto it = header + 1; it != lines.end() && it->rfind("    ", 0) == 0; ++it) {
        rows.push_back(Cells(*it));
    }
    EXPECT_EQ(rows, expected);
    EXPECT_TRUE(HasLine(embedded_.out, "^  Modules: 11$"));
}

TEST(InfoCommandTest, ReadsPackageFilesInsteadWhenAsked) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    test::Bytes firmware;
    test::AppendDescriptor(firmware, kModuleDescriptor,
                           {"VERS:2.0.1", "PROD:TEST", "TGTY:*", "BILD:today"}, 1);
    test::AppendRecord(firmware, kFirstDataRecord, 3, 0, 10000, test::Bytes(96, 0x5A));
    test::Bytes utility;
    test::AppendDescriptor(utility, kLoaderDescriptor, {"VERS:3.1.4", "PROD:Boot"});
    test::AppendDescriptor(utility, kModuleDescriptor,
                           {"VERS:1.2.3", "PROD:OnlyMod", "BILD:now", "TIME:250"}, 2);
    test::AppendRecord(utility, kModuleStartRecord, 1, 0, 250);
    test::AppendRecord(utility, kFirstDataRecord, 4, 0, 250);
    const std::string firmwarePath = WriteFile(dir, "fw.bin", firmware);
    const std::string utilityPath = WriteFile(dir, "util.bin", utility);

    const CliRun run = RunCli({QStringLiteral("info"), QStringLiteral("--firmware"),
                               QString::fromStdString(firmwarePath),
                               QStringLiteral("--utility=") + QString::fromStdString(utilityPath)});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(HasLine(run.out, "^  Product:\\s+TEST$"));
    EXPECT_TRUE(HasLine(run.out, "^  Version:\\s+2\\.0\\.1$"));
    EXPECT_TRUE(
        HasLine(run.out, "^  Size:\\s+" + QByteArray::number(int(firmware.size())) + " bytes$"));
    EXPECT_TRUE(HasLine(run.out, "^    1\\. \\*$"));
    EXPECT_TRUE(HasLine(run.out, "^  Modules: 1$"));
    const auto lines = Lines(run.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(Cells(lines.back()), (std::vector<std::string>{"OnlyMod", "1.2.3", "now", "250", "2",
                                                             "5", "Boot", "3.1.4"}));
}

TEST(InfoCommandTest, DamagedAndTruncatedPackagesAreReportedNotFatal) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    test::Bytes badHeader;
    test::AppendRecord(badHeader, kModuleDescriptor, 1, 0, 0, test::Entries({"PROD:X"}), 12);
    const std::string bad = WriteFile(dir, "bad.bin", badHeader);
    CliRun run =
        RunCli({QStringLiteral("info"), QStringLiteral("--firmware"), QString::fromStdString(bad)});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "quillon-cli info: the firmware image " + bad +
                           " is damaged: a record header cannot be read\n");

    test::Bytes truncated;
    test::AppendDescriptor(truncated, kModuleDescriptor, {"VERS:1.0.0", "PROD:CUT"}, 1);
    test::AppendRecord(truncated, kFirstDataRecord, 2);
    truncated.resize(truncated.size() - 70); // inside the second header
    const std::string cut = WriteFile(dir, "cut.bin", truncated);
    run =
        RunCli({QStringLiteral("info"), QStringLiteral("--utility"), QString::fromStdString(cut)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "Warning: the package ends inside a record header"));
    EXPECT_TRUE(HasLine(run.out, "^    CUT\\s+1\\.0\\.0"));

    const std::string empty = WriteFile(dir, "empty.bin", {});
    run = RunCli(
        {QStringLiteral("info"), QStringLiteral("--utility"), QString::fromStdString(empty)});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(Contains(run.out, "Utility package\n  (none)\n"));
}

TEST(InfoCommandTest, OptionMistakesGetOneLine) {
    CliRun run = RunCli({QStringLiteral("info"), QStringLiteral("--bogus")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "quillon-cli info: unknown option '--bogus' (see quillon-cli info --help)\n");
    EXPECT_EQ(run.out, "");

    run = RunCli({QStringLiteral("info"), QStringLiteral("--firmware")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);

    run = RunCli({QStringLiteral("info"), QStringLiteral("--utility"),
                  QStringLiteral("/nonexistent/utility.bin")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "quillon-cli info: cannot read /nonexistent/utility.bin\n");

    run = RunCli({QStringLiteral("info"), QStringLiteral("--help")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("Usage: quillon-cli info", 0), 0u);
}

TEST(ProgramTest, HelpVersionAndMistakes) {
    CliRun run = RunCli({QStringLiteral("--help")});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(HasLine(run.out, "^  info\\s+show the firmware image"));
    EXPECT_EQ(run.err, "");

    run = RunCli({QStringLiteral("--version")});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(HasLine(run.out, "^quillon-cli \\(Quillon\\) \\d+\\.\\d+\\.\\d+\\.\\d+$"))
        << run.out;

    run = RunCli({QStringLiteral("upload-everything")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "quillon-cli: unknown command 'upload-everything' (see quillon-cli --help)\n");
    EXPECT_EQ(run.out, "");

    run = RunCli({QStringLiteral("--colour")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "quillon-cli: unknown option '--colour' (see quillon-cli --help)\n");

    run = RunCli({});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "Usage: quillon-cli"));
}

} // namespace
} // namespace quillon
