#include "cli/CPortList.h"

#include "link/PortName.h"
#include "platform/PathPattern.h"

#include <algorithm>
#include <filesystem>

namespace quillon {

std::string CPortList::Identity(const std::string& port) {
    const std::filesystem::path path = DevicePathForPort(port);
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    if (!error) {
        return resolved.string();
    }
    return std::filesystem::absolute(path, error).lexically_normal().string();
}

bool CPortList::Add(const std::string& port, std::string& error) {
    const std::string identity = Identity(port);
    const auto known = std::find(identities_.begin(), identities_.end(), identity);
    if (known != identities_.end()) {
        const std::string& first = ports_[static_cast<std::size_t>(known - identities_.begin())];
        error = first == port ? "the port " + port + " is named twice"
                              : "the ports " + first + " and " + port + " are the same device (" +
                                    identity + ")";
        return false;
    }
    ports_.push_back(port);
    identities_.push_back(identity);
    return true;
}

CPortList::Result CPortList::Resolve(const std::vector<std::string>& ports,
                                     const std::vector<std::string>& globs, std::string& error) {
    ports_.clear();
    identities_.clear();
    for (const std::string& port : ports) {
        if (!Add(port, error)) {
            return Result::Duplicate;
        }
    }
    for (const std::string& pattern : globs) {
        const std::vector<std::string> names = ExpandPathPattern(pattern);
        if (names.empty()) {
            error = "no serial port matches '" + pattern + "'";
            return Result::NoMatch;
        }
        for (const std::string& name : names) {
            if (!Add(name, error)) {
                return Result::Duplicate;
            }
        }
    }
    return Result::Ok;
}

} // namespace quillon
