#pragma once

#include "cli/CCommand.h"

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace quillon {

// The front door of quillon-cli: global options (--help, --version), the "help" word,
// and dispatch to the registered subcommands. Mistakes get one line on `err` and exit
// status 1.
//
// Threads: run on the program's main thread.
class CCommandLine {
public:
    static constexpr int kExitOk = 0;
    static constexpr int kExitUsage = 1;

    explicit CCommandLine(std::string program);

    void AddCommand(std::unique_ptr<CCommand> command);
    // `args` are the words after the program name.
    int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

    std::string Usage() const;
    std::string VersionText() const;
    const std::string& Program() const { return program_; }

private:
    CCommand* Find(const std::string& name) const;
    int UsageError(std::ostream& err, const std::string& message) const;

    std::string program_;
    std::vector<std::unique_ptr<CCommand>> commands_;
};

} // namespace quillon
