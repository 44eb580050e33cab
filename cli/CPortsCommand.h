#pragma once

#include "cli/CCommand.h"
#include "platform/SerialPortDiscovery.h"

#include <string>

namespace quillon {

// "ports": the serial ports of this machine, or the ports named on the command line, with
// what each is (by-id names, USB identity, driver), whether this user may open it and which
// processes hold it; a table for people or, with --json, one JSON object per port and line.
//
// Threads: run on the program's main thread.
class CPortsCommand : public CCommand {
public:
    // The environment variable that moves the system's folders (sys/class/tty, dev, proc)
    // under another root, so tests can show the command a faked machine.
    static constexpr const char* kRootVariable = "QUILLON_DISCOVERY_ROOT";

    explicit CPortsCommand(std::string program);
    CPortsCommand(std::string program, DiscoveryRoots roots);

    std::string Name() const override { return "ports"; }
    std::string Summary() const override;
    std::string Usage() const override;
    int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) override;

    // The system's folders, or those under kRootVariable when it is set.
    static DiscoveryRoots RootsFromEnvironment();

private:
    std::string program_;
    DiscoveryRoots roots_;
};

} // namespace quillon
