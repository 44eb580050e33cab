// "quillon-cli ports" run as a child process against a faked sysfs, /dev and /proc.

#include "ChildProcess.h"
#include "platform/PseudoTerminal.h"
#include "tests/support/FakeSerialTree.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::FakeSerialTree;
using testing::FakeUsbIdentity;

const std::string kCli = QUILLON_CLI_PROGRAM;

struct PortsRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs quillon-cli with the faked machine under root (as another user with runAs).
PortsRun RunPorts(const std::filesystem::path& root, std::vector<std::string> args,
             bool asOrdinaryUser = false) {
    ChildProcess::Options options;
    if (!root.empty()) { // else the machine's own folders
        options.environment["QUILLON_DISCOVERY_ROOT"] = root.string();
    }
    options.workingDirectory = "/";
    args.insert(args.begin(), "ports");
    std::string program = kCli;
    if (asOrdinaryUser) {
        args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", "--", kCli});
        program = "/usr/bin/setpriv";
    }
    ChildProcess process(program, args, options);
    PortsRun run;
    const std::optional<int> status = process.Wait(60s);
    run.status = status.value_or(-1);
    run.out = process.Out();
    run.err = process.Err();
    return run;
}

std::vector<QJsonObject> JsonLines(const std::string& text) {
    std::vector<QJsonObject> objects;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        QJsonParseError error{};
        const QJsonDocument document =
            QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
        EXPECT_TRUE(document.isObject()) << line;
        objects.push_back(document.object());
    }
    return objects;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A machine with an FTDI adapter (held by a terminal program, with its by-id name), an
// Arduino on CDC ACM, a built-in UART and the placeholders and terminals to leave out.
class PortsCommandTest : public ::testing::Test {
protected:
    PortsCommandTest() {
        tree_.AddUsbSerial("ttyUSB0", FakeUsbIdentity{});
        FakeUsbIdentity arduino{"2341",        "0043",         "Arduino (www.arduino.cc)",
                                "Arduino Uno", "7583\x1b[31m", "",
                                "cdc_acm",     "3-2"};
        tree_.AddAcm("ttyACM0", arduino);
        tree_.AddUart("ttyS0", 4);
        tree_.AddUart("ttyS1", 0);
        tree_.AddVirtual("tty1");
        tree_.AddByIdLink(kById, "../../ttyUSB0");
        tree_.AddByIdLink("usb-Pulled_Out-if00-port0", "../../ttyUSB9");
        tree_.AddHolder(4242, "minicom", (tree_.Dev() / "ttyUSB0").string());
    }

    static constexpr const char* kById = "usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0";
    FakeSerialTree tree_;
};

TEST_F(PortsCommandTest, JsonLinesCarryEveryFieldOfEveryPort) {
    const PortsRun run = RunPorts(tree_.Root(), {"--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<QJsonObject> ports = JsonLines(run.out);
    ASSERT_EQ(ports.size(), 3u) << run.out;
    EXPECT_EQ(ports[0]["name"].toString(), "ttyACM0");
    EXPECT_EQ(ports[1]["name"].toString(), "ttyS0");
    EXPECT_EQ(ports[2]["name"].toString(), "ttyUSB0");

    const QJsonObject& ftdi = ports[2];
    const QString dev = QString::fromStdString(tree_.Dev().string());
    EXPECT_EQ(ftdi["device"].toString(), dev + "/ttyUSB0");
    EXPECT_EQ(ftdi["by_id"].toArray(), QJsonArray{dev + "/serial/by-id/" + kById});
    EXPECT_EQ(ftdi["kind"].toString(), "usb-serial");
    EXPECT_EQ(ftdi["vendor_id"].toString(), "0403");
    EXPECT_EQ(ftdi["product_id"].toString(), "6001");
    EXPECT_EQ(ftdi["manufacturer"].toString(), "FTDI");
    EXPECT_EQ(ftdi["product"].toString(), "FT232R USB UART");
    EXPECT_EQ(ftdi["serial_number"].toString(), "A1B2C3D4");
    EXPECT_EQ(ftdi["driver"].toString(), "ftdi_sio");
    EXPECT_EQ(ftdi["location"].toString(), "1-1.2");
    EXPECT_EQ(ftdi["description"].toString(), "FT232R USB UART (FTDI), serial A1B2C3D4");
    EXPECT_EQ(ftdi["hardware_id"].toString(), "USB VID:PID=0403:6001 SER=A1B2C3D4 LOCATION=1-1.2");
    EXPECT_TRUE(ftdi["interface"].isNull());
    EXPECT_TRUE(ftdi["may_open"].toBool());
    EXPECT_TRUE(ftdi["access_error"].isNull());
    EXPECT_TRUE(ftdi["hint"].isNull());
    const QJsonArray holders = ftdi["holders"].toArray();
    ASSERT_EQ(holders.size(), 1);
    EXPECT_EQ(holders[0].toObject()["pid"].toInt(), 4242);
    EXPECT_EQ(holders[0].toObject()["name"].toString(), "minicom");

    // The escape sequence in the Arduino's serial number arrives defused.
    EXPECT_EQ(ports[0]["serial_number"].toString(), "7583\\x1B[31m");
    EXPECT_EQ(ports[0]["driver"].toString(), "cdc_acm");
    EXPECT_EQ(ports[1]["description"].toString(), "built-in serial port");
    EXPECT_TRUE(ports[1]["vendor_id"].isNull());
    EXPECT_TRUE(ports[1]["holders"].toArray().isEmpty());
}

TEST_F(PortsCommandTest, TheTableShowsThePortsForPeople) {
    const PortsRun run = RunPorts(tree_.Root(), {});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(Contains(run.out, "\x1b")) << "a device's bytes reached the terminal";
    std::istringstream in(run.out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_GE(lines.size(), 6u) << run.out;
    EXPECT_EQ(lines[0].rfind("PORT", 0), 0u);
    EXPECT_TRUE(Contains(lines[1], "/ttyACM0") && Contains(lines[1], "Arduino Uno") &&
                Contains(lines[1], "2341:0043") && Contains(lines[1], "cdc_acm"))
        << lines[1];
    const std::string usbRow = lines[lines.size() - 3];
    EXPECT_TRUE(Contains(usbRow, "FT232R USB UART (FTDI), serial A1B2C3D4") &&
                Contains(usbRow, "yes") && Contains(usbRow, "4242 minicom"))
        << run.out;
    EXPECT_TRUE(Contains(lines[lines.size() - 2], "by-id: ") &&
                Contains(lines[lines.size() - 2], kById))
        << run.out;
    EXPECT_TRUE(Contains(lines.back(), "USB VID:PID=0403:6001")) << run.out;
    EXPECT_FALSE(Contains(run.out, "ttyS1"));
    EXPECT_FALSE(Contains(run.out, "dialout"));
}

// Named ports, in both output forms: what is found, what is not, and the exit status.
struct NamedCase {
    const char* label;
    bool json;
};

class NamedPortsTest : public PortsCommandTest, public ::testing::WithParamInterface<NamedCase> {};

TEST_P(NamedPortsTest, APseudoTerminalAndAByIdNameAreDescribedAMissingPortReported) {
    PseudoTerminal pty;
    ASSERT_EQ(pty.Open(), 0);
    std::vector<std::string> realArgs{pty.SlavePath(), "/dev/quillon-no-such-port"};
    std::vector<std::string> fakedArgs{(tree_.Dev() / "serial/by-id" / kById).string()};
    if (GetParam().json) {
        realArgs.insert(realArgs.begin(), "--json");
        fakedArgs.insert(fakedArgs.begin(), "--json");
    }
    // The pseudo-terminal on the real machine, whose /proc shows this test holding it.
    const PortsRun real = RunPorts({}, realArgs);
    EXPECT_EQ(real.status, 2);
    EXPECT_TRUE(Contains(real.err, "There is no port /dev/quillon-no-such-port")) << real.err;
    const PortsRun faked = RunPorts(tree_.Root(), fakedArgs);
    EXPECT_EQ(faked.status, 0) << faked.err;
    if (!GetParam().json) {
        EXPECT_TRUE(Contains(real.out, pty.SlavePath() + "  pseudo-terminal")) << real.out;
        EXPECT_TRUE(Contains(real.out, std::to_string(::getpid()))) << real.out;
        EXPECT_TRUE(Contains(faked.out, "FT232R USB UART (FTDI)")) << faked.out;
        EXPECT_TRUE(Contains(faked.out, "4242 minicom")) << faked.out;
        return;
    }
    const std::vector<QJsonObject> ports = JsonLines(real.out);
    ASSERT_EQ(ports.size(), 1u) << real.out;
    EXPECT_EQ(ports[0]["device"].toString().toStdString(), pty.SlavePath());
    EXPECT_EQ(ports[0]["kind"].toString(), "other");
    EXPECT_EQ(ports[0]["description"].toString(), "pseudo-terminal");
    EXPECT_TRUE(ports[0]["may_open"].toBool());
    bool heldByUs = false;
    for (const QJsonValue holder : ports[0]["holders"].toArray()) {
        heldByUs = heldByUs || holder.toObject()["pid"].toInt() == ::getpid();
    }
    EXPECT_TRUE(heldByUs) << real.out;
    const std::vector<QJsonObject> usb = JsonLines(faked.out);
    ASSERT_EQ(usb.size(), 1u) << faked.out;
    EXPECT_EQ(usb[0]["device"].toString().toStdString(), (tree_.Dev() / "ttyUSB0").string());
    EXPECT_EQ(usb[0]["serial_number"].toString(), "A1B2C3D4");
    EXPECT_EQ(usb[0]["holders"].toArray().size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Formats, NamedPortsTest,
                         ::testing::Values(NamedCase{"Table", false}, NamedCase{"Json", true}),
                         [](const ::testing::TestParamInfo<NamedCase>& param) {
                             return std::string(param.param.label);
                         });

class PermissionTest : public PortsCommandTest, public ::testing::WithParamInterface<NamedCase> {};

TEST_P(PermissionTest, APortThisUserMayNotOpenCarriesTheDialoutHint) {
    const std::filesystem::path node = tree_.Dev() / "ttyUSB0";
    std::filesystem::permissions(node, std::filesystem::perms::none);
    const bool asOtherUser = ::geteuid() == 0; // root may open anything
    if (asOtherUser) {
        // The ordinary user must be able to walk the faked tree itself.
        for (auto it = std::filesystem::recursive_directory_iterator(tree_.Root());
             it != std::filesystem::recursive_directory_iterator(); ++it) {
            if (it->is_directory() && !it->is_symlink()) {
                std::filesystem::permissions(it->path(),
                                             std::filesystem::perms::others_read |
                                                 std::filesystem::perms::others_exec,
                                             std::filesystem::perm_options::add);
            }
        }
        std::filesystem::permissions(tree_.Root(), std::filesystem::perms::others_exec,
                                     std::filesystem::perm_options::add);
    }
    const PortsRun run = GetParam().json ? RunPorts(tree_.Root(), {"--json"}, asOtherUser)
                                    : RunPorts(tree_.Root(), {}, asOtherUser);
    if (asOtherUser && (run.status == 126 || run.status == 127)) {
        GTEST_SKIP() << "the program cannot be run as another user here: " << run.err;
    }
    ASSERT_EQ(run.status, 0) << run.err;
    if (!GetParam().json) {
        EXPECT_TRUE(Contains(run.out, "no permission")) << run.out;
        EXPECT_TRUE(Contains(run.out, "\"dialout\"")) << run.out;
        return;
    }
    const std::vector<QJsonObject> ports = JsonLines(run.out);
    ASSERT_EQ(ports.size(), 3u) << run.out;
    EXPECT_FALSE(ports[2]["may_open"].toBool());
    EXPECT_EQ(ports[2]["access_error"].toString(), "Permission denied");
    EXPECT_TRUE(ports[2]["hint"].toString().contains("\"dialout\" group")) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Formats, PermissionTest,
                         ::testing::Values(NamedCase{"Table", false}, NamedCase{"Json", true}),
                         [](const ::testing::TestParamInfo<NamedCase>& param) {
                             return std::string(param.param.label);
                         });

TEST(PortsCommandUsageTest, HelpEmptyMachinesAndBadOptions) {
    FakeSerialTree empty;
    const PortsRun none = RunPorts(empty.Root(), {});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "No serial ports found.\n");
    const PortsRun noneJson = RunPorts(empty.Root(), {"--json"});
    EXPECT_EQ(noneJson.status, 0);
    EXPECT_EQ(noneJson.out, "");

    const PortsRun help = RunPorts(empty.Root(), {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(Contains(help.out, "Usage: quillon-cli ports [--json] [PORT...]")) << help.out;
    EXPECT_TRUE(Contains(help.out, "serial_number")) << help.out;
    EXPECT_TRUE(Contains(help.out, "QUILLON_DISCOVERY_ROOT")) << help.out;

    const PortsRun bad = RunPorts(empty.Root(), {"--jsn"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(Contains(bad.err, "unknown option '--jsn'")) << bad.err;
}

} // namespace
} // namespace quillon
