#include "wizard/SerialPortDiscovery.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace quillon {

namespace fs = std::filesystem;

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The bus the port's device hangs on ("usb", "usb-serial", "pnp", "platform" ...).
std::string Subsystem(const fs::path& device) {
    std::error_code error;
    const fs::path target = fs::read_symlink(device / "subsystem", error);
    return error ? std::string() : target.filename().string();
}

// The UART type the serial driver reports for a built-in port; 0 means no UART is there.
long UartType(const fs::path& port) {
    std::ifstream file(port / "type");
    long type = 0;
    if (!(file >> type)) {
        return 0;
    }
    return type;
}

bool IsRealPort(const fs::path& port, const std::string& name) {
    std::error_code error;
    const fs::path device = port / "device";
    if (!fs::exists(device, error)) {
        return false; // virtual terminals, pseudo-terminals, consoles
    }
    if (StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM")) {
        return true;
    }
    if (StartsWith(name, "ttyS")) {
        return UartType(port) > 0;
    }
    const std::string bus = Subsystem(device);
    return bus == "usb" || bus == "usb-serial";
}

} // namespace

std::vector<std::string> FindSerialPorts(const fs::path& sysClassTty, const fs::path& devFolder) {
    std::vector<std::string> ports;
    std::error_code error;
    fs::directory_iterator it(sysClassTty, error);
    if (error) {
        return ports;
    }
    for (const fs::directory_entry& entry : it) {
        const std::string name = entry.path().filename().string();
        if (IsRealPort(entry.path(), name)) {
            ports.push_back((devFolder / name).string());
        }
    }
    return ports;
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
