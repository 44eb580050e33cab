#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quillon {

// One subcommand of quillon-cli ("info", ...). The command line hands it the words after
// its name; it writes its results to `out` and its complaints to `err` and returns the
// program's exit status.
//
// Threads: run on the program's main thread.
class CCommand {
public:
    virtual ~CCommand() = default;

    virtual std::string Name() const = 0;
    // One line for the program's command list.
    virtual std::string Summary() const = 0;
    // The command's own help, as "quillon-cli NAME --help" prints it.
    virtual std::string Usage() const = 0;
    virtual int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) = 0;
};

} // namespace quillon
