#include "platform/SettingsFile.h"

#include <windows.h>

namespace quillon {

namespace {

constexpr const wchar_t* kSettingsKey = L"Software\\Veldra\\Quillon";

// FILETIME counts 100 ns steps from 1601; the stamp counts nanoseconds from 1970.
constexpr long long kUnixEpochIn100Ns = 116444736000000000LL;

} // namespace

std::filesystem::path SettingsFilePath() {
    return L"HKEY_CURRENT_USER\\Software\\Veldra\\Quillon";
}

bool SettingsFileUsable() {
    // A registry key cannot be anything that would block or break the reader.
    return true;
}

SettingsFileStamp CurrentSettingsFileStamp() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return {};
    }
    DWORD values = 0;
    DWORD longestValue = 0;
    FILETIME written{};
    const LONG result =
        ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                           nullptr, &longestValue, nullptr, &written);
    ::RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        return {};
    }
    const long long ticks = static_cast<long long>(
        (static_cast<unsigned long long>(written.dwHighDateTime) << 32) | written.dwLowDateTime);
    SettingsFileStamp stamp;
    stamp.inode = values;
    stamp.size = longestValue;
    stamp.modifiedNs = (ticks - kUnixEpochIn100Ns) * 100;
    return stamp;
}

} // namespace quillon
