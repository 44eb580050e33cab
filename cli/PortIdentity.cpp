#include "cli/PortIdentity.h"

#include "link/PortName.h"

#include <filesystem>
#include <fstream>
#include <set>

namespace quillon {

namespace {

namespace fs = std::filesystem;

std::string FirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

} // namespace

PortIdentity LookUpPortIdentity(const std::string& port) {
    PortIdentity identity;
    std::error_code error;
    const fs::path device = fs::canonical(DevicePathForPort(port), error);
    if (error) {
        return identity;
    }
    std::set<std::string> links;
    for (const auto& entry : fs::directory_iterator("/dev/serial/by-id", error)) {
        std::error_code linkError;
        if (fs::canonical(entry.path(), linkError) == device && !linkError) {
            links.insert(entry.path().string());
        }
    }
    if (!links.empty()) {
        identity.byId = *links.begin();
    }
    // The USB device that carries the tty is a few levels above the tty's own device
    // (one for CDC ACM, two for a USB-serial converter).
    fs::path node = fs::canonical(fs::path("/sys/class/tty") / device.filename() / "device", error);
    for (int level = 0; level < 4 && !error && !node.empty(); ++level) {
        if (fs::exists(node / "idVendor", error) && fs::exists(node / "serial", error)) {
            identity.usbSerial = FirstLine(node / "serial");
            break;
        }
        node = node.parent_path();
    }
    return identity;
}

} // namespace quillon
