#pragma once

#include <string>

namespace quillon {

// The two saved settings: QSettings("Veldra", "Quillon"), values "Port" and "Slow" at the
// top level (~/.config/Veldra/Quillon.conf, or under $XDG_CONFIG_HOME when set).
struct WizardSettings {
    std::string port = "COM1"; // as typed or chosen; UTF-8
    bool slow = false;
};

// Missing, unreadable or odd values give their defaults: a "Slow" that is not a number
// reads as 0, any other number than 0 as set; a "Port" is taken as stored.
WizardSettings LoadWizardSettings();

// Writes both values ("Slow" as 1 or 0). The file is replaced as a whole (written aside,
// then renamed over the old one), so a crash while writing leaves the old file intact.
// Failures are not reported: the values are then simply not saved. True when written.
bool SaveWizardSettings(const WizardSettings& settings);

} // namespace quillon
