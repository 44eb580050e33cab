#pragma once

#include <filesystem>

namespace quillon {

// Where the saved settings live on this platform: $XDG_CONFIG_HOME (when it is an absolute
// path) or ~/.config, then Veldra/Quillon.conf — the file QSettings("Veldra", "Quillon")
// uses. On Windows they are in the registry, and this is the key's name for people:
// HKEY_CURRENT_USER\Software\Veldra\Quillon.
std::filesystem::path SettingsFilePath();

// True when the settings file is missing or a regular file. Anything else (a FIFO, a
// device, a folder) would make the settings reader block or fail on it: such a file is
// treated as no settings and never written. Always true on Windows.
bool SettingsFileUsable();

// Which file is at the settings path now (device, inode, size and modification time; all
// zero when there is none). The settings are saved by writing a new file and renaming it
// over the old one, so a save that took place changes it. On Windows: the key's number of
// values (as inode), its longest value (as size) and its last-write time, which every value
// written moves on; all zero when there is no key.
struct SettingsFileStamp {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    long long size = 0;
    long long modifiedNs = 0;
    bool operator==(const SettingsFileStamp&) const = default;
};
SettingsFileStamp CurrentSettingsFileStamp();

} // namespace quillon
