#pragma once

#include "tools/devsim/CDeviceSimulator.h"
#include "tools/devsim/DevSimScenario.h"

#include <string>
#include <vector>

namespace quillon {

// The settings of the quillon-devsim program.
struct DevSimOptions {
    DevSimScenario scenario = DevSimScenario::Realistic();
    std::string utilityPackage; // a package file instead of the embedded one
    std::string firmwarePackage;
    std::string linkPath;
    bool exitAfterStartup = false;
    bool verbose = false;
    bool listRecords = false;
    bool help = false;
    bool version = false;
};

// Reads the arguments after the program name. On a mistake returns false with a one-line
// explanation in `error`.
bool ParseDevSimCommandLine(const std::vector<std::string>& args, DevSimOptions& options,
                            std::string& error);

// The --help text: every setting with its default.
std::string DevSimHelpText();

// The --version text.
std::string DevSimVersionText();

// The one-line summary printed at exit.
std::string DevSimSummary(const DevSimState& state);

// What --list-records prints: every record that can appear on the line, one per line,
// with the name to use in the fault settings.
std::string DevSimRecordList(const CDevSimPackageIndex& packages);

} // namespace quillon
