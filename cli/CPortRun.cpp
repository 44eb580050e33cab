#include "cli/CPortRun.h"

#include "cli/CJsonEvents.h"
#include "cli/CLineStreamBuf.h"
#include "cli/CMultiPortDisplay.h"
#include "cli/CReceiptFile.h"
#include "cli/CStationTally.h"
#include "cli/CUploadCommand.h"
#include "cli/CliExitStatus.h"
#include "cli/PortIdentity.h"
#include "cli/TerminalText.h"
#include "platform/SerialPortDiscovery.h"
#include "upload/UploadTexts.h"

#include <QJsonObject>
#include <QString>
#include <cstring>
#include <sstream>

namespace quillon {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A device counts as gone when this many activation blocks in a row (about half a
// second) go unanswered: a device switched off, unplugged or running its new firmware.
constexpr int kLeaveActivationAttempts = 8;
// How often a station looks for an unplugged adapter's port to come back: the port's name
// (a by-id link, a ttyUSB node) reappears within a second of the plug-in on a real system.
constexpr auto kReplugInterval = 500ms;
// The name outlives the hang-up by a moment (udev removes the by-id link after the kernel
// has removed the node); a name that stays this long after a hang-up (a built-in port whose
// line was hung up) is that port, still there.
constexpr auto kPortRemovalTime = 2s;

QString Latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

bool SameText(std::intptr_t lParam, const char* text) {
    const char* posted = MessageText(lParam);
    return posted != nullptr && std::strcmp(posted, text) == 0;
}

// Where the upload was when an error text came.
const char* PhaseOfError(std::intptr_t lParam) {
    if (SameText(lParam, texts::kFlashModuleFailed)) {
        return "flash-module";
    }
    if (SameText(lParam, texts::kImageFailed)) {
        return "image";
    }
    if (SameText(lParam, texts::kCrcModuleFailed) || SameText(lParam, texts::kCrcNoReply) ||
        SameText(lParam, texts::kCrcFailed)) {
        return "crc";
    }
    if (SameText(lParam, texts::kLaunchFailed)) {
        return "launch";
    }
    return nullptr;
}

// The words a person reads for a phase.
std::string PhaseLabel(const std::string& phase) {
    static const std::pair<const char*, const char*> kLabels[] = {
        {"packages", "loading packages"}, {"open", "opening port"},
        {"detect", "waiting for device"}, {"identify", "identifying"},
        {"decision", "deciding"},         {"flash-module", "flash module"},
        {"image", "transferring"},        {"crc", "checking CRC"},
        {"startup", "starting firmware"}, {"leave", "remove the device"},
    };
    for (const auto& [name, label] : kLabels) {
        if (phase == name) {
            return label;
        }
    }
    return phase;
}

const char* OutcomeName(CompatibilityOutcome outcome) {
    switch (outcome) {
    case CompatibilityOutcome::Accept:
        return "accept";
    case CompatibilityOutcome::Warn:
        return "warn";
    case CompatibilityOutcome::Refuse:
        break;
    }
    return "refuse";
}

QJsonObject VersionObject(const VersionDescriptor& version) {
    QJsonObject object;
    object["text"] = Latin1(version.text);
    object["product"] = Latin1(version.product);
    object["build"] = Latin1(version.buildStamp);
    return object;
}

} // namespace

CPortRun::CPortRun(std::string prefix, std::size_t index, std::string port, std::string logPath,
                   const PortRunSettings& settings, PortRunShared shared)
    : prefix_(std::move(prefix)), index_(index), port_(std::move(port)),
      logPath_(std::move(logPath)), settings_(settings), shared_(shared) {
}

CPortRun::~CPortRun() {
    RequestStop(true);
    if (thread_.joinable()) {
        thread_.join();
    }
}

void CPortRun::Start() {
    thread_ = std::jthread([this] { Main(); });
}

void CPortRun::RequestStop(bool abortUpload) {
    std::lock_guard lock(stateMutex_);
    stopRequested_ = true;
    if (waitingCore_ != nullptr) {
        waitingCore_->StopActivation();
    }
    if (!uploading_ || abortUpload) {
        signals_.Post(ConsoleSignal::Terminate);
    }
    stopChanged_.notify_all();
}

bool CPortRun::Uploading() const {
    std::lock_guard lock(stateMutex_);
    return uploading_;
}

bool CPortRun::StopRequested() const {
    std::lock_guard lock(stateMutex_);
    return stopRequested_;
}

void CPortRun::Emit(const std::string& event, const QJsonObject& fields) {
    if (shared_.json != nullptr) {
        shared_.json->Emit(event, port_, fields);
    }
}

void CPortRun::SetPhase(const std::string& phase) {
    phase_ = phase;
    shared_.display.SetPhase(index_, PhaseLabel(phase));
}

void CPortRun::Main() {
    const PortIdentity identity = LookUpPortIdentity(port_);
    for (;;) {
        CReceipt receipt;
        receipt.port = port_;
        receipt.byId = identity.byId;
        receipt.usbSerial = identity.usbSerial;
        receipt.host = settings_.host;
        receipt.startedAt = std::chrono::system_clock::now();
        runStart_ = Clock::now();
        failedPhase_.clear();
        logOpened_ = false;

        // The session's text is already fit for a terminal (device texts converted).
        CLineStreamBuf outLines(
            [this](const std::string& line) { shared_.display.Line(index_, line); });
        CLineStreamBuf errLines([this](const std::string& line) {
            shared_.display.Line(index_, line);
            if (!line.empty()) {
                Emit("error", {{"text", QString::fromUtf8(line.data(),
                                                          static_cast<qsizetype>(line.size()))}});
            }
        });
        std::ostream out(&outLines);
        std::ostream err(&errLines);
        CDeviceSession session(prefix_, out, err, signals_);
        // The session's own name for this port in its messages.
        session.Core().selectedPort = port_;

        const int status = RunDevice(session, receipt);
        // A station stopped while it waits for the next device has served nobody, and so
        // has an adapter unplugged then: no device had answered on it.
        const bool waiting = settings_.station && phase_ == "detect";
        const bool served =
            !(waiting && ((status == kExitAborted && StopRequested()) || status == kExitPortLost));
        if (served) {
            receipt.package = CReceipt::FromDescriptor(session.Core().packageFirmware);
            Finish(session, receipt, status);
        }
        if (!settings_.station || StopRequested() || !WaitForDeviceToLeave(session)) {
            if (!served) {
                shared_.display.SetPhase(index_, "stopped");
            }
            break;
        }
    }
    done_ = true;
}

int CPortRun::RunDevice(CDeviceSession& session, CReceipt& receipt) {
    SetPhase("packages");
    int status = session.LoadPackages(settings_.device);
    if (status != kExitSuccess) {
        return status;
    }
    SetPhase("open");
    if ((status = session.OpenPort(port_)) != kExitSuccess) {
        return status;
    }
    Emit("port_opened");
    SetPhase("detect");
    shared_.display.SetPercent(index_, -1);
    // A station waits for each next device as long as it runs.
    status = session.Detect(settings_.station ? std::nullopt : settings_.device.wait);
    if (status != kExitSuccess) {
        return status;
    }
    runStart_ = Clock::now();
    receipt.startedAt = std::chrono::system_clock::now();
    SetPhase("identify");
    if ((status = session.Identify()) != kExitSuccess) {
        return status;
    }
    CUploadCore& core = session.Core();
    receipt.bootloader = CReceipt::FromDescriptor(core.deviceBootloader);
    receipt.firmware = CReceipt::FromDescriptor(core.deviceFirmware);
    receipt.boardTypeId = core.boardTypeId;
    QJsonObject device;
    device["bootloader"] = VersionObject(core.deviceBootloader);
    device["firmware"] = VersionObject(core.deviceFirmware);
    device["board_type_id"] = Latin1(core.boardTypeId);
    Emit("device_detected", {{"device", device}});

    SetPhase("decision");
    const CompatibilityResult decision = session.AssessAndShow();
    receipt.decisionOutcome = OutcomeName(decision.outcome);
    receipt.decisionText = decision.outcome == CompatibilityOutcome::Accept
                               ? std::string(CDeviceSession::kAccepted)
                               : decision.message;
    Emit("decision", {{"outcome", QString(receipt.decisionOutcome.c_str())},
                      {"text", Latin1(receipt.decisionText)}});
    if (!settings_.upload) {
        return decision.nextEnabled ? kExitSuccess : kExitRefused;
    }
    return Upload(session, decision);
}

int CPortRun::Upload(CDeviceSession& session, const CompatibilityResult& decision) {
    CUploadCore& core = session.Core();
    // No question is asked of a station, so the upload follows the decision at once and
    // no keep-alive is needed in between.
    if (!decision.nextEnabled) {
        return kExitRefused;
    }
    if (decision.outcome == CompatibilityOutcome::Warn) {
        if (!settings_.yes) {
            return session.Fail(kExitRefused,
                                "not uploading without confirmation; give --yes to upload anyway");
        }
        session.Out() << "Uploading anyway (--yes).\n";
    }
    core.SetSlowMode(settings_.slow);
    core.SetLogPath(logPath_);
    {
        std::lock_guard lock(stateMutex_);
        if (stopRequested_) {
            return session.Fail(kExitAborted, "interrupted; nothing was uploaded");
        }
        uploading_ = true;
    }
    CMessageQueue& queue = session.Queue();
    core.StartUpload(&queue);

    bool abortRequested = false;
    bool abortText = false;
    bool succeeded = false;
    int percent = -1;
    const auto emitText = [this](const char* event, const char* text) {
        Emit(event, {{"text", QString::fromLatin1(text)}});
    };
    const auto showText = [this](const char* text) {
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            shared_.display.Line(index_, line);
        }
    };
    for (;;) {
        CMessageQueue::Message message;
        ConsoleSignal signal = ConsoleSignal::None;
        const CDeviceSession::WaitResult result =
            session.WaitForMessage(message, signal, Clock::now() + 1s);
        if (result == CDeviceSession::WaitResult::Interrupted) {
            // The station posts to an uploading port only when it is to abort.
            if (!abortRequested) {
                abortRequested = true;
                shared_.display.Line(index_, "Aborting the upload...");
                core.AbortUpload();
            }
            continue;
        }
        if (result == CDeviceSession::WaitResult::TimedOut) {
            if (core.IsUploadRunning()) {
                continue;
            }
            const auto last = queue.Take(0ms);
            if (!last) {
                session.Fail(kExitUploadFailed, "the upload ended without a result");
                break;
            }
            message = *last;
        }
        switch (message.number) {
        case kMsgTransferStarted:
            SetPhase("flash-module");
            shared_.display.Line(index_, CUploadCommand::kTransferHeading);
            break;
        case kMsgProgress: {
            if (phase_ == "flash-module") {
                SetPhase("image");
            }
            const int now = ProgressPercent(message.wParam, message.lParam);
            if (now >= 0 && now != percent) {
                percent = now;
                shared_.display.SetPercent(index_, percent);
                Emit("progress", {{"percent", percent}});
            }
            break;
        }
        case kMsgError:
            abortText = abortText || SameText(message.lParam, texts::kAborted);
            if (const char* phase = PhaseOfError(message.lParam)) {
                failedPhase_ = phase;
            }
            showText(MessageText(message.lParam));
            emitText("error", MessageText(message.lParam));
            break;
        case kMsgStatus:
            if (SameText(message.lParam, texts::kCheckingCrc)) {
                SetPhase("crc");
            } else if (SameText(message.lParam, texts::kInitializing)) {
                SetPhase("startup");
                logOpened_ = !logPath_.empty();
            }
            succeeded = SameText(message.lParam, texts::kTransferSucceeded);
            showText(MessageText(message.lParam));
            emitText("status", MessageText(message.lParam));
            break;
        default:
            break;
        }
        if (message.number == kMsgSequenceEnded) {
            break;
        }
    }
    {
        std::lock_guard lock(stateMutex_);
        uploading_ = false;
    }
    if (succeeded) {
        return kExitSuccess;
    }
    if (abortRequested) {
        if (!abortText) {
            showText(texts::kAborted);
        }
        return kExitAborted;
    }
    if (core.LineLost()) {
        session.Fail(kExitUploadFailed, "the serial port hung up during the upload: the device "
                                        "does not hold the complete firmware");
    }
    return kExitUploadFailed;
}

void CPortRun::Finish(CDeviceSession& session, CReceipt& receipt, int status) {
    CUploadCore& core = session.Core();
    receipt.endedAt = std::chrono::system_clock::now();
    receipt.seconds = std::chrono::duration<double>(Clock::now() - runStart_).count();
    receipt.exitStatus = status;
    receipt.result = CReceipt::ResultName(status, core.LineLost());
    if (status != kExitSuccess) {
        receipt.failedPhase = failedPhase_.empty() ? phase_ : failedPhase_;
    }
    const auto& counters = core.Counters();
    receipt.recordsSent = counters.recordsSent.load();
    receipt.bytesSent = counters.bytesSent.load();
    receipt.retries = counters.retries.load();
    if (logOpened_) {
        receipt.logPath = logPath_;
    }
    if (shared_.receipts != nullptr) {
        std::string error;
        if (!shared_.receipts->Append(receipt.ToLine(), error)) {
            // The device's outcome stands; only its record is missing.
            shared_.display.Line(index_, prefix_ + ": warning: " + error);
            Emit("error", {{"text", QString::fromStdString(error)}});
        }
    }
    Emit("result", {{"receipt", receipt.ToJson()}});
    status_ = MoreSerious(status_.load(), status);
    shared_.display.SetPhase(index_, receipt.result);
    if (settings_.station) {
        shared_.tally.Count(receipt.result);
        const std::string tally = shared_.tally.Text();
        shared_.display.SetTally(tally);
        Emit("tally", {{"tally", QString::fromStdString(tally)},
                       {"updated", shared_.tally.Updated()},
                       {"failed", shared_.tally.Failed()},
                       {"refused", shared_.tally.Refused()}});
    }
}

bool CPortRun::WaitForDeviceToLeave(CDeviceSession& session) {
    CUploadCore& core = session.Core();
    SetPhase("leave");
    {
        std::lock_guard lock(stateMutex_);
        if (stopRequested_) {
            return false;
        }
        waitingCore_ = &core;
    }
    bool gone = false;
    while (!gone && !StopRequested()) {
        if (core.LineLost() || !DescribeSerialPort(port_)) {
            // The adapter was unplugged: whatever is plugged in next is a new device.
            gone = WaitForPortToReturn();
            continue;
        }
        // Back to the rate a device powers up at.
        if (session.OpenPort(port_) != kExitSuccess) {
            break;
        }
        if (core.activationBlocks.empty() && core.CollectActivationBlocks()) {
            break;
        }
        const Status answered = core.ActivateBootloader(kLeaveActivationAttempts, nullptr, false);
        gone = answered == kEFail && !core.LineLost();
        if (answered == kSoftOutcome) {
            break;
        }
    }
    std::lock_guard lock(stateMutex_);
    waitingCore_ = nullptr;
    return gone && !stopRequested_;
}

bool CPortRun::WaitForPortToReturn() {
    shared_.display.Line(index_, "the serial port hung up; waiting for it to come back");
    const Clock::time_point settled = Clock::now() + kPortRemovalTime;
    bool removed = false;
    std::unique_lock lock(stateMutex_);
    while (!stopRequested_) {
        lock.unlock();
        const bool present = DescribeSerialPort(port_).has_value();
        lock.lock();
        removed = removed || !present;
        if (present && (removed || Clock::now() >= settled)) {
            return !stopRequested_;
        }
        stopChanged_.wait_for(lock, kReplugInterval);
    }
    return false;
}

} // namespace quillon
