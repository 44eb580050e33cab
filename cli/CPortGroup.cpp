#include "cli/CPortGroup.h"

#include "cli/CInterruptWatch.h"
#include "cli/CJsonEvents.h"
#include "cli/CMultiPortDisplay.h"
#include "cli/CPortList.h"
#include "cli/CReceiptFile.h"
#include "cli/CStationTally.h"
#include "cli/CUploadCommand.h"
#include "cli/CliExitStatus.h"
#include "cli/TerminalAnswer.h"
#include "platform/TerminalInput.h"
#include "platform/Utf8Path.h"

#include <QSysInfo>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>

namespace quillon {

namespace {

std::optional<StandardStream> StreamOf(const std::ostream& stream) {
    if (&stream == &std::cout) {
        return StandardStream::Output;
    }
    if (&stream == &std::cerr) {
        return StandardStream::Error;
    }
    return std::nullopt;
}

} // namespace

bool CPortGroup::ParseOption(const std::vector<std::string>& args, std::size_t& i,
                             GroupOptions& options, std::string& error) {
    if (args[i] == "--station") {
        options.station = true;
        return true;
    }
    if (args[i] == "--json") {
        options.json = true;
        return true;
    }
    std::string value;
    if (CDeviceSession::TakeValue(args, i, "--report", value, error)) {
        if (error.empty() && value.empty()) {
            error = "option --report needs a file name";
        }
        options.reportPath = value;
        return true;
    }
    return false;
}

std::string CPortGroup::OptionsHelp() {
    return "  --station        station mode: after each device, wait for the next one on\n"
           "                   the same port (its next power-up), until Ctrl-C or SIGTERM;\n"
           "                   a running tally counts devices updated, failed and refused\n"
           "  --report FILE    append a receipt for every device (one JSON object per line)\n"
           "                   to FILE; refused at start when FILE cannot be written\n"
           "  --json           print events as JSON Lines on standard output (port opened,\n"
           "                   device detected, decision, progress, status, error, result);\n"
           "                   the text for people then goes to standard error\n";
}

bool CPortGroup::Wanted(const DeviceOptions& device, const GroupOptions& options) {
    return device.ports.size() > 1 || !device.portGlobs.empty() || options.station ||
           options.json || !options.reportPath.empty();
}

CPortGroup::CPortGroup(std::string prefix, PortRunSettings settings, GroupOptions options,
                       std::string logPath)
    : prefix_(std::move(prefix)), settings_(std::move(settings)), options_(std::move(options)),
      logPath_(std::move(logPath)) {
}

std::string CPortGroup::LogPathForPort(const std::string& logPath, const std::string& port,
                                       bool several) {
    if (logPath.empty() || !several) {
        return logPath;
    }
    const std::filesystem::path path = PathFromUtf8(logPath);
    const std::filesystem::path name = PathFromUtf8(port).filename();
    std::filesystem::path file = path.stem();
    file += "-";
    file += name;
    file += path.extension();
    return Utf8FromPath(path.parent_path() / file);
}

CPortGroup::Answer CPortGroup::Ask(std::ostream& human, CInterruptWatch& watch,
                                   const std::function<bool()>& stillWanted) {
    human << CUploadCommand::kInterruptQuestion << "[y/N] " << std::flush;
    std::string line;
    for (;;) {
        ConsoleSignal signal = ConsoleSignal::None;
        switch (WaitForAnswer(line, watch, signal, stillWanted)) {
        case AnswerWait::Line:
            return IsYes(line) ? Answer::Yes : Answer::No;
        case AnswerWait::Signal:
            if (signal == ConsoleSignal::Interrupt || signal == ConsoleSignal::Terminate) {
                human << std::endl;
                return signal == ConsoleSignal::Interrupt ? Answer::Interrupted : Answer::Yes;
            }
            if (signal == ConsoleSignal::HangUp) {
                // Nobody is left to answer: the uploads run to their end.
                return Answer::No;
            }
            continue; // any other signal leaves the question open
        case AnswerWait::Withdrawn:
            human << std::endl;
            return Answer::Withdrawn;
        case AnswerWait::EndOfInput:
            human << std::endl;
            return Answer::No;
        case AnswerWait::Failed:
            return Answer::No;
        }
    }
}

void CPortGroup::HandleSignal(ConsoleSignal signal, std::vector<std::unique_ptr<CPortRun>>& runs,
                              CMultiPortDisplay& display, CInterruptWatch& watch,
                              std::ostream& human) {
    const auto anyUploading = [&runs] {
        return std::any_of(runs.begin(), runs.end(),
                           [](const auto& run) { return !run->Done() && run->Uploading(); });
    };
    const auto stopAll = [&runs](bool abortUploads) {
        for (auto& run : runs) {
            run->RequestStop(abortUploads);
        }
    };
    if (signal == ConsoleSignal::Terminate || aborting_) {
        aborting_ = true;
        stopAll(true);
        return;
    }
    if (signal == ConsoleSignal::HangUp) {
        // The terminal or the session is gone: nobody can answer a question any more, and
        // an upload cut short would leave a device without working firmware.
        terminalInput_ = false;
        stopAll(false);
        return;
    }
    if (signal != ConsoleSignal::Interrupt) {
        return;
    }
    stopAll(false);
    if (!anyUploading()) {
        return;
    }
    bool abort = settings_.yes || !terminalInput_;
    if (!abort) {
        display.Hold();
        human << "\n";
        const Answer answer = Ask(human, watch, anyUploading);
        abort = answer == Answer::Yes || answer == Answer::Interrupted;
        display.Release();
    }
    if (abort) {
        aborting_ = true;
        stopAll(true);
    }
}

int CPortGroup::Run(std::ostream& out, std::ostream& err) {
    CPortList list;
    std::string error;
    switch (list.Resolve(settings_.device.ports, settings_.device.portGlobs, error)) {
    case CPortList::Result::Duplicate:
        err << prefix_ << ": " << error << " (see " << prefix_ << " --help)\n";
        return kExitUsage;
    case CPortList::Result::NoMatch:
        err << prefix_ << ": " << error << "\n";
        return kExitPortNotOpened;
    case CPortList::Result::Ok:
        break;
    }
    const std::vector<std::string>& ports = list.Ports();

    // Checked before any device is touched: a station that cannot keep its receipts must
    // not start.
    CReceiptFile receipts;
    if (!options_.reportPath.empty() && !receipts.Open(options_.reportPath, error)) {
        err << prefix_ << ": " << error << "\n";
        return kExitUsage;
    }

    std::ostream& human = options_.json ? err : out;
    const std::optional<StandardStream> humanStream = StreamOf(human);
    const bool terminal = humanStream && IsTerminal(*humanStream);
    terminalInput_ = IsTerminal(StandardStream::Input);
    settings_.host = QSysInfo::machineHostName().toStdString();

    CMultiPortDisplay display(human, terminal, ports,
                              humanStream ? TerminalColumns(*humanStream) : 80);
    CStationTally tally;
    CJsonEvents json(out);
    PortRunShared shared{display, tally, options_.json ? &json : nullptr,
                         options_.reportPath.empty() ? nullptr : &receipts};

    CInterruptWatch watch;
    std::vector<std::unique_ptr<CPortRun>> runs;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        runs.push_back(std::make_unique<CPortRun>(
            prefix_, i, ports[i], LogPathForPort(logPath_, ports[i], ports.size() > 1), settings_,
            shared));
    }
    for (auto& run : runs) {
        run->Start();
    }
    for (;;) {
        if (std::all_of(runs.begin(), runs.end(), [](const auto& run) { return run->Done(); })) {
            break;
        }
        if (const ConsoleSignal signal = watch.Take(std::chrono::milliseconds(100));
            signal != ConsoleSignal::None) {
            HandleSignal(signal, runs, display, watch, human);
        }
    }
    int status = -1;
    for (auto& run : runs) {
        status = MoreSerious(status, run->WorstStatus());
    }
    runs.clear();
    display.Finish();
    if (options_.station) {
        human << "Station ended: " << tally.Text() << "\n" << std::flush;
    }
    // Stopped before any device was served.
    return status < 0 ? kExitAborted : status;
}

} // namespace quillon
