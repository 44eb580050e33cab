#pragma once

#include "cli/CCommand.h"

#include <string>

namespace quillon {

// "detect": waits for the powered-up device on a serial port, identifies it and shows
// what the wizard's device information page shows: the six fields and the decision
// (refusal, warning, or that the device can be updated). Sends no module but the board
// identification and leaves the device in its bootloader.
//
// Exit status: 0 the device may be updated (also after a warning), 4 refused, and the
// shared statuses of cli/CliExitStatus.h for the port, the wait and the packages.
//
// Threads: run on the program's main thread.
class CDetectCommand : public CCommand {
public:
    explicit CDetectCommand(std::string program);

    std::string Name() const override { return "detect"; }
    std::string Summary() const override;
    std::string Usage() const override;
    int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) override;

private:
    std::string program_;
};

} // namespace quillon
