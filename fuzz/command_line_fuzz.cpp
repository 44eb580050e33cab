// Command lines from arbitrary bytes (arguments split at zero bytes): the wizard's LOG
// switch parser against the rule it implements, and the command-line front end's
// dispatch.

#include "FuzzCheck.h"
#include "cli/CCommand.h"
#include "cli/CCommandLine.h"
#include "cli/CDeviceSession.h"
#include "tools/devsim/DevSimCommandLine.h"
#if QUILLON_FUZZ_WIZARD_COMMAND_LINE
#include "wizard/CWizAppCommandLineInfo.h"
#endif

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

class CRecordingCommand : public quillon::CCommand {
public:
    explicit CRecordingCommand(std::vector<std::string>& seen) : seen_(seen) {}
    std::string Name() const override { return "record"; }
    std::string Summary() const override { return "keeps its arguments"; }
    std::string Usage() const override { return "record [ARGUMENTS...]\n"; }
    int Run(const std::vector<std::string>& args, std::ostream&, std::ostream&) override {
        seen_ = args;
        return 7;
    }

private:
    std::vector<std::string>& seen_;
};

void CheckFrontEnd(const std::vector<std::string>& args) {
    std::vector<std::string> seen{"never ran"};
    quillon::CCommandLine commandLine("quillon-cli");
    commandLine.AddCommand(std::make_unique<CRecordingCommand>(seen));
    std::ostringstream out;
    std::ostringstream err;
    const int status = commandLine.Run(args, out, err);
    QUILLON_FUZZ_CHECK(status == 0 || status == 1 || status == 7);
    if (status == 7) {
        QUILLON_FUZZ_CHECK(args.front() == "record");
        QUILLON_FUZZ_CHECK(seen == std::vector<std::string>(args.begin() + 1, args.end()));
    }
    QUILLON_FUZZ_CHECK(status != 1 || !err.str().empty());
}

// The options that detect and upload share, read one after the other as the commands do.
void CheckDeviceOptions(const std::vector<std::string>& args) {
    quillon::DeviceOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::size_t before = i;
        std::string error;
        if (!quillon::CDeviceSession::ParseOption(args, i, options, error)) {
            QUILLON_FUZZ_CHECK(i == before);
            continue;
        }
        // A value is taken from the same argument ("--port=X") or the next one.
        QUILLON_FUZZ_CHECK(i == before || i == before + 1);
        QUILLON_FUZZ_CHECK(i < args.size());
        if (!error.empty()) {
            break;
        }
    }
    if (options.wait) {
        QUILLON_FUZZ_CHECK(options.wait->count() > 0);
    }
}

// The simulator program's settings: faults, records, texts with escapes.
void CheckSimulatorOptions(const std::vector<std::string>& args) {
    quillon::DevSimOptions options;
    std::string error;
    if (!quillon::ParseDevSimCommandLine(args, options, error)) {
        QUILLON_FUZZ_CHECK(!error.empty());
    }
    for (const std::string& argument : args) {
        (void)quillon::ParseDevSimRecordRef(argument);
        (void)quillon::ParseDevSimFault(quillon::DevSimFault::Kind::Redirect, argument);
        (void)quillon::UnescapeDevSimText(argument);
    }
}

#if QUILLON_FUZZ_WIZARD_COMMAND_LINE
bool IsLogSwitch(const std::string& text) {
    return text.size() == 3 && std::toupper(static_cast<unsigned char>(text[0])) == 'L' &&
           std::toupper(static_cast<unsigned char>(text[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(text[2])) == 'G';
}

void CheckWizard(const std::vector<std::string>& args) {
    quillon::CWizAppCommandLineInfo info;
    quillon::CWizAppCommandLineInfo::ParseCommandLine(args, info);

    // The rule: LOG sets the switch pending; a plain argument while pending becomes the
    // path; anything else clears the pending switch.
    bool pending = false;
    std::string path;
    for (const std::string& argument : args) {
        const bool isSwitch = !argument.empty() &&
                              (argument[0] == '-' ||
                               (argument[0] == '/' && argument.find('/', 1) == std::string::npos));
        const std::string text = isSwitch ? argument.substr(1) : argument;
        if (isSwitch && IsLogSwitch(text)) {
            pending = true;
        } else if (!isSwitch && pending) {
            path = text;
            pending = false;
        } else {
            pending = false;
        }
    }
    QUILLON_FUZZ_CHECK(info.LogFilePath() == path);
    QUILLON_FUZZ_CHECK(info.LogSwitchPending() == pending);
}
#endif

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    std::string current;
    for (std::size_t k = 0; k < size && args.size() < 32; ++k) {
        if (data[k] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[k]);
        }
    }
    if (!current.empty() || size == 0) {
        args.push_back(current);
    }
    CheckFrontEnd(args);
    CheckDeviceOptions(args);
    CheckSimulatorOptions(args);
#if QUILLON_FUZZ_WIZARD_COMMAND_LINE
    CheckWizard(args);
#endif
    return 0;
}
