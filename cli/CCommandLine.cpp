#include "cli/CCommandLine.h"

#include "QuillonVersion.h"

#include <algorithm>
#include <sstream>

namespace quillon {

CCommandLine::CCommandLine(std::string program) : program_(std::move(program)) {
}

void CCommandLine::AddCommand(std::unique_ptr<CCommand> command) {
    commands_.push_back(std::move(command));
}

CCommand* CCommandLine::Find(const std::string& name) const {
    for (const auto& command : commands_) {
        if (command->Name() == name) {
            return command.get();
        }
    }
    return nullptr;
}

std::string CCommandLine::Usage() const {
    std::size_t width = 4;
    for (const auto& command : commands_) {
        width = std::max(width, command->Name().size());
    }
    std::ostringstream text;
    text << "Usage: " << program_ << " [--help] [--version] COMMAND [ARGUMENTS...]\n\n"
         << "Uploads firmware into a Veldra device through its bootloader over a serial port.\n\n"
         << "Commands:\n";
    for (const auto& command : commands_) {
        text << "  " << command->Name() << std::string(width - command->Name().size() + 2, ' ')
             << command->Summary() << "\n";
    }
    text << "  help" << std::string(width - 4 + 2, ' ') << "show the help of a command\n\n"
         << "Options:\n"
         << "  -h, --help     show this help and exit\n"
         << "      --version  show the version and exit\n\n"
         << "Run \"" << program_ << " COMMAND --help\" for the options of a command.\n";
    return text.str();
}

std::string CCommandLine::VersionText() const {
    return program_ + " (Quillon) " + kVersionString + "\n";
}

int CCommandLine::UsageError(std::ostream& err, const std::string& message) const {
    err << program_ << ": " << message << " (see " << program_ << " --help)\n";
    return kExitUsage;
}

int CCommandLine::Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << Usage();
        return kExitUsage;
    }
    const std::string& first = args.front();
    if (first == "-h" || first == "--help") {
        out << Usage();
        return kExitOk;
    }
    if (first == "--version" || first == "-V") {
        out << VersionText();
        return kExitOk;
    }
    if (first == "help") {
        if (args.size() == 1) {
            out << Usage();
            return kExitOk;
        }
        if (CCommand* command = Find(args[1])) {
            out << command->Usage();
            return kExitOk;
        }
        return UsageError(err, "unknown command '" + args[1] + "'");
    }
    if (!first.empty() && first.front() == '-') {
        return UsageError(err, "unknown option '" + first + "'");
    }
    CCommand* command = Find(first);
    if (command == nullptr) {
        return UsageError(err, "unknown command '" + first + "'");
    }
    return command->Run(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
}

} // namespace quillon
