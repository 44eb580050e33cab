#pragma once

#include <string>

namespace quillon {

// The wizard's saved settings as the command line uses them: defaults for --port and
// --slow. Read only: the command line never writes them, so a scripted run cannot change
// what the wizard offers next time.
struct CliSettings {
    std::string port = "COM1";
    bool slow = false;
};

// Reads "Port" and "Slow" from QSettings("Veldra", "Quillon") (on Linux
// $XDG_CONFIG_HOME/Veldra/Quillon.conf). A missing or unreadable value gives its default;
// any non-zero "Slow" means slow mode.
CliSettings LoadCliSettings();

} // namespace quillon
