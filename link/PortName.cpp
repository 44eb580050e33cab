#include "link/PortName.h"

#include <cctype>
#include <string_view>

namespace quillon {

namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";

bool IsComName(std::string_view name, unsigned long& number) {
    if (name.size() < 4 || name.size() > 12) {
        return false;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != "com"[i]) {
            return false;
        }
    }
    number = 0;
    for (const char c : name.substr(3)) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
        number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    return number >= 1;
}

} // namespace

std::string DevicePathForPort(const std::string& portName) {
    std::string_view name = portName;
    if (name.substr(0, kDevicePrefix.size()) == kDevicePrefix) {
        name.remove_prefix(kDevicePrefix.size());
    }
    if (name.empty()) {
        return {};
    }
    if (name.find('/') != std::string_view::npos) {
        return std::string(name);
    }
    unsigned long number = 0;
    if (IsComName(name, number)) {
        return "/dev/ttyS" + std::to_string(number - 1);
    }
    return "/dev/" + std::string(name);
}

} // namespace quillon
