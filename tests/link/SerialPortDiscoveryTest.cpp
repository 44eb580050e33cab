#include "platform/SerialPortDiscovery.h"

#include "platform/PseudoTerminal.h"
#include "tests/support/FakeSerialTree.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quillon {
namespace {

namespace fs = std::filesystem;
using testing::FakeSerialTree;
using testing::FakeUsbIdentity;

const SerialPortInfo* Find(const std::vector<SerialPortInfo>& ports, const std::string& name) {
    const auto it = std::find_if(ports.begin(), ports.end(),
                                 [&](const SerialPortInfo& port) { return port.name == name; });
    return it == ports.end() ? nullptr : &*it;
}

// One faked port and what discovery must make of it.
struct PortCase {
    const char* label;
    std::function<void(FakeSerialTree&)> build;
    const char* name;
    const char* kind;
    const char* description;
    const char* hardwareId;
    const char* driver;
};

void PrintTo(const PortCase& c, std::ostream* out) {
    *out << c.label;
}

FakeUsbIdentity Usb(std::function<void(FakeUsbIdentity&)> change = {}) {
    FakeUsbIdentity usb;
    if (change) {
        change(usb);
    }
    return usb;
}

class DescribedPortTest : public ::testing::TestWithParam<PortCase> {};

TEST_P(DescribedPortTest, DiscoveryReadsTheIdentitySysfsGives) {
    const PortCase& c = GetParam();
    FakeSerialTree tree;
    c.build(tree);
    tree.AddVirtual("tty0");
    const std::vector<SerialPortInfo> ports = DiscoverSerialPorts(tree.Roots());
    const SerialPortInfo* port = Find(ports, c.name);
    if (c.kind == nullptr) {
        EXPECT_EQ(port, nullptr) << "listed though it is no serial port";
        return;
    }
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(ports.size(), 1u);
    EXPECT_EQ(port->devicePath, (tree.Dev() / c.name).string());
    EXPECT_EQ(port->kind, c.kind);
    EXPECT_EQ(PortDescription(*port), c.description);
    EXPECT_EQ(HardwareId(*port), c.hardwareId);
    EXPECT_EQ(port->driver, c.driver);
    EXPECT_TRUE(port->mayOpen);
    EXPECT_EQ(port->accessError, 0);
    EXPECT_TRUE(port->holders.empty());

    // Asked for by name, the port is described the same way.
    const std::optional<SerialPortInfo> described = DescribeSerialPort(c.name, tree.Roots());
    ASSERT_TRUE(described.has_value());
    EXPECT_EQ(described->devicePath, port->devicePath);
    EXPECT_EQ(PortDescription(*described), c.description);
    EXPECT_EQ(HardwareId(*described), c.hardwareId);
}

INSTANTIATE_TEST_SUITE_P(
    Sysfs, DescribedPortTest,
    ::testing::Values(
        PortCase{"FtdiTwoLevelsUp",
                 [](FakeSerialTree& fake) { fake.AddUsbSerial("ttyUSB0", Usb()); }, "ttyUSB0",
                 "usb-serial", "FT232R USB UART (FTDI), serial A1B2C3D4",
                 "USB VID:PID=0403:6001 SER=A1B2C3D4 LOCATION=1-1.2", "ftdi_sio"},
        PortCase{"CdcAcmOneLevelUp",
                 [](FakeSerialTree& fake) {
                     fake.AddAcm("ttyACM0", Usb([](FakeUsbIdentity& u) {
                                     u.vendorId = "2341";
                                     u.productId = "0043";
                                     u.manufacturer = "Arduino (www.arduino.cc)";
                                     u.product = "";
                                     u.serial = "75833353035351E0C1E1";
                                     u.interfaceName = "CDC Abstract Control Model (ACM)";
                                     u.driver = "cdc_acm";
                                     u.location = "3-2";
                                 }));
                 },
                 "ttyACM0", "usb-acm",
                 "USB modem 2341:0043 - CDC Abstract Control Model (ACM) (Arduino "
                 "(www.arduino.cc)), serial 75833353035351E0C1E1",
                 "USB VID:PID=2341:0043 SER=75833353035351E0C1E1 LOCATION=3-2", "cdc_acm"},
        PortCase{"LowerCaseIdsComeOutUpperCaseInTheHardwareId",
                 [](FakeSerialTree& fake) {
                     fake.AddUsbSerial("ttyUSB3", Usb([](FakeUsbIdentity& u) {
                                           u.vendorId = "10c4";
                                           u.productId = "ea60";
                                           u.manufacturer = "Silicon Labs";
                                           u.product = "CP2102 USB to UART Bridge Controller";
                                           u.serial = "";
                                           u.driver = "cp210x";
                                       }));
                 },
                 "ttyUSB3", "usb-serial", "CP2102 USB to UART Bridge Controller (Silicon Labs)",
                 "USB VID:PID=10C4:EA60 LOCATION=1-1.2", "cp210x"},
        PortCase{"UsbWithEveryStringMissing",
                 [](FakeSerialTree& fake) {
                     fake.AddUsbSerial("ttyUSB1", Usb([](FakeUsbIdentity& u) {
                                           u = FakeUsbIdentity{"", "", "", "", "", "", "", "2-1"};
                                       }));
                 },
                 "ttyUSB1", "usb-serial", "USB serial adapter", "", ""},
        PortCase{"ControlAndNonUtf8BytesAreEscaped",
                 [](FakeSerialTree& fake) {
                     fake.AddUsbSerial("ttyUSB2", Usb([](FakeUsbIdentity& u) {
                                           u.product = std::string("Evil\x1b[2J\xff\xfe UART\r\nX");
                                           u.manufacturer = "M\xc3\xbcller \xe2\x80\xae"
                                                            "cba";
                                           u.serial = std::string("S\0N", 3);
                                       }));
                 },
                 "ttyUSB2", "usb-serial",
                 "Evil\\x1B[2J\\xFF\\xFE UART\\x0D\\x0AX (M\xc3\xbcller \\u202Ecba), serial "
                 "S\\x00N",
                 "USB VID:PID=0403:6001 SER=S\\x00N LOCATION=1-1.2", "ftdi_sio"},
        PortCase{"UartWithAType", [](FakeSerialTree& fake) { fake.AddUart("ttyS0", 4); }, "ttyS0",
                 "uart", "built-in serial port", "", "serial"},
        PortCase{"UartPlaceholderTypeZero", [](FakeSerialTree& fake) { fake.AddUart("ttyS1", 0); },
                 "ttyS1", nullptr, "", "", ""},
        PortCase{"UartWithoutTypeFile",
                 [](FakeSerialTree& fake) { fake.AddUart("ttyS2", std::nullopt); }, "ttyS2",
                 nullptr, "", "", ""},
        PortCase{"UartWithAGarbledType",
                 [](FakeSerialTree& fake) {
                     fake.AddUart("ttyS3", std::nullopt);
                     FakeSerialTree::WriteFile(fake.Sys() / "class/tty/ttyS3/type", "4x\n");
                 },
                 "ttyS3", nullptr, "", "", ""}),
    [](const ::testing::TestParamInfo<PortCase>& param) { return std::string(param.param.label); });

TEST(SerialPortDiscoveryTest, LongStringsAreCutAndUnreadableFilesLeftEmpty) {
    FakeSerialTree tree;
    const fs::path usb = tree.AddUsbSerial(
        "ttyUSB0", Usb([](FakeUsbIdentity& u) { u.product = std::string(100000, 'P'); }));
    // A folder where a file belongs, and a FIFO nobody writes: neither may stall or fail
    // the discovery.
    fs::remove(usb / "manufacturer");
    fs::create_directory(usb / "manufacturer");
    fs::remove(usb / "serial");
    ASSERT_EQ(::mkfifo((usb / "serial").c_str(), 0600), 0);

    const std::vector<SerialPortInfo> ports = DiscoverSerialPorts(tree.Roots());
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_LT(ports[0].product.size(), 200u);
    EXPECT_EQ(ports[0].product.substr(0, 10), "PPPPPPPPPP");
    EXPECT_EQ(ports[0].product.substr(ports[0].product.size() - 3), "...");
    EXPECT_EQ(ports[0].manufacturer, "");
    EXPECT_EQ(ports[0].serialNumber, "");
    EXPECT_EQ(ports[0].vendorId, "0403");
}

TEST(SerialPortDiscoveryTest, ByIdLinksAreMatchedAndDanglingOnesIgnored) {
    FakeSerialTree tree;
    tree.AddUsbSerial("ttyUSB0", Usb());
    tree.AddUsbSerial("ttyUSB1", Usb([](FakeUsbIdentity& u) { u.location = "1-1.3"; }));
    const std::string link = "usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0";
    tree.AddByIdLink(link, "../../ttyUSB0");
    tree.AddByIdLink("usb-Gone_Adapter-if00-port0", "../../ttyUSB7");
    tree.AddByIdLink("usb-Loop-if00", "usb-Loop-if00");

    const std::vector<SerialPortInfo> ports = DiscoverSerialPorts(tree.Roots());
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].byIdLinks,
              std::vector<std::string>{(tree.Dev() / "serial/by-id" / link).string()});
    EXPECT_TRUE(ports[1].byIdLinks.empty());

    const std::optional<SerialPortInfo> viaLink =
        DescribeSerialPort((tree.Dev() / "serial/by-id" / link).string(), tree.Roots());
    ASSERT_TRUE(viaLink.has_value());
    EXPECT_EQ(viaLink->devicePath, (tree.Dev() / "ttyUSB0").string());
    EXPECT_EQ(viaLink->serialNumber, "A1B2C3D4");
    EXPECT_FALSE(DescribeSerialPort(
        (tree.Dev() / "serial/by-id/usb-Gone_Adapter-if00-port0").string(), tree.Roots()));
    EXPECT_FALSE(
        DescribeSerialPort((tree.Dev() / "serial/by-id/usb-Loop-if00").string(), tree.Roots()));
}

TEST(SerialPortDiscoveryTest, NamesResolveLikeTheSerialPortDoes) {
    FakeSerialTree tree;
    tree.AddUart("ttyS0", 4);
    tree.AddUart("ttyS1", 0);
    for (const std::string name : {"COM1", "com1", "\\\\.\\COM1", "ttyS0"}) {
        const std::optional<SerialPortInfo> port = DescribeSerialPort(name, tree.Roots());
        ASSERT_TRUE(port.has_value()) << name;
        EXPECT_EQ(port->devicePath, (tree.Dev() / "ttyS0").string()) << name;
        EXPECT_EQ(port->kind, "uart") << name;
    }
    // A placeholder without a UART is still a device file: described, but not as a UART.
    const std::optional<SerialPortInfo> placeholder = DescribeSerialPort("COM2", tree.Roots());
    ASSERT_TRUE(placeholder.has_value());
    EXPECT_EQ(placeholder->kind, "other");
    EXPECT_EQ(PortDescription(*placeholder), "serial port");
    EXPECT_FALSE(DescribeSerialPort("COM9", tree.Roots()));
    EXPECT_FALSE(DescribeSerialPort("", tree.Roots()));
    EXPECT_EQ(SerialDevicePath("COM0", "/dev"), "/dev/COM0");
    EXPECT_EQ(SerialDevicePath("Com12", "/dev"), "/dev/ttyS11");
}

TEST(SerialPortDiscoveryTest, AnAdapterWithoutItsDeviceNodeMayNotBeOpened) {
    FakeSerialTree tree;
    tree.AddUsbSerial("ttyUSB0", Usb(), false);
    const std::vector<SerialPortInfo> ports = DiscoverSerialPorts(tree.Roots());
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_FALSE(ports[0].mayOpen);
    EXPECT_EQ(ports[0].accessError, ENOENT);
}

TEST(SerialPortDiscoveryTest, HoldersComeFromEveryProcesssOpenFilesOnce) {
    FakeSerialTree tree;
    tree.AddUsbSerial("ttyUSB0", Usb());
    tree.AddAcm("ttyACM0", Usb([](FakeUsbIdentity& u) { u.location = "1-4"; }));
    const std::string usb0 = (tree.Dev() / "ttyUSB0").string();
    tree.AddHolder(4321, "minicom", usb0, 3);
    tree.AddHolder(4321, "minicom", usb0, 7); // the same process twice
    tree.AddHolder(99, std::string("evil\x1b]0;x\x07"), usb0, 5);
    tree.AddHolder(555, "cat", (tree.Dev() / "null").string(), 1);
    // Entries that are no processes, and a process whose files cannot be listed.
    FakeSerialTree::WriteFile(tree.Proc() / "self" / "comm", "nope\n");
    FakeSerialTree::WriteFile(tree.Proc() / "700" / "fd", "not a folder");
    FakeSerialTree::WriteFile(tree.Proc() / "uptime", "1.0 1.0\n");

    const std::vector<SerialPortInfo> ports = DiscoverSerialPorts(tree.Roots());
    ASSERT_EQ(ports.size(), 2u);
    const SerialPortInfo* usb = Find(ports, "ttyUSB0");
    ASSERT_NE(usb, nullptr);
    ASSERT_EQ(usb->holders.size(), 2u);
    EXPECT_EQ(usb->holders[0].pid, 99);
    EXPECT_EQ(usb->holders[0].name, "evil\\x1B]0;x\\x07");
    EXPECT_EQ(usb->holders[1].pid, 4321);
    EXPECT_EQ(usb->holders[1].name, "minicom");
    EXPECT_TRUE(Find(ports, "ttyACM0")->holders.empty());

    EXPECT_TRUE(DiscoverSerialPorts(tree.Roots(), HolderScan::kWithout)[1].holders.empty());
}

TEST(SerialPortDiscoveryTest, APseudoTerminalIsDescribedWithItsRealHolder) {
    PseudoTerminal pty;
    ASSERT_EQ(pty.Open(), 0);
    // The pseudo-terminal keeps a slave descriptor of its own: this process holds it.
    const std::optional<SerialPortInfo> port = DescribeSerialPort(pty.SlavePath());
    ASSERT_TRUE(port.has_value());
    EXPECT_EQ(port->devicePath, pty.SlavePath());
    EXPECT_EQ(port->kind, "other");
    EXPECT_EQ(PortDescription(*port), "pseudo-terminal");
    EXPECT_EQ(HardwareId(*port), "");
    EXPECT_TRUE(port->mayOpen);
    const auto self = std::find_if(port->holders.begin(), port->holders.end(),
                                   [](const SerialPortHolder& h) { return h.pid == ::getpid(); });
    ASSERT_NE(self, port->holders.end());
    EXPECT_FALSE(self->name.empty());

    // Through a link of its own name, too.
    testing::TempDirectory folder;
    ASSERT_EQ(pty.CreateLink(folder.File("port")), 0);
    const std::optional<SerialPortInfo> viaLink = DescribeSerialPort(folder.File("port"));
    ASSERT_TRUE(viaLink.has_value());
    EXPECT_EQ(viaLink->devicePath, pty.SlavePath());
}

TEST(SerialPortDiscoveryTest, ThousandsOfTtysLeaveOnlyTheRealPorts) {
    FakeSerialTree tree;
    for (int n = 0; n < 1000; ++n) {
        tree.AddVirtual("tty" + std::to_string(n));
    }
    for (int n = 0; n < 500; ++n) {
        tree.AddUart("ttyS" + std::to_string(n), n == 4 ? 1 : 0);
    }
    tree.AddUsbSerial("ttyUSB10", Usb([](FakeUsbIdentity& u) { u.location = "1-1.5"; }));
    tree.AddUsbSerial("ttyUSB2", Usb([](FakeUsbIdentity& u) { u.location = "1-1.6"; }));
    std::vector<std::string> names;
    for (const SerialPortInfo& port : DiscoverSerialPorts(tree.Roots())) {
        names.push_back(port.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"ttyS4", "ttyUSB2", "ttyUSB10"}));
}

struct SafeTextCase {
    std::string input;
    std::string shown;
};

class SafeTextTest : public ::testing::TestWithParam<SafeTextCase> {};

TEST_P(SafeTextTest, ShowsUntrustedBytesSafely) {
    EXPECT_EQ(SafeText(GetParam().input, 16), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, SafeTextTest,
    ::testing::Values(SafeTextCase{"FT232R", "FT232R"}, SafeTextCase{"tab\there", "tab\\x09here"},
                      SafeTextCase{"\x7f", "\\x7F"},
                      SafeTextCase{"caf\xc3\xa9", "caf\xc3\xa9"},               // UTF-8 kept
                      SafeTextCase{"\xc3", "\\xC3"},                            // cut sequence
                      SafeTextCase{"\xc0\xaf", "\\xC0\\xAF"},                   // overlong '/'
                      SafeTextCase{"\xed\xa0\x80", "\\xED\\xA0\\x80"},          // surrogate
                      SafeTextCase{"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"}, // > U+10FFFF
                      SafeTextCase{"\xc2\x85", "\\u0085"},                      // C1 control
                      SafeTextCase{"a\xe2\x81\xa6z", "a\\u2066z"},              // bidi isolate
                      SafeTextCase{"\xf0\x9f\x94\x8c", "\xf0\x9f\x94\x8c"},     // emoji kept
                      SafeTextCase{"0123456789abcdefXYZ", "0123456789abcdef..."}));

} // namespace
} // namespace quillon
