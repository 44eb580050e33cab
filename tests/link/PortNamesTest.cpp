// What holds for port names on every system: the order ports are listed in, the name forms
// users type, and the USB identity in a Windows device id.
#include "platform/SerialPortDiscovery.h"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>
#include <set>

namespace quillon {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

TEST(PortNamesTest, NumbersInNamesSortAsNumbers) {
    const std::vector<std::string> expected{"COM1",    "COM2",     "COM9",      "COM10",
                                            "COM256",  "ttyACM0",  "ttyS2",     "ttyS10",
                                            "ttyUSB2", "ttyUSB10", "ttyUSB010x"};
    std::vector<std::string> names = expected;
    std::reverse(names.begin(), names.end());
    std::rotate(names.begin(), names.begin() + 4, names.end());
    std::sort(names.begin(), names.end(), PortNameLess);
    EXPECT_EQ(names, expected);
    EXPECT_FALSE(PortNameLess("COM2", "COM2"));
    EXPECT_TRUE(PortNameLess("COM", "COM1"));
    EXPECT_FALSE(PortNameLess("COM1", "COM"));
}

TEST(PortNamesTest, EveryFormOfAComNameReachesOneDeviceOfItsOwn) {
    std::set<std::string> paths;
    for (int n = 1; n <= 256; ++n) {
        const std::string name = "COM" + std::to_string(n);
        const std::string path = SerialDevicePath(name);
        ASSERT_FALSE(path.empty()) << name;
        // Letter case does not matter to the system, the "\\.\" form is the same port, and
        // a device path is its own device path.
        EXPECT_EQ(Lower(SerialDevicePath(Lower(name))), Lower(path)) << name;
        EXPECT_EQ(SerialDevicePath("\\\\.\\" + name), path) << name;
        EXPECT_EQ(SerialDevicePath(path), path) << name;
        paths.insert(Lower(path));
    }
    EXPECT_EQ(paths.size(), 256u);
    EXPECT_EQ(SerialDevicePath(""), "");
    EXPECT_EQ(SerialDevicePath("\\\\.\\"), "");
}

struct DeviceIdCase {
    const char* id;
    const char* vendorId;
    const char* productId;
    const char* serialNumber;
};

void PrintTo(const DeviceIdCase& c, std::ostream* out) {
    *out << '"' << c.id << '"';
}

class UsbDeviceIdTest : public ::testing::TestWithParam<DeviceIdCase> {};

TEST_P(UsbDeviceIdTest, IdsAndSerialNumberComeFromTheDeviceId) {
    const UsbDeviceIds ids = ParseUsbDeviceId(GetParam().id);
    EXPECT_EQ(ids.vendorId, GetParam().vendorId);
    EXPECT_EQ(ids.productId, GetParam().productId);
    EXPECT_EQ(ids.serialNumber, GetParam().serialNumber);
}

INSTANTIATE_TEST_SUITE_P(
    Ids, UsbDeviceIdTest,
    ::testing::Values(
        DeviceIdCase{"USB\\VID_0403&PID_6001\\A1B2C3", "0403", "6001", "A1B2C3"},
        DeviceIdCase{"usb\\vid_10C4&pid_EA60\\0001", "10c4", "ea60", "0001"},
        // A hardware id names the revision, not an instance.
        DeviceIdCase{"USB\\VID_2341&PID_0043&REV_0001", "2341", "0043", ""},
        // Made up by Windows for a device without a serial number.
        DeviceIdCase{"USB\\VID_1A86&PID_7523\\5&2C3A1B&0&2", "1a86", "7523", ""},
        // One function of a composite device: its parent has the serial number.
        DeviceIdCase{"USB\\VID_2E8A&PID_000A&MI_00\\6&1F2E3D&0&0000", "2e8a", "000a", ""},
        DeviceIdCase{"FTDIBUS\\VID_0403+PID_6001+A1B2C3A\\0000", "0403", "6001", ""},
        DeviceIdCase{"USB\\VID_0403&PID_6001\\A\x1B]0;x", "0403", "6001", "A\\x1B]0;x"},
        DeviceIdCase{"USB\\VID_04&PID_6001\\X", "", "", ""},
        DeviceIdCase{"USB\\VID_04031&PID_6001\\X", "", "", ""},
        DeviceIdCase{"ACPI\\PNP0501\\1", "", "", ""}, DeviceIdCase{"", "", "", ""}));

TEST(PortNamesTest, APortKnownOnlyByItsSystemNameIsShownByIt) {
    SerialPortInfo port;
    port.kind = "other";
    port.devicePath = "COM4";
    EXPECT_EQ(PortDescription(port), "serial port");
    port.product = "Standard Serial over Bluetooth link (COM4)";
    EXPECT_EQ(PortDescription(port), port.product);
    EXPECT_EQ(HardwareId(port), "");
    port.kind = "usb-serial";
    port.vendorId = "0403";
    port.productId = "6001";
    port.serialNumber = "A1B2C3";
    EXPECT_EQ(HardwareId(port), "USB VID:PID=0403:6001 SER=A1B2C3");
}

} // namespace
} // namespace quillon
