#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// A process that has a port open.
struct SerialPortHolder {
    int pid = 0;
    std::string name; // from /proc/<pid>/comm, shown safely
};

// What the system says about one serial port. Every text read from sysfs or SetupAPI is
// untrusted (a USB device chooses its own strings): control bytes and bytes that are not
// UTF-8 are escaped as \xNN and lengths are bounded, so the fields can be shown as they are.
//
// On Windows devicePath and name are both the name users type (COM3): the serial port adds
// the "\\.\" itself (SerialDevicePath), so what the port list offers is what is saved and
// shown. Windows has no by-id links and tells no holders: those lists stay empty and their
// flags false, so a caller can tell "none" from "not known".
struct SerialPortInfo {
    std::string devicePath;             // /dev/ttyUSB0; COM3 on Windows
    std::string name;                   // ttyUSB0; COM3 on Windows
    std::vector<std::string> byIdLinks; // /dev/serial/by-id/... pointing at it
    bool byIdKnown = false;             // the system has such links and they were looked for
    std::string kind;                   // "usb-serial", "usb-acm", "uart", "other"
    std::string vendorId, productId;    // USB ids, four lower-case hex digits
    std::string manufacturer, product, serialNumber, interfaceName;
    std::string driver;   // ftdi_sio, cdc_acm, serial8250 ...; FTDIBUS, usbser ... on Windows
    std::string location; // USB bus path, 1-1.2; SetupAPI's location text on Windows
    bool mayOpen = false; // this user may read and write it (on Windows: not tried, true)
    int accessError = 0;  // errno of access(R_OK|W_OK); 0 when mayOpen
    std::vector<SerialPortHolder> holders;
    bool holdersKnown = false; // the holders were looked for
};

// Where the system's views of devices and processes are; tests point them at a faked tree.
struct DiscoveryRoots {
    std::filesystem::path sysClassTty{"/sys/class/tty"};
    std::filesystem::path dev{"/dev"};
    std::filesystem::path proc{"/proc"};
};

// Whether discovery also looks for the processes holding each port: that walks every
// process's open files once, so frequent refreshes leave it out.
enum class HolderScan { kWith, kWithout };

// The serial ports of this computer: USB serial adapters, USB modems (ACM) and built-in
// ports (ttyS*) whose UART the kernel knows; the many ttyS* placeholders without hardware
// behind them, virtual terminals and pseudo-terminals are left out. Sorted by name, numbers
// in names compared as numbers (ttyUSB2 before ttyUSB10).
// On Windows: every COMn among the MS-DOS device names, described from SetupAPI's Ports
// class where it lists the port; the roots are not used. Ports are never opened to find out.
std::vector<SerialPortInfo> DiscoverSerialPorts(const DiscoveryRoots& roots = {},
                                                HolderScan holders = HolderScan::kWith);

// One port by the name a user gives: a device path, a /dev/serial/by-id link, a bare name
// (ttyUSB0) or COMn. Works for ports discovery does not list (a pseudo-terminal) with what
// can be learnt about them; nothing when there is no such device file.
// On Windows: COMn in any case or \\.\COMn (any MS-DOS device name, in fact); nothing when
// the system has no such device.
std::optional<SerialPortInfo> DescribeSerialPort(const std::string& portNameOrPath,
                                                 const DiscoveryRoots& roots = {});

// What the port is, for people: "FT232R USB UART (FTDI), serial A1B2C3D4" for a USB
// adapter, "built-in serial port" for a UART.
std::string PortDescription(const SerialPortInfo& port);

// The conventional one-line identity, "USB VID:PID=0403:6001 SER=A1B2C3 LOCATION=1-1.2";
// empty for ports that are not on USB.
std::string HardwareId(const SerialPortInfo& port);

// Text from an untrusted source made safe to show: control characters, bidirectional
// overrides and bytes that are not UTF-8 become \xNN (or \uNNNN) escapes; at most
// maxBytes of input are looked at.
std::string SafeText(std::string_view text, std::size_t maxBytes = 256);

// The device path for a port name. On Linux: a leading "\\.\" is dropped; a name containing
// '/' is used as given; COMn in any letter case (n from 1) is ttyS(n-1) in the device
// folder; any other name is the device folder + name. On Windows: "\\.\" + the name with
// any leading "\\.\" dropped, letter case kept (the system ignores it), so COM10 and above
// open too; the device folder is not used. Empty for an empty name on both.
std::string SerialDevicePath(const std::string& portName,
                             const std::filesystem::path& devFolder = "/dev");

// The device paths of DiscoverSerialPorts, without the holders.
std::vector<std::string>
FindSerialPorts(const std::filesystem::path& sysClassTty = "/sys/class/tty",
                const std::filesystem::path& devFolder = "/dev");

// Explains why a port could not be opened, from the errno behind the failure: a missing
// permission (with the group to join), a port in use, a port that is not there. On Windows a
// port refused for access reasons is held by another program, and the text names the port
// as users write it (without "\\.\").
std::string DescribeOpenFailure(int systemError, const std::string& devicePath);

// The order ports are listed in: text order, except that runs of digits compare as numbers
// (COM2 before COM10, ttyUSB2 before ttyUSB10).
bool PortNameLess(const std::string& a, const std::string& b);

// What a Windows device instance id or hardware id tells about a USB device:
// "USB\VID_0403&PID_6001\A1B2C3" gives 0403, 6001 and serial A1B2C3; FTDI's bus ids
// ("FTDIBUS\VID_0403+PID_6001+A1B2C3A\0000") give the ids alone. The serial number is the
// instance part of a USB device's id; Windows makes one up (with '&' in it) for devices
// without a serial number and for the functions of a composite device: those give none.
struct UsbDeviceIds {
    std::string vendorId, productId; // four lower-case hex digits, or empty
    std::string serialNumber;
};
UsbDeviceIds ParseUsbDeviceId(std::string_view id);

} // namespace quillon
