#include "platform/SerialPortDiscovery.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <system_error>
#include <unistd.h>

namespace quillon {

namespace fs = std::filesystem;

namespace {

// Sysfs attributes and /proc/<pid>/comm are a few dozen bytes; anything longer is not
// what we look for and is cut, so a hostile or broken file cannot make us read much.
constexpr std::size_t kMaxAttributeBytes = 512;

// Longest text kept from one attribute, before escaping.
constexpr std::size_t kMaxShownBytes = 128;

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The first bytes of a small file, without trailing white space; nothing when it cannot
// be read. Opened without blocking, so a FIFO planted in a faked tree cannot hang us.
std::optional<std::string> ReadSmallFile(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text(kMaxAttributeBytes, '\0');
    ssize_t got = 0;
    do {
        got = ::read(fd, text.data(), text.size());
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    if (got < 0) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(got));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '\t' || text.back() == '\0')) {
        text.pop_back();
    }
    return text;
}

std::string Attribute(const fs::path& path) {
    const std::optional<std::string> text = ReadSmallFile(path);
    return text ? SafeText(*text, kMaxShownBytes) : std::string();
}

// Name of the directory a sysfs link points at ("usb-serial", "ftdi_sio" ...).
std::string LinkTargetName(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return error ? std::string() : SafeText(target.filename().string(), kMaxShownBytes);
}

bool AllDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// The UART type the serial driver reports for a built-in port; 0 means no UART is there.
long UartType(const fs::path& port) {
    const std::optional<std::string> text = ReadSmallFile(port / "type");
    if (!text || text->empty()) {
        return 0;
    }
    char* end = nullptr;
    const long type = std::strtol(text->c_str(), &end, 10);
    return end != nullptr && *end == '\0' ? type : 0;
}

// The kind of port behind /sys/class/tty/<name>; empty for ports that are not serial ports
// (virtual terminals, consoles, pseudo-terminals) or built-in ports without a UART.
std::string PortKind(const fs::path& port, const std::string& name) {
    // Machines with thousands of ttys have them as virtual consoles (tty63) and built-in
    // placeholders: each is settled with at most one small read, no walk into the device
    // tree. A built-in port is real when the serial driver knows its UART.
    if (StartsWith(name, "ttyS")) {
        return UartType(port) > 0 ? "uart" : "";
    }
    if (name.size() > 3 && StartsWith(name, "tty") && AllDigits(name.substr(3))) {
        return {}; // a virtual console
    }
    const fs::path device = port / "device";
    std::error_code error;
    if (!fs::exists(device, error)) {
        return {};
    }
    const std::string bus = LinkTargetName(device / "subsystem");
    if (bus == "usb-serial") {
        return "usb-serial";
    }
    if (bus == "usb") {
        return "usb-acm";
    }
    if (StartsWith(name, "ttyUSB")) {
        return "usb-serial";
    }
    if (StartsWith(name, "ttyACM")) {
        return "usb-acm";
    }
    return {};
}

// Reads what sysfs tells about the port. A usb-serial tty's device is a child of the USB
// interface, two levels below the USB device; a CDC ACM tty's device is the interface itself.
void ReadSysfsIdentity(const fs::path& port, SerialPortInfo& info) {
    std::error_code error;
    const fs::path device = fs::canonical(port / "device", error);
    if (error) {
        return;
    }
    info.driver = LinkTargetName(device / "driver");
    if (info.kind != "usb-serial" && info.kind != "usb-acm") {
        return;
    }
    const fs::path interfaceDir = info.kind == "usb-serial" ? device.parent_path() : device;
    const fs::path usbDevice = interfaceDir.parent_path();
    info.interfaceName = Attribute(interfaceDir / "interface");
    info.vendorId = Attribute(usbDevice / "idVendor");
    info.productId = Attribute(usbDevice / "idProduct");
    info.serialNumber = Attribute(usbDevice / "serial");
    info.manufacturer = Attribute(usbDevice / "manufacturer");
    info.product = Attribute(usbDevice / "product");
    if (!info.vendorId.empty()) {
        info.location = SafeText(usbDevice.filename().string(), kMaxShownBytes);
    }
}

void CheckAccess(SerialPortInfo& info) {
    info.accessError = ::access(info.devicePath.c_str(), R_OK | W_OK) == 0 ? 0 : errno;
    info.mayOpen = info.accessError == 0;
}

std::string CanonicalText(const fs::path& path) {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(path, error);
    return error ? path.string() : canonical.string();
}

// Fills in the /dev/serial/by-id links that lead to each port.
void CollectByIdLinks(const DiscoveryRoots& roots, std::vector<SerialPortInfo>& ports) {
    for (SerialPortInfo& port : ports) {
        port.byIdKnown = true; // no folder of links means no links
    }
    std::error_code error;
    fs::directory_iterator it(roots.dev / "serial" / "by-id", error);
    if (error || ports.empty()) {
        return;
    }
    std::map<std::string, std::size_t> byTarget;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        byTarget.emplace(CanonicalText(ports[i].devicePath), i);
    }
    for (const fs::directory_entry& link : it) {
        std::error_code linkError;
        // A link left behind by a pulled adapter points nowhere: not a name of anything.
        const fs::path target = fs::canonical(link.path(), linkError);
        if (linkError) {
            continue;
        }
        const auto found = byTarget.find(target.string());
        if (found != byTarget.end()) {
            ports[found->second].byIdLinks.push_back(link.path().string());
        }
    }
    for (SerialPortInfo& port : ports) {
        std::sort(port.byIdLinks.begin(), port.byIdLinks.end());
    }
}

// One walk over every process's open files. The kernel shows an open device as the link
// target /dev/ttyUSB0 whatever name it was opened by; processes of other users whose fd
// folders are closed to us are passed over.
void CollectHolders(const DiscoveryRoots& roots, std::vector<SerialPortInfo>& ports) {
    for (SerialPortInfo& port : ports) {
        port.holdersKnown = true;
    }
    if (ports.empty()) {
        return;
    }
    std::map<std::string, std::size_t> byPath;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        byPath.emplace(ports[i].devicePath, i);
        byPath.emplace(CanonicalText(ports[i].devicePath), i);
    }
    std::error_code error;
    fs::directory_iterator processes(roots.proc, error);
    if (error) {
        return;
    }
    for (const fs::directory_entry& process : processes) {
        const std::string pidText = process.path().filename().string();
        if (!AllDigits(pidText) || pidText.size() > 9) {
            continue;
        }
        std::set<std::size_t> held;
        std::error_code fdError;
        fs::directory_iterator fds(process.path() / "fd", fdError);
        if (fdError) {
            continue;
        }
        for (const fs::directory_entry& fd : fds) {
            std::error_code linkError;
            const fs::path target = fs::read_symlink(fd.path(), linkError);
            if (linkError) {
                continue;
            }
            const auto found = byPath.find(target.string());
            if (found != byPath.end()) {
                held.insert(found->second);
            }
        }
        if (held.empty()) {
            continue;
        }
        SerialPortHolder holder;
        holder.pid = std::stoi(pidText);
        holder.name = Attribute(process.path() / "comm");
        for (std::size_t index : held) {
            ports[index].holders.push_back(holder);
        }
    }
    for (SerialPortInfo& port : ports) {
        std::sort(
            port.holders.begin(), port.holders.end(),
            [](const SerialPortHolder& a, const SerialPortHolder& b) { return a.pid < b.pid; });
    }
}

} // namespace

std::string SerialDevicePath(const std::string& portName, const fs::path& devFolder) {
    constexpr std::string_view kDevicePrefix = "\\\\.\\";
    std::string_view name = portName;
    if (StartsWith(name, kDevicePrefix)) {
        name.remove_prefix(kDevicePrefix.size());
    }
    if (name.empty()) {
        return {};
    }
    if (name.find('/') != std::string_view::npos) {
        return std::string(name);
    }
    const bool com = name.size() >= 4 && name.size() <= 12 &&
                     std::tolower(static_cast<unsigned char>(name[0])) == 'c' &&
                     std::tolower(static_cast<unsigned char>(name[1])) == 'o' &&
                     std::tolower(static_cast<unsigned char>(name[2])) == 'm' &&
                     AllDigits(std::string(name.substr(3)));
    if (com) {
        const unsigned long number = std::stoul(std::string(name.substr(3)));
        if (number >= 1) {
            return (devFolder / ("ttyS" + std::to_string(number - 1))).string();
        }
    }
    return (devFolder / std::string(name)).string();
}

std::vector<SerialPortInfo> DiscoverSerialPorts(const DiscoveryRoots& roots, HolderScan holders) {
    std::vector<SerialPortInfo> ports;
    std::error_code error;
    fs::directory_iterator it(roots.sysClassTty, error);
    if (error) {
        return ports;
    }
    for (const fs::directory_entry& entry : it) {
        SerialPortInfo info;
        info.name = entry.path().filename().string();
        info.kind = PortKind(entry.path(), info.name);
        if (info.kind.empty()) {
            continue;
        }
        info.devicePath = (roots.dev / info.name).string();
        ReadSysfsIdentity(entry.path(), info);
        CheckAccess(info);
        ports.push_back(std::move(info));
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
        return PortNameLess(a.name, b.name);
    });
    CollectByIdLinks(roots, ports);
    if (holders == HolderScan::kWith) {
        CollectHolders(roots, ports);
    }
    return ports;
}

std::optional<SerialPortInfo> DescribeSerialPort(const std::string& portNameOrPath,
                                                 const DiscoveryRoots& roots) {
    const std::string given = SerialDevicePath(portNameOrPath, roots.dev);
    if (given.empty()) {
        return std::nullopt;
    }
    std::error_code error;
    // Follows /dev/serial/by-id links to the device itself; a dangling link names nothing.
    const fs::path resolved = fs::canonical(given, error);
    if (error) {
        return std::nullopt;
    }
    SerialPortInfo info;
    info.name = resolved.filename().string();
    info.kind = "other";
    info.devicePath = resolved.string();
    if (resolved.parent_path() == fs::path(CanonicalText(roots.dev))) {
        info.devicePath = (roots.dev / info.name).string();
        const fs::path port = roots.sysClassTty / info.name;
        const std::string kind = PortKind(port, info.name);
        info.kind = kind.empty() ? "other" : kind;
        ReadSysfsIdentity(port, info);
    }
    CheckAccess(info);
    std::vector<SerialPortInfo> one{std::move(info)};
    CollectByIdLinks(roots, one);
    CollectHolders(roots, one);
    return std::move(one.front());
}

std::string DescribeOpenFailure(int systemError, const std::string& devicePath) {
    switch (systemError) {
    case EACCES:
    case EPERM:
        return "Permission denied for " + devicePath +
               ". Serial ports are usually open to members of the \"dialout\" group: ask an "
               "administrator to add your account to it (sudo usermod -aG dialout $USER), "
               "then log out and in again.";
    case EBUSY:
    case EWOULDBLOCK:
        return devicePath + " is in use by another program. Close that program, or choose "
                            "another port.";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "There is no port " + devicePath +
               " on this computer. Check the name, and that the adapter is plugged in.";
    case ENOTTY:
    case EINVAL:
        return devicePath + " is not a serial port.";
    case 0:
        return "The port " + devicePath + " could not be used.";
    default:
        return std::string(std::strerror(systemError)) + " (" + devicePath + ").";
    }
}

} // namespace quillon
