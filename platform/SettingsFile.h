#pragma once

#include <filesystem>

namespace quillon {

// Where the saved settings live on this platform: $XDG_CONFIG_HOME (when it is an absolute
// path) or ~/.config, then Veldra/Quillon.conf — the file QSettings("Veldra", "Quillon")
// uses.
std::filesystem::path SettingsFilePath();

// True when the settings file is missing or a regular file. Anything else (a FIFO, a
// device, a folder) would make the settings reader block or fail on it: such a file is
// treated as no settings and never written.
bool SettingsFileUsable();

} // namespace quillon
