// quillon-cli: the command-line front end.

#include "cli/CCommandLine.h"
#include "cli/CDetectCommand.h"
#include "cli/CInfoCommand.h"
#include "cli/CPortsCommand.h"
#include "cli/CUploadCommand.h"
#include "platform/ProgramText.h"
#include "platform/StandardStreams.h"

#include <iostream>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    quillon::PrepareStandardStreams();
    const std::string program = "quillon-cli";
    quillon::CCommandLine commandLine(program);
    commandLine.AddCommand(std::make_unique<quillon::CInfoCommand>(program));
    commandLine.AddCommand(std::make_unique<quillon::CDetectCommand>(program));
    commandLine.AddCommand(std::make_unique<quillon::CUploadCommand>(program));
    commandLine.AddCommand(std::make_unique<quillon::CPortsCommand>(program));

    const std::vector<std::string> args = quillon::ProgramArguments(argc, argv);
    const int status = commandLine.Run(args, std::cout, std::cerr);
    std::cout.flush();
    return status;
}
