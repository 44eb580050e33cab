#pragma once

#include "cli/CCommand.h"

#include <functional>
#include <string>

namespace quillon {

class CDeviceSession;
class CInterruptWatch;

// "upload": what the wizard does from the port page on, without the pages. Detects and
// identifies the device (as "detect"), keeps its bootloader awake while the decision is
// made (a warning is confirmed on the terminal, or with --yes), then transfers, checks and
// starts the firmware, showing progress and every error and status text of the transfer.
// An interrupt during the transfer asks the upload page's Close question on a terminal,
// and aborts at once with --yes or without one.
//
// Exit status: see Usage() and cli/CliExitStatus.h; 0 only when the transfer ended with
// its success status.
//
// Threads: run on the program's main thread, which owns the core and takes the workers'
// messages; the answers to questions are read from standard input on the same thread.
class CUploadCommand : public CCommand {
public:
    explicit CUploadCommand(std::string program);

    std::string Name() const override { return "upload"; }
    std::string Summary() const override;
    std::string Usage() const override;
    int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) override;

    // The question asked when the transfer is interrupted, as the upload page asks it.
    static constexpr const char* kInterruptQuestion =
        "If you interrupt the upload process, the device will not be operational.\n\nAre you "
        "sure you want to interrupt the firmware upload process?\n";
    // The upload page's status line before the transfer reports anything.
    static constexpr const char* kTransferHeading = "Firmware Image Transfer";

private:
    struct Options;
    enum class Answer { Yes, No, Interrupted, Withdrawn };

    int Transfer(CDeviceSession& session, CInterruptWatch& interrupts, const Options& options);
    // Asks on the terminal; reads the answer from standard input. `stillWanted` is
    // consulted while waiting: when it returns false the question is withdrawn.
    Answer Ask(CDeviceSession& session, CInterruptWatch& interrupts, const std::string& prompt,
               const std::function<bool()>& stillWanted);

    std::string program_;
    bool terminalInput_ = false;
    bool terminalOutput_ = false;
};

} // namespace quillon
