// quillon-devsim as its users run it, and the settings it reads.

#include "DevSimHost.h"
#include "tools/devsim/DevSimCommandLine.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace quillon::devsimtest {
namespace {

// Every setting of the program, as --help must document it.
const std::vector<std::string> kFlags = {"--bootloader-product",
                                         "--bootloader-version",
                                         "--bootloader-build",
                                         "--bootloader-line",
                                         "--firmware-product",
                                         "--firmware-version",
                                         "--firmware-build",
                                         "--firmware-line",
                                         "--no-firmware",
                                         "--board-id",
                                         "--board-id-trailer",
                                         "--crc",
                                         "--startup-text",
                                         "--no-startup",
                                         "--initial-baud",
                                         "--start-off",
                                         "--power-up-delay",
                                         "--latency",
                                         "--programming-time",
                                         "--startup-delay",
                                         "--idle-timeout",
                                         "--no-pacing",
                                         "--fast",
                                         "--refuse",
                                         "--redirect",
                                         "--silent",
                                         "--hang-up",
                                         "--babble",
                                         "--stop-reading",
                                         "--corrupt-word",
                                         "--echo",
                                         "--information-reply",
                                         "--board-id-reply",
                                         "--ignore-baud-change",
                                         "--babble-line",
                                         "--echo-probability",
                                         "--drop-probability",
                                         "--corrupt-probability",
                                         "--garbage-probability",
                                         "--power-up-garbage",
                                         "--seed",
                                         "--utility-package",
                                         "--firmware-package",
                                         "--link",
                                         "--exit-after-startup",
                                         "--verbose",
                                         "--list-records",
                                         "--help"};

// A value each flag accepts (empty for switches).
std::string SampleValue(const std::string& flag) {
    static const std::map<std::string, std::string> values = {{"--crc", "bad"},
                                                              {"--initial-baud", "115200"},
                                                              {"--power-up-delay", "5"},
                                                              {"--latency", "1"},
                                                              {"--programming-time", "2"},
                                                              {"--startup-delay", "3"},
                                                              {"--idle-timeout", "4000"},
                                                              {"--refuse", "image:3:2"},
                                                              {"--redirect", "image:5:0x3"},
                                                              {"--silent", "utility:40"},
                                                              {"--hang-up", "fw:57"},
                                                              {"--drop-probability", "0.5"},
                                                              {"--corrupt-probability", "0.1"},
                                                              {"--garbage-probability", "1"},
                                                              {"--power-up-garbage", "12"},
                                                              {"--seed", "99"},
                                                              {"--babble", "utility:80:2"},
                                                              {"--stop-reading", "nth:7"},
                                                              {"--corrupt-word", "image:4:1:0x1"},
                                                              {"--echo", "nth:3"},
                                                              {"--information-reply", "babble"},
                                                              {"--board-id-reply", "silent"},
                                                              {"--babble-line", "la"},
                                                              {"--echo-probability", "0.1"}};
    static const std::vector<std::string> switches = {
        "--no-firmware",       "--no-startup", "--start-off",
        "--no-pacing",         "--fast",       "--verbose",
        "--list-records",      "--help",       "--exit-after-startup",
        "--ignore-baud-change"};
    if (std::find(switches.begin(), switches.end(), flag) != switches.end()) {
        return {};
    }
    const auto it = values.find(flag);
    return it != values.end() ? it->second : std::string("x");
}

TEST(DevSimCommandLine, EveryDocumentedFlagIsAcceptedAndAnythingElseIsNot) {
    for (const std::string& flag : kFlags) {
        DevSimOptions options;
        std::string error;
        std::vector<std::string> args{flag};
        if (const std::string value = SampleValue(flag); !value.empty()) {
            args.push_back(value);
        }
        EXPECT_TRUE(ParseDevSimCommandLine(args, options, error)) << flag << ": " << error;
    }
    DevSimOptions options;
    std::string error;
    EXPECT_FALSE(ParseDevSimCommandLine({"--colour"}, options, error));
    EXPECT_NE(error.find("--colour"), std::string::npos);
    EXPECT_FALSE(ParseDevSimCommandLine({"--latency"}, options, error));
    EXPECT_NE(error.find("needs a value"), std::string::npos);
}

TEST(DevSimCommandLine, ReadsValuesIntoTheScenario) {
    DevSimOptions options;
    std::string error;
    ASSERT_TRUE(ParseDevSimCommandLine({"--bootloader-product=Tovrin48",
                                        "--bootloader-version",
                                        "2.1.2",
                                        "--board-id",
                                        "0;4;1;7;Y;3;8",
                                        "--crc=none",
                                        "--startup-text",
                                        "up\\r\\n\\x2A done",
                                        "--latency=7",
                                        "--refuse",
                                        "image:3:always",
                                        "--redirect",
                                        "utility:40:0x3A05:2",
                                        "--hang-up",
                                        "fw:9",
                                        "--drop-probability",
                                        "0.25",
                                        "--seed",
                                        "0x10",
                                        "--link",
                                        "/tmp/x",
                                        "--no-firmware"},
                                       options, error))
        << error;
    const DevSimScenario& s = options.scenario;
    EXPECT_EQ(s.bootloaderProduct, "Tovrin48");
    EXPECT_EQ(s.bootloaderVersion, "2.1.2");
    EXPECT_EQ(s.boardTypeId, "0;4;1;7;Y;3;8");
    EXPECT_EQ(s.crcVerdict, DevSimCrcVerdict::NoLine);
    EXPECT_EQ(s.startupText, "up\r\n* done");
    EXPECT_EQ(s.replyLatency, 7ms);
    EXPECT_FALSE(s.firmwarePresent);
    EXPECT_EQ(s.dropProbability, 0.25);
    EXPECT_EQ(s.seed, 16u);
    EXPECT_EQ(options.linkPath, "/tmp/x");
    ASSERT_EQ(s.faults.size(), 3u);
    EXPECT_EQ(s.faults[0].kind, DevSimFault::Kind::Refuse);
    EXPECT_EQ(s.faults[0].record, Image(3));
    EXPECT_EQ(s.faults[0].times, -1);
    EXPECT_EQ(s.faults[1].kind, DevSimFault::Kind::Redirect);
    EXPECT_EQ(s.faults[1].record, Utility(40));
    EXPECT_EQ(s.faults[1].code, 0x3A05);
    EXPECT_EQ(s.faults[1].times, 2);
    EXPECT_EQ(s.faults[2].kind, DevSimFault::Kind::HangUp);
    EXPECT_EQ(s.faults[2].record, Image(9));
    // The program's defaults are the realistic timings.
    DevSimOptions defaults;
    EXPECT_EQ(defaults.scenario.programmingTime, 30ms);
    EXPECT_TRUE(defaults.scenario.pacing);
}

TEST(DevSimCommandLine, ReadsTheFaultsOfAMisbehavingDevice) {
    DevSimOptions options;
    std::string error;
    ASSERT_TRUE(ParseDevSimCommandLine(
        {"--babble", "utility:80:always", "--stop-reading", "image:30", "--corrupt-word",
         "nth:12:0x0101", "--corrupt-word", "image:5", "--echo=nth:4", "--information-reply",
         "Babble", "--board-id-reply=silent", "--ignore-baud-change", "--babble-line", "a\\tb",
         "--echo-probability", "0.5"},
        options, error))
        << error;
    const DevSimScenario& s = options.scenario;
    EXPECT_EQ(s.informationReply, DevSimReplyMode::Babble);
    EXPECT_EQ(s.boardIdReply, DevSimReplyMode::Silent);
    EXPECT_TRUE(s.ignoreBaudChange);
    EXPECT_EQ(s.babbleLine, "a\tb");
    EXPECT_EQ(s.echoProbability, 0.5);
    ASSERT_EQ(s.faults.size(), 5u);
    EXPECT_EQ(s.faults[0].kind, DevSimFault::Kind::Babble);
    EXPECT_EQ(s.faults[0].record, Utility(80));
    EXPECT_EQ(s.faults[0].times, -1);
    EXPECT_EQ(s.faults[1].kind, DevSimFault::Kind::StopReading);
    EXPECT_EQ(s.faults[1].record, Image(30));
    EXPECT_EQ(s.faults[2].kind, DevSimFault::Kind::CorruptWord);
    EXPECT_EQ(s.faults[2].nth, 12u);
    EXPECT_EQ(s.faults[2].code, 0x0101);
    EXPECT_EQ(s.faults[3].code, 0x8000); // the default mask flips bit 15
    EXPECT_EQ(s.faults[3].nth, 0u);
    EXPECT_EQ(s.faults[4].kind, DevSimFault::Kind::Echo);
    EXPECT_EQ(s.faults[4].nth, 4u);
}

TEST(DevSimCommandLine, RejectsMalformedValues) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--crc", "maybe"},
                                               {"--latency", "-3"},
                                               {"--latency", "12ms"},
                                               {"--drop-probability", "1.5"},
                                               {"--drop-probability", "x"},
                                               {"--refuse", "image"},
                                               {"--refuse", "disk:3"},
                                               {"--refuse", "image:3:0"},
                                               {"--redirect", "image:3"},
                                               {"--redirect", "image:3:0x4000"},
                                               {"--hang-up", "image:3:2"},
                                               {"--initial-baud", "0"},
                                               {"--babble", "nth:0"},
                                               {"--echo", "nth:3:2"},
                                               {"--stop-reading", "image:3:1"},
                                               {"--corrupt-word", "image:3:1:0"},
                                               {"--corrupt-word", "image:3:1:0x10000"},
                                               {"--information-reply", "loud"},
                                               {"--babble-line", ""},
                                               {"--ignore-baud-change=1"},
                                               {"--no-pacing=yes"}}) {
        DevSimOptions options;
        std::string error;
        EXPECT_FALSE(ParseDevSimCommandLine(args, options, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

// Runs the program with its standard output on a pipe.
class Program {
public:
    explicit Program(const std::vector<std::string>& args) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        std::vector<std::string> all{QUILLON_DEVSIM_PROGRAM};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, QUILLON_DEVSIM_PROGRAM, &actions, nullptr, argv.data(), environ) !=
            0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        m_out = out[0];
    }
    ~Program() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            Wait();
        }
        if (m_out >= 0) {
            ::close(m_out);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // The next line of its output (without the line end); empty at the end or after 20 s.
    std::string Line() {
        std::string line;
        for (;;) {
            pollfd pfd{m_out, POLLIN, 0};
            if (::poll(&pfd, 1, 20000) <= 0) {
                return line;
            }
            char c = 0;
            if (::read(m_out, &c, 1) != 1 || c == '\n') {
                return line;
            }
            line.push_back(c);
        }
    }
    // Everything up to the end of its output.
    std::string Rest() {
        std::string text;
        for (;;) {
            pollfd pfd{m_out, POLLIN, 0};
            char chunk[4096];
            if (::poll(&pfd, 1, 20000) <= 0) {
                return text;
            }
            const ssize_t n = ::read(m_out, chunk, sizeof chunk);
            if (n <= 0) {
                return text;
            }
            text.append(chunk, static_cast<std::size_t>(n));
        }
    }
    void Signal(int signal) const { ::kill(m_pid, signal); }
    // Exit status, or -1 when it did not end within 20 s.
    int Wait() {
        for (int i = 0; i < 2000 && m_pid > 0; ++i) {
            int status = 0;
            const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
            if (done == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }
    bool Started() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

TEST(DevSimProgram, HelpDocumentsEverySetting) {
    Program program({"--help"});
    ASSERT_TRUE(program.Started());
    const std::string help = program.Rest();
    EXPECT_EQ(program.Wait(), 0);
    for (const std::string& flag : kFlags) {
        EXPECT_NE(help.find(flag), std::string::npos) << flag;
    }
    EXPECT_EQ(help, DevSimHelpText());
}

TEST(DevSimProgram, RefusesAnUnknownOption) {
    Program program({"--frobnicate"});
    ASSERT_TRUE(program.Started());
    EXPECT_EQ(program.Wait(), 2);
}

TEST(DevSimProgram, ListsTheRecordsOfThePackages) {
    Program program({"--list-records", "--utility-package", QUILLON_REFERENCE_UTILITY,
                     "--firmware-package", QUILLON_REFERENCE_FIRMWARE});
    const std::string list = program.Rest();
    EXPECT_EQ(program.Wait(), 0);
    // 81 - 22 descriptors in the utility package, 57 data records in the image.
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 59 + 57);
    EXPECT_NE(list.find("utility:40   type 0x4001    736 bytes  BrdIDMod record 2 of 2"),
              std::string::npos)
        << list;
    EXPECT_NE(list.find("image:57     type 0x4039    704 bytes  KOLM record 57 of 57"),
              std::string::npos);
}

TEST(DevSimProgram, ServesAPortUntilTerminatedAndSummarises) {
    const std::string link = ::testing::TempDir() + "devsim-port-" + std::to_string(::getpid());
    Program program({"--fast", "--link", link, "--utility-package", QUILLON_REFERENCE_UTILITY,
                     "--firmware-package", QUILLON_REFERENCE_FIRMWARE});
    ASSERT_TRUE(program.Started());
    const std::string path = program.Line();
    ASSERT_TRUE(path.starts_with("/dev/pts/")) << path;

    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    HostPort host;
    ASSERT_TRUE(host.Open(link));
    const auto device = MakeDevice();
    EXPECT_TRUE(host.Activate(*device, 20));

    program.Signal(SIGTERM);
    const std::string summary = program.Line();
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_TRUE(summary.starts_with("quillon-devsim: image incomplete (0/57 records programmed)"))
        << summary;
    EXPECT_NE(summary.find("1 activations answered"), std::string::npos) << summary;
    EXPECT_NE(::lstat(link.c_str(), &st), 0); // the link went with the program
}

TEST(DevSimProgram, StartsSwitchedOffUntilTheUserSignal) {
    Program program({"--fast", "--start-off", "--utility-package", QUILLON_REFERENCE_UTILITY,
                     "--firmware-package", QUILLON_REFERENCE_FIRMWARE});
    const std::string path = program.Line();
    ASSERT_FALSE(path.empty());
    HostPort host;
    ASSERT_TRUE(host.Open(path));
    const auto device = MakeDevice();
    EXPECT_FALSE(host.Activate(*device, 3));
    program.Signal(SIGUSR1);
    EXPECT_TRUE(host.Activate(*device, 100));
    program.Signal(SIGINT);
    EXPECT_NE(program.Line().find("1 activations answered"), std::string::npos);
    EXPECT_EQ(program.Wait(), 0);
}

TEST(DevSimProgram, BabblesInAnswerToTheInformationRequestWhenAskedTo) {
    Program program({"--fast", "--information-reply", "babble", "--babble-line", "zz",
                     "--utility-package", QUILLON_REFERENCE_UTILITY, "--firmware-package",
                     QUILLON_REFERENCE_FIRMWARE});
    const std::string path = program.Line();
    ASSERT_FALSE(path.empty());
    HostPort host;
    ASSERT_TRUE(host.Open(path));
    const auto device = MakeDevice();
    ASSERT_TRUE(host.Activate(*device));
    ASSERT_TRUE(host.Send(*device, Utility(kInfoRecordList0)));
    EXPECT_EQ(host.Read(2), Word(0x3A02));
    bool closed = false;
    const auto lines = host.ReadSomeLines(1000, closed);
    EXPECT_FALSE(closed);
    ASSERT_EQ(lines.size(), 1000u);
    EXPECT_EQ(lines.front(), "VERS:1.1.1");
    EXPECT_EQ(lines.back(), "zz");
    program.Signal(SIGTERM);
    EXPECT_FALSE(program.Line().empty());
    EXPECT_EQ(program.Wait(), 0);
}

TEST(DevSimProgram, RunsAWholeUploadAndEndsAfterTheStartUpText) {
    Program program({"--fast", "--exit-after-startup", "--utility-package",
                     QUILLON_REFERENCE_UTILITY, "--firmware-package", QUILLON_REFERENCE_FIRMWARE});
    const std::string path = program.Line();
    ASSERT_FALSE(path.empty());
    HostPort host;
    ASSERT_TRUE(host.Open(path));
    const auto device = MakeDevice();
    ASSERT_TRUE(host.Activate(*device));

    for (int module : {kFlashMod5}) {
        ASSERT_EQ(host.Exchange(*device, Utility(ModuleRecord(module, 0))), 0x3A05);
        ASSERT_EQ(host.Exchange(*device, Utility(ModuleRecord(module, 1))), 0x0001);
    }
    ASSERT_TRUE(host.Send(*device, Utility(kBaud115200Record)));
    ASSERT_EQ(host.Read(2), Word(0x3A03));
    ASSERT_TRUE(host.SetBaud(115200));
    ASSERT_TRUE(host.Activate(*device));
    for (int i = kFirstImageRecord; i < kFirstImageRecord + kImageRecordCount; ++i) {
        ASSERT_EQ(host.Exchange(*device, Image(i)), i);
    }
    std::vector<std::string> lines;
    ASSERT_EQ(host.Exchange(*device, Utility(ModuleRecord(kFwCrcMod5, 0))), 0x3A05);
    ASSERT_EQ(host.Exchange(*device, Utility(ModuleRecord(kFwCrcMod5, 1)), &lines), 0x0001);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0], "-");
    ASSERT_TRUE(host.Send(*device, Utility(kLaunchRecord)));
    EXPECT_EQ(host.Read(2), Word(0x3A04));
    const Bytes text = host.ReadUntilQuiet(500ms);
    EXPECT_NE(std::string(text.begin(), text.end()).find("*** Unit Initialised"),
              std::string::npos);

    const std::string summary = program.Line();
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_TRUE(summary.starts_with(
        "quillon-devsim: holds the complete firmware image (57/57 records programmed)"))
        << summary;
    EXPECT_NE(summary.find("firmware started"), std::string::npos) << summary;
}

} // namespace
} // namespace quillon::devsimtest
