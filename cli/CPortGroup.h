#pragma once

#include "cli/CPortRun.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace quillon {

class CInterruptWatch;
class CMultiPortDisplay;

// The options of several devices at once.
struct GroupOptions {
    bool station = false;
    std::string reportPath; // --report; empty: none
    bool json = false;
};

// Several ports at once, each with its own CPortRun, and what a person or a script sees
// of them: the display, the JSON events, the receipts, the station's tally. The group
// also owns the process's signals while the ports run: Ctrl-C stops every port that is
// not uploading and asks the Close question once for the uploads under way (aborting
// them at once with --yes or without a terminal); SIGTERM aborts everything; SIGHUP lets
// uploads under way end and stops the rest.
//
// Exit status: 0 when every device run succeeded, otherwise the most serious of their
// statuses (kExitSeverityOrder).
//
// Threads: Run on the command's thread, which starts and joins the ports' threads and
// alone reads the terminal.
class CPortGroup {
public:
    // Reads --station, --report FILE or --json at args[i]; false for another argument.
    static bool ParseOption(const std::vector<std::string>& args, std::size_t& i,
                            GroupOptions& options, std::string& error);
    static std::string OptionsHelp();
    // Whether a command runs as a group rather than as one plain session.
    static bool Wanted(const DeviceOptions& device, const GroupOptions& options);

    // `logPath`: the --log file; with several ports each gets its own, named after it.
    CPortGroup(std::string prefix, PortRunSettings settings, GroupOptions options,
               std::string logPath);

    int Run(std::ostream& out, std::ostream& err);

    // The session log of one port when several share --log FILE: FILE with "-" and the
    // port's file name before its extension.
    static std::string LogPathForPort(const std::string& logPath, const std::string& port,
                                      bool several);

private:
    enum class Answer { Yes, No, Interrupted, Withdrawn };

    void HandleSignal(ConsoleSignal signal, std::vector<std::unique_ptr<CPortRun>>& runs,
                      CMultiPortDisplay& display, CInterruptWatch& watch, std::ostream& human);
    Answer Ask(std::ostream& human, CInterruptWatch& watch,
               const std::function<bool()>& stillWanted);

    std::string prefix_;
    PortRunSettings settings_;
    GroupOptions options_;
    std::string logPath_;
    bool terminalInput_ = false;
    bool aborting_ = false;
};

} // namespace quillon
