#include "QuillonVersion.h"
#include "WizardTestSupport.h"
#include "wizard/CWizApp.h"
#include "wizard/CWizAppCommandLineInfo.h"
#include "wizard/WizardSettings.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace quillon::test {
namespace {

// Every test gets a settings folder of its own.
class SettingsTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    }
    void TearDown() override {
        // Back to the default, which follows XDG_CONFIG_HOME.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")));
    }
    QString FilePath() const { return folder.path() + "/Veldra/Quillon.conf"; }
    void WriteFile(const QByteArray& content) {
        ASSERT_TRUE(QDir().mkpath(folder.path() + "/Veldra"));
        QFile file(FilePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    QByteArray ReadFile() const {
        QFile file(FilePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QVariant Stored(const char* key) const {
        const QSettings settings(FilePath(), QSettings::IniFormat);
        return settings.value(key);
    }

    // Runs the wizard with the arguments; the script acts while it is shown and the wizard
    // is closed with Close afterwards.
    void RunWizard(const std::vector<std::string>& arguments,
                   const std::function<void(CWizApp&)>& script) {
        CWizApp app(arguments);
        QTimer::singleShot(0, [&app, &script] {
            ASSERT_NE(app.MasterDialog(), nullptr);
            script(app);
            Click(*app.MasterDialog(), kIdCancel);
        });
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(app.MasterDialog(), nullptr); // all gone again
    }

    QTemporaryDir folder;
};

TEST_F(SettingsTest, TheFirstRunShowsTheDefaultsAndWritesThem) {
    QString shownPort;
    bool shownSlow = true;
    RunWizard({}, [&](CWizApp& app) {
        CMasterDlg& master = *app.MasterDialog();
        Click(*master.GetPageAt(0), kIdAccept);
        Click(master, kIdWizNext);
        shownPort = app.PortPage()->GetDlgItemText(kIdPortCombo);
        shownSlow = app.PortPage()->IsDlgButtonChecked(kIdSlowMode);
    });
    EXPECT_EQ(shownPort, "COM1");
    EXPECT_FALSE(shownSlow);
    EXPECT_EQ(Stored("Port").toString(), "COM1");
    EXPECT_EQ(Stored("Slow").toString(), "0");
}

TEST_F(SettingsTest, ClosingOnTheLicencePageWritesTheSettingsBackUnchanged) {
    WriteFile("[General]\nPort=/dev/ttyUSB3\nSlow=1\n");
    RunWizard({}, [](CWizApp&) {});
    EXPECT_EQ(Stored("Port").toString(), "/dev/ttyUSB3");
    EXPECT_EQ(Stored("Slow").toString(), "1");
}

TEST_F(SettingsTest, AnyNonZeroSlowReadsAsSetAndIsWrittenBackAsOne) {
    WriteFile("[General]\nSlow=5\n");
    bool slow = false;
    RunWizard({}, [&](CWizApp& app) { slow = app.PortPage()->SlowMode(); });
    EXPECT_TRUE(slow);
    EXPECT_EQ(Stored("Slow").toString(), "1");
    EXPECT_EQ(Stored("Port").toString(), "COM1"); // a missing value is created
}

TEST_F(SettingsTest, APortTypedAndThenCloseIsSaved) {
    RunWizard({}, [&](CWizApp& app) {
        CMasterDlg& master = *app.MasterDialog();
        Click(*master.GetPageAt(0), kIdAccept);
        Click(master, kIdWizNext);
        auto* combo = app.PortPage()->GetDlgItemAs<QComboBox>(kIdPortCombo);
        ASSERT_NE(combo, nullptr);
        combo->lineEdit()->selectAll();
        QTest::keyClicks(combo->lineEdit(), "ttyACM2");
        Click(*app.PortPage(), kIdSlowMode);
    });
    EXPECT_EQ(Stored("Port").toString(), "ttyACM2");
    EXPECT_EQ(Stored("Slow").toString(), "1");
}

TEST_F(SettingsTest, OddValuesGiveDefaultsOrTheValueAsStored) {
    const QString longPort(300, QLatin1Char('p'));
    WriteFile("[General]\nPort=" + longPort.toLatin1() + "\nSlow=fast please\n");
    WizardSettings read = LoadWizardSettings();
    EXPECT_EQ(read.port, longPort.toStdString());
    EXPECT_FALSE(read.slow);

    WriteFile("[General]\nPort=a,b\nSlow=\n");
    read = LoadWizardSettings();
    EXPECT_EQ(read.port, "a,b");
    EXPECT_FALSE(read.slow);

    // Whatever the wizard saves, it reads back the same.
    for (const char* port : {"COM1", "/dev/ttyUSB0", "a,b", "with space", "x=y;z", "\"q\"", ""}) {
        ASSERT_TRUE(SaveWizardSettings({port, true}));
        read = LoadWizardSettings();
        EXPECT_EQ(read.port, port);
        EXPECT_TRUE(read.slow);
    }
    RunWizard({}, [](CWizApp&) {});
    EXPECT_EQ(Stored("Port").toString(), "");
}

TEST_F(SettingsTest, ACorruptFileGivesDefaultsAndIsReplaced) {
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i) {
        garbage.append(static_cast<char>((i * 7919) % 256));
    }
    WriteFile(garbage);
    const WizardSettings read = LoadWizardSettings();
    EXPECT_FALSE(read.slow);
    RunWizard({}, [](CWizApp&) {});
    EXPECT_EQ(Stored("Slow").toString(), "0");
}

TEST_F(SettingsTest, AnUnreadableSettingsFileGivesDefaultsAndNoCrash) {
    // A folder where the file should be: neither readable nor replaceable, even for root.
    ASSERT_TRUE(QDir().mkpath(FilePath()));
    const WizardSettings read = LoadWizardSettings();
    EXPECT_EQ(read.port, "COM1");
    EXPECT_FALSE(read.slow);
    EXPECT_FALSE(SaveWizardSettings({"COM3", true}));
    RunWizard({}, [](CWizApp&) {});
    EXPECT_TRUE(QFileInfo(FilePath()).isDir());
}

TEST_F(SettingsTest, SavingReplacesTheFileAsAWholeAndNeverRewritesItInPlace) {
    ASSERT_TRUE(SaveWizardSettings({"COM1", false}));
    struct stat before {};
    ASSERT_EQ(stat(FilePath().toLocal8Bit().constData(), &before), 0);
    ASSERT_TRUE(SaveWizardSettings({"COM2", true}));
    struct stat after {};
    ASSERT_EQ(stat(FilePath().toLocal8Bit().constData(), &after), 0);
    // A new file took the old one's place by renaming: the old one stayed whole until then.
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(Stored("Port").toString(), "COM2");
    // Nothing is left beside it.
    EXPECT_EQ(QDir(folder.path() + "/Veldra").entryList(QDir::Files), QStringList{"Quillon.conf"});
}

TEST(SettingsLocationTest, FollowsXdgConfigHome) {
    const QString home = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    ASSERT_FALSE(home.isEmpty()); // the test program sets its own
    ASSERT_TRUE(SaveWizardSettings({"ttyXDG", false}));
    QFile file(home + "/Veldra/Quillon.conf");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("Port=ttyXDG"));
}

// The command line.
CWizAppCommandLineInfo Parse(const std::vector<std::string>& arguments) {
    CWizAppCommandLineInfo info;
    CWizAppCommandLineInfo::ParseCommandLine(arguments, info);
    return info;
}

TEST(CommandLineTest, TheLogSwitchTakesTheNextPlainArgument) {
    EXPECT_EQ(Parse({"/log", "upload.txt"}).LogFilePath(), "upload.txt");
    EXPECT_EQ(Parse({"-LOG", "upload.txt"}).LogFilePath(), "upload.txt");
    EXPECT_EQ(Parse({"-Log", "a.txt", "/lOg", "b.txt"}).LogFilePath(), "b.txt");
    EXPECT_EQ(Parse({"-log", "a.txt", "extra"}).LogFilePath(), "a.txt");
    EXPECT_EQ(Parse({"upload.txt"}).LogFilePath(), "");
    EXPECT_EQ(Parse({}).LogFilePath(), "");
    // An absolute path is a path, not a switch.
    EXPECT_EQ(Parse({"-log", "/tmp/logs/upload.txt"}).LogFilePath(), "/tmp/logs/upload.txt");
    EXPECT_EQ(Parse({"/log", "/var/tmp/up.log"}).LogFilePath(), "/var/tmp/up.log");
}

TEST(CommandLineTest, ALogSwitchFollowedByAnotherSwitchOrNothingIsForgotten) {
    CWizAppCommandLineInfo info = Parse({"-log", "-p", "upload.txt"});
    EXPECT_EQ(info.LogFilePath(), "");
    EXPECT_FALSE(info.LogSwitchPending());
    info = Parse({"-log", "/LOG"});
    EXPECT_EQ(info.LogFilePath(), "");
    EXPECT_TRUE(info.LogSwitchPending());
    info = Parse({"-log"});
    EXPECT_EQ(info.LogFilePath(), "");
    // An earlier path stays when a later switch has none.
    EXPECT_EQ(Parse({"-log", "a.txt", "-log"}).LogFilePath(), "a.txt");
    EXPECT_EQ(Parse({"-logfile", "a.txt"}).LogFilePath(), "");
}

TEST(CommandLineTest, HelpAndVersionAreNoticedBesideTheLogSwitch) {
    CWizAppCommandLineInfo info = Parse({"-log", "a.txt", "--help"});
    EXPECT_TRUE(info.HelpRequested());
    EXPECT_EQ(info.LogFilePath(), "a.txt");
    info = Parse({"-LOG", "--version"}); // a switch, not the log's path
    EXPECT_TRUE(info.VersionRequested());
    EXPECT_EQ(info.LogFilePath(), "");
    EXPECT_TRUE(Parse({"-h"}).HelpRequested());
    EXPECT_TRUE(Parse({"/?"}).HelpRequested());
    for (const char* other : {"help", "--helpme", "-version", "--VERSION", "/log", "--log"}) {
        info = Parse({other});
        EXPECT_FALSE(info.HelpRequested() || info.VersionRequested()) << other;
    }
    EXPECT_EQ(Parse({"--unknown", "-log", "b.txt", "extra"}).LogFilePath(), "b.txt");
}

TEST(CommandLineTest, SwitchesStartWithAHyphenOrAStandaloneSlash) {
    EXPECT_TRUE(CWizAppCommandLineInfo::IsSwitch("-log"));
    EXPECT_TRUE(CWizAppCommandLineInfo::IsSwitch("/log"));
    EXPECT_FALSE(CWizAppCommandLineInfo::IsSwitch("/tmp/log"));
    EXPECT_FALSE(CWizAppCommandLineInfo::IsSwitch("log"));
    EXPECT_FALSE(CWizAppCommandLineInfo::IsSwitch(""));
}

TEST_F(SettingsTest, TheLogPathReachesTheDialogAsAFullPath) {
    const std::string cwd = std::filesystem::current_path().string();
    auto logPathFor = [this](const std::vector<std::string>& arguments) {
        std::string path = "unset";
        RunWizard(arguments, [&](CWizApp& app) { path = app.MasterDialog()->LogPath(); });
        return path;
    };
    EXPECT_EQ(logPathFor({"/log", "upload.txt"}), cwd + "/upload.txt");
    EXPECT_EQ(logPathFor({"-LOG", "upload.txt"}), cwd + "/upload.txt");
    EXPECT_EQ(logPathFor({"-log", "/tmp/q/upload.txt"}), "/tmp/q/upload.txt");
    EXPECT_EQ(logPathFor({"-log", "-x", "upload.txt"}), "");
    EXPECT_EQ(logPathFor({"-log"}), "");
    EXPECT_EQ(logPathFor({}), "");
    // Words the program does not know are ignored.
    EXPECT_EQ(logPathFor({"--unknown", "/LOG", "upload.txt", "extra"}), cwd + "/upload.txt");
}

// The program as a user runs it from a shell with no display: help and version print on
// standard output and end the program at once with status 0, whatever else is given.
struct ProgramCase {
    std::vector<std::string> arguments;
    std::string expected;
};

class ProgramTest : public testing::TestWithParam<ProgramCase> {};

TEST_P(ProgramTest, AnswersWithoutADisplayAndEnds) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        environment.remove(QString::fromLatin1(name));
    }
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.path());
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(folder.path());
    QStringList arguments;
    for (const std::string& argument : GetParam().arguments) {
        arguments << QString::fromStdString(argument);
    }
    program.start(QStringLiteral(QUILLON_WIZARD_PROGRAM), arguments);
    ASSERT_TRUE(program.waitForFinished(60000)) << "still running: it opened a window?";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    const std::string out = program.readAllStandardOutput().toStdString();
    EXPECT_EQ(out.rfind(GetParam().expected, 0), 0u) << out;
    EXPECT_EQ(program.readAllStandardError().toStdString(), "");
    // Nothing else happened: no settings written, no log file made.
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList());
}

const std::string kUsage = "Usage: quillon [-log FILE] [--help] [--version]\n";
const std::string kVersion = std::string("quillon (Quillon) ") + kVersionString + "\n";

INSTANTIATE_TEST_SUITE_P(
    HelpAndVersion, ProgramTest,
    testing::Values(ProgramCase{{"--help"}, kUsage}, ProgramCase{{"-h"}, kUsage},
                    ProgramCase{{"--version"}, kVersion},
                    ProgramCase{{"-LOG", "upload.txt", "--help"}, kUsage},
                    ProgramCase{{"--unknown", "--version", "/log", "upload.txt"}, kVersion},
                    ProgramCase{{"--help", "--version"}, kUsage}));

} // namespace
} // namespace quillon::test
