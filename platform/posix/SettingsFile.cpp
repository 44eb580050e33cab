#include "platform/SettingsFile.h"

#include <cstdlib>
#include <sys/stat.h>
#include <system_error>

namespace quillon {

std::filesystem::path SettingsFilePath() {
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        base = std::filesystem::path(home) / ".config";
    } else {
        base = ".config";
    }
    return base / "Veldra" / "Quillon.conf";
}

bool SettingsFileUsable() {
    std::error_code error;
    const auto status = std::filesystem::status(SettingsFilePath(), error);
    if (status.type() == std::filesystem::file_type::not_found) {
        return true;
    }
    return !error && status.type() == std::filesystem::file_type::regular;
}

SettingsFileStamp CurrentSettingsFileStamp() {
    struct stat info {};
    if (::stat(SettingsFilePath().c_str(), &info) != 0) {
        return {};
    }
    return {static_cast<unsigned long long>(info.st_dev),
            static_cast<unsigned long long>(info.st_ino), static_cast<long long>(info.st_size),
            static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec};
}

} // namespace quillon
