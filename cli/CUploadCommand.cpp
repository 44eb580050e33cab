#include "cli/CUploadCommand.h"

#include "cli/CDeviceSession.h"
#include "cli/CInterruptWatch.h"
#include "cli/CPortGroup.h"
#include "cli/CliExitStatus.h"
#include "cli/CliSettings.h"
#include "cli/TerminalAnswer.h"
#include "cli/TerminalText.h"
#include "link/SessionLog.h"
#include "platform/AppendFile.h"
#include "platform/TerminalInput.h"
#include "platform/Utf8Path.h"
#include "upload/UploadTexts.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <deque>
#include <filesystem>
#include <iostream>

namespace quillon {

struct CUploadCommand::Options {
    DeviceOptions device;
    GroupOptions group;
    std::optional<bool> slow; // none: the saved setting
    std::string logPath;      // absolute; empty: no log
    bool yes = false;
};

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Bounded wait for the keep-alive worker, as the device information page leaves it.
constexpr int kKeepAliveStopPolls = 501;

bool SameText(std::intptr_t lParam, const char* text) {
    const char* posted = MessageText(lParam);
    return posted != nullptr && std::strcmp(posted, text) == 0;
}

// The upload page's progress bar and percentage: redrawn in place on a terminal, one line
// per new percentage otherwise.
class ProgressDisplay {
public:
    ProgressDisplay(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}

    void Show(int percent) {
        if (percent < 0 || percent == shown_) {
            return;
        }
        shown_ = percent;
        if (terminal_) {
            out_ << "\r" << ProgressBar(percent) << std::flush;
            lineOpen_ = true;
        } else {
            out_ << PercentText(percent) << std::endl;
        }
    }
    // Ends the bar's line before other text is printed; the next new percentage starts a
    // new one (the 100 of the report once the firmware has started, after the image's 98).
    void Break() {
        if (lineOpen_) {
            out_ << "\n";
            lineOpen_ = false;
        }
        out_.flush();
    }

private:
    std::ostream& out_;
    bool terminal_;
    bool lineOpen_ = false;
    int shown_ = -1;
};

// Whether the session log could be written, judged without creating it: a run that ends
// before the firmware starts must leave no file behind.
bool LogWritable(const std::string& text) {
    if (text == SessionLog::kStandardOutput) {
        return AppendFile::MayWriteStandardOutput();
    }
    const std::filesystem::path path = PathFromUtf8(text);
    std::error_code error;
    if (std::filesystem::exists(path, error)) {
        return !std::filesystem::is_directory(path, error) && AppendFile::MayWrite(text);
    }
    const std::filesystem::path folder = path.parent_path();
    return std::filesystem::is_directory(folder, error) &&
           AppendFile::MayWrite(Utf8FromPath(folder));
}

} // namespace

CUploadCommand::CUploadCommand(std::string program) : program_(std::move(program)) {
}

std::string CUploadCommand::Summary() const {
    return "upload the firmware into the device on a serial port";
}

std::string CUploadCommand::Usage() const {
    return "Usage: " + program_ +
           " upload [--port PORT]... [--ports GLOB] [--slow | --fast] [--log FILE]\n"
           "                   [--yes] [--wait SECONDS] [--station] [--report FILE] [--json]\n\n"
           "Waits for the device to be powered up, identifies it, checks that the firmware\n"
           "suits it, then transfers the firmware (at 115200 baud unless in slow mode), has\n"
           "the device check it and starts it. Interrupting the transfer (Ctrl-C) asks\n"
           "first on a terminal and aborts at once otherwise or with --yes.\n\n"
           "Several ports (--port more than once, --ports) are served at once, each on its\n"
           "own; a warning is then passed only with --yes. Ctrl-C stops every port that is\n"
           "not uploading and asks once about the uploads under way.\n\n"
           "Signals: SIGINT (Ctrl-C) as above; SIGTERM aborts; SIGHUP (the terminal or the\n"
           "SSH session gone) lets an upload under way run to its end and ends the program\n"
           "like SIGTERM before the upload has begun. SIGPIPE is ignored: output that can\n"
           "no longer be written (a closed pipe or terminal) is dropped, the transfer goes\n"
           "on and the exit status still tells the outcome.\n\n"
           "Options:\n" +
           CDeviceSession::OptionsHelp() + CPortGroup::OptionsHelp() +
           "  --slow           slow mode: stay at 19200 baud for the whole transfer (for an\n"
           "                   unreliable line); default: the wizard's saved \"Slow mode\"\n"
           "  --fast           not slow mode, whatever the wizard saved\n"
           "  --log FILE       append what the device prints while the new firmware starts\n"
           "                   to FILE (a relative name is taken from the current folder;\n"
           "                   - is standard output, to watch the start-up live)\n"
           "  --yes            answer every question with yes: upload also when the device\n"
           "                   has the same or newer firmware; abort at once when\n"
           "                   interrupted\n"
           "  -h, --help       show this help and exit\n\n"
           "Exit status: 0 the firmware was transferred and started, 1 bad command line,\n"
           "2 the port could not be opened, 3 no device answered in time, 4 the firmware\n"
           "is not suitable or a warning was not confirmed, 5 the upload failed,\n"
           "6 interrupted, 7 invalid package, 8 the port hung up (adapter unplugged) before\n"
           "the upload began. With several devices: 0 when every device succeeded,\n"
           "otherwise the most serious of their statuses, in the order 5, 6, 8, 2, 7, 3, 4;\n"
           "a --ports pattern that matches nothing gives 2, a report file that cannot be\n"
           "written or a port named twice gives 1.\n";
}

int CUploadCommand::Run(const std::vector<std::string>& args, std::ostream& out,
                        std::ostream& err) {
    const std::string prefix = program_ + " upload";
    const auto usageError = [&](const std::string& message) {
        err << prefix << ": " << message << " (see " << program_ << " upload --help)\n";
        return kExitUsage;
    };
    Options options;
    std::optional<std::string> log;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            out << Usage();
            return kExitSuccess;
        }
        std::string error;
        std::string value;
        if (CDeviceSession::ParseOption(args, i, options.device, error)) {
            // taken
        } else if (arg == "--slow") {
            options.slow = true;
        } else if (arg == "--fast") {
            options.slow = false;
        } else if (arg == "--yes" || arg == "-y") {
            options.yes = true;
        } else if (CDeviceSession::TakeValue(args, i, "--log", value, error)) {
            log = value;
        } else if (CPortGroup::ParseOption(args, i, options.group, error)) {
            // taken
        } else {
            const bool option = !arg.empty() && arg.front() == '-';
            error = (option ? "unknown option '" : "unexpected argument '") + arg + "'";
        }
        if (!error.empty()) {
            return usageError(error);
        }
    }
    // The log path is fixed against the folder the program was started in, as the
    // wizard's LOG switch is. "-" is standard output, where the device's start-up is
    // seen live among the progress; the one stream cannot carry several devices' output,
    // nor JSON lines.
    if (log && *log == SessionLog::kStandardOutput) {
        if (CPortGroup::Wanted(options.device, options.group)) {
            return usageError("--log - (standard output) takes a single --port, without "
                              "--ports, --station, --report or --json");
        }
        options.logPath = *log;
    } else if (log && !log->empty()) {
        std::error_code error;
        const std::filesystem::path full = std::filesystem::absolute(PathFromUtf8(*log), error);
        if (error) {
            return usageError("cannot resolve the log file name '" + *log + "'");
        }
        options.logPath = Utf8FromPath(full);
    }
    const CliSettings saved = LoadCliSettings();
    if (!options.device.portGiven && options.device.portGlobs.empty()) {
        options.device.port = saved.port;
        options.device.ports = {saved.port};
        if (options.device.port.empty()) {
            err << prefix << ": no port saved; name one with --port\n";
            return kExitUsage;
        }
    }
    if (!options.slow) {
        options.slow = saved.slow;
    }
    if (CPortGroup::Wanted(options.device, options.group)) {
        PortRunSettings settings;
        settings.device = options.device;
        settings.upload = true;
        settings.yes = options.yes;
        settings.slow = *options.slow;
        settings.station = options.group.station;
        CPortGroup group(prefix, settings, options.group, options.logPath);
        return group.Run(out, err);
    }
    terminalInput_ = IsTerminal(StandardStream::Input);
    terminalOutput_ = &out == &std::cout && IsTerminal(StandardStream::Output);

    if (!options.logPath.empty() && !LogWritable(options.logPath)) {
        err << prefix << ": warning: the log file " << options.logPath
            << " cannot be written; the upload goes on without it\n";
    } else if (!options.logPath.empty() && AppendFile::IsFifoWithoutReader(options.logPath)) {
        err << prefix << ": warning: nothing reads the FIFO " << options.logPath
            << " yet; the log is written only if a reader has opened it when the firmware "
               "starts\n";
    }

    CInterruptWatch interrupts;
    CDeviceSession session(prefix, out, err, interrupts);
    int status = session.LoadPackages(options.device);
    if (status == kExitSuccess) {
        status = session.OpenPort(options.device.port);
    }
    if (status == kExitSuccess) {
        status = session.Detect(options.device.wait);
    }
    if (status == kExitSuccess) {
        status = session.Identify();
    }
    if (status != kExitSuccess) {
        return status;
    }
    return Transfer(session, interrupts, options);
}

CUploadCommand::Answer CUploadCommand::Ask(CDeviceSession& session, CInterruptWatch& interrupts,
                                           const std::string& prompt,
                                           const std::function<bool()>& stillWanted) {
    session.Out() << prompt << std::flush;
    std::string line;
    ConsoleSignal signal = ConsoleSignal::None;
    switch (WaitForAnswer(line, interrupts, signal, stillWanted)) {
    case AnswerWait::Line:
        return IsYes(line) ? Answer::Yes : Answer::No;
    case AnswerWait::Signal:
        session.Out() << std::endl;
        return Answer::Interrupted;
    case AnswerWait::Withdrawn:
        session.Out() << std::endl;
        return Answer::Withdrawn;
    case AnswerWait::EndOfInput:
        session.Out() << std::endl;
        return Answer::No;
    case AnswerWait::Failed:
        break;
    }
    return Answer::No;
}

int CUploadCommand::Transfer(CDeviceSession& session, CInterruptWatch& interrupts,
                             const Options& options) {
    CUploadCore& core = session.Core();
    std::ostream& out = session.Out();
    std::ostream& err = session.Err();

    const CompatibilityResult decision = session.AssessAndShow();
    // The bootloader must not fall asleep while the user reads and decides.
    core.StartActivationWorker(nullptr, true);
    const auto stopKeepAlive = [&session] {
        return session.StopActivationWorker(kKeepAliveStopPolls);
    };

    if (!decision.nextEnabled) {
        stopKeepAlive();
        return kExitRefused;
    }
    if (decision.outcome == CompatibilityOutcome::Warn) {
        if (options.yes) {
            out << "Uploading anyway (--yes).\n";
        } else if (!terminalInput_) {
            stopKeepAlive();
            return session.Fail(kExitRefused,
                                "not uploading without confirmation; give --yes to upload "
                                "anyway");
        } else {
            const Answer answer = Ask(session, interrupts, "Upload this firmware anyway? [y/N] ",
                                      [] { return true; });
            if (answer != Answer::Yes) {
                stopKeepAlive();
                if (answer == Answer::Interrupted) {
                    return session.Fail(kExitAborted, "interrupted; nothing was uploaded");
                }
                return session.Fail(kExitRefused, "not uploading");
            }
        }
    }
    if (!stopKeepAlive()) {
        return session.Fail(kExitUploadFailed, "the device could not be taken over from the "
                                               "keep-alive; nothing was uploaded");
    }

    core.SetSlowMode(*options.slow);
    core.SetLogPath(options.logPath);
    out << "\n";
    if (*options.slow) {
        out << "Slow mode: the transfer stays at 19200 baud.\n";
    }
    out.flush();

    // A hang-up or a termination that came before the upload began ends the program now:
    // nothing has been written to the device's flash yet.
    if (session.Interrupts().Take() != ConsoleSignal::None) {
        return session.Fail(kExitAborted, "interrupted; nothing was uploaded");
    }
    CMessageQueue& queue = session.Queue();
    core.StartUpload(&queue);

    ProgressDisplay progress(out, terminalOutput_);
    std::deque<CMessageQueue::Message> deferred;
    bool abortRequested = false;
    bool abortText = false;
    bool succeeded = false;
    const auto endedMeanwhile = [&] {
        while (const auto message = queue.Take(0ms)) {
            deferred.push_back(*message);
        }
        return std::none_of(deferred.begin(), deferred.end(),
                            [](const auto& m) { return m.number == kMsgSequenceEnded; });
    };

    for (;;) {
        CMessageQueue::Message message;
        ConsoleSignal signal = ConsoleSignal::None;
        CDeviceSession::WaitResult result = CDeviceSession::WaitResult::Message;
        if (!deferred.empty()) {
            message = deferred.front();
            deferred.pop_front();
        } else {
            result = session.WaitForMessage(message, signal, Clock::now() + 1s);
        }
        if (result == CDeviceSession::WaitResult::TimedOut) {
            // The upload thread posts its last message before it ends; one that ended
            // without it must not leave the program waiting for ever.
            if (core.IsUploadRunning()) {
                continue;
            }
            const auto last = queue.Take(0ms);
            if (!last) {
                progress.Break();
                return session.Fail(kExitUploadFailed, "the upload ended without a result");
            }
            message = *last;
        }

        if (result == CDeviceSession::WaitResult::Interrupted && signal == ConsoleSignal::HangUp) {
            // The terminal has gone; a transfer cut short now would leave the device
            // without working firmware, so it runs to its end. Nobody is left to answer.
            terminalInput_ = false;
            progress.Break();
            err << "The terminal hung up; the upload runs to its end.\n";
            err.flush();
            continue;
        }
        if (result == CDeviceSession::WaitResult::Interrupted) {
            progress.Break();
            if (abortRequested) {
                err << "The upload is being aborted...\n";
                continue;
            }
            bool abort = options.yes || !terminalInput_ || signal != ConsoleSignal::Interrupt;
            if (!abort) {
                const Answer answer =
                    Ask(session, interrupts, std::string(kInterruptQuestion) + "[y/N] ",
                        endedMeanwhile);
                // A second interrupt while asked counts as an insistent yes.
                abort = answer == Answer::Yes || answer == Answer::Interrupted;
                if (answer == Answer::Withdrawn) {
                    out << "The upload has ended meanwhile.\n";
                }
            }
            if (abort) {
                abortRequested = true;
                err << "Aborting the upload...\n";
                err.flush();
                core.AbortUpload();
            }
            continue;
        }

        switch (message.number) {
        case kMsgTransferStarted:
            progress.Break();
            out << kTransferHeading << "\n";
            progress.Show(0);
            break;
        case kMsgProgress:
            progress.Show(ProgressPercent(message.wParam, message.lParam));
            break;
        case kMsgError:
            progress.Break();
            abortText = abortText || SameText(message.lParam, texts::kAborted);
            err << MessageText(message.lParam) << "\n";
            err.flush();
            break;
        case kMsgStatus:
            progress.Break();
            succeeded = SameText(message.lParam, texts::kTransferSucceeded);
            out << MessageText(message.lParam) << "\n";
            out.flush();
            break;
        default:
            break; // the bootloader's answer after the speed change, Back enabled
        }
        if (message.number == kMsgSequenceEnded) {
            progress.Break();
            break;
        }
    }

    if (succeeded) {
        return kExitSuccess;
    }
    if (abortRequested) {
        if (!abortText) {
            // The transfer was past its last abort check (the firmware was being launched
            // or starting) and ended without confirming the start.
            err << texts::kAborted << "\n";
        }
        return kExitAborted;
    }
    if (core.LineLost()) {
        err << "The serial port " << core.selectedPort
            << " hung up during the upload: the adapter was unplugged or the line was "
               "closed. The device does not hold the complete firmware; reconnect it and "
               "upload again.\n";
        err.flush();
    }
    // Also an abort ending the user did not ask for: the device kept sending the transfer
    // elsewhere than the module it was given.
    return kExitUploadFailed;
}

} // namespace quillon
