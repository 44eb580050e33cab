#include "upload/CUploadCore.h"

#include "package/PackageDescription.h"
#include "upload/BoardMatching.h"
#include "upload/CStartupWatcher.h"
#include "upload/DeviceIdentification.h"
#include "upload/ProtocolBounds.h"
#include "upload/ReplyParsing.h"
#include "upload/UploadTexts.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

namespace quillon {

namespace {

// Bit 15 of a reply word: the record was refused (same code) or another one is wanted.
constexpr std::uint16_t kReplyRefused = 0x8000;

using bounds::kAbortPolls;
using bounds::kActivationAttemptsAfterSwitch;
using bounds::kAttemptsPerModuleRecord;
using bounds::kBreakMs;
using bounds::kDefaultStartupByteTimeoutMs;
using bounds::kFastBaud;
using bounds::kInfoReplyTimeoutMs;
using bounds::kKeepAlivePauseMs;
using bounds::kReplyPauseMs;
using bounds::kReplyWordTimeoutMs;
using bounds::kSendsPerRecord;
using bounds::kSlowBaud;

// Only a refusal or a missing reply is worth another send of the same record. A line that
// stopped taking bytes, closed or hung up, a reply past its bounds (the device babbles:
// its text would only be read as the next answer) and an interrupt all stay as they are.
bool WorthResending(Status failure) {
    return failure == kEFail || failure == kWaitTimeout;
}

// The activation blocks are chosen with the classic 15-bit linear congruential generator,
// seeded from the clock in seconds, so the choice spreads like the device has always seen.
class BlockChooser {
public:
    explicit BlockChooser(std::uint32_t seed) : state_(seed) {}
    int Next() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFF);
    }

private:
    std::uint32_t state_;
};

} // namespace

CUploadCore::CUploadCore() : CUploadCore(std::make_unique<CFWUplSerialEx>()) {
}

CUploadCore::CUploadCore(std::unique_ptr<CFWUplSerialEx> link)
    : ownedLink_(std::move(link)), link_(*ownedLink_) {
}

CUploadCore::~CUploadCore() {
    // Whatever still runs must end before the link and the packages it uses go away:
    // cut its waits short and join it.
    // The identification's stop is raised before its waits are cut, so that the worker
    // cannot wake, miss it and report a device nobody waits for any more.
    shutdown_ = true;
    identificationStop_ = true;
    StopActivation();
    abortEvent_.Set();
    link_.InterruptWaits();
    if (activationThread_.joinable()) {
        activationThread_.join();
    }
    if (identificationThread_.joinable()) {
        identificationThread_.join();
    }
    JoinUploadThread();
}

void CUploadCore::LoadPackages(std::span<const std::uint8_t> utility,
                               std::span<const std::uint8_t> firmware) {
    utility_.Attach(utility.data(), utility.size());
    utility_.BuildIndex();
    firmware_.Attach(firmware.data(), firmware.size());
    firmware_.BuildIndex();

    VersionDescriptor description;
    ReadImageDescription(description);
    packageFirmware = description;
    CollectImageTargetTypes(targetTypes);
    if (targetTypes.empty()) {
        packageFirmware.SetText(kUnknownText);
    }
}

std::string CUploadCore::TitleSuffix() const {
    std::string lower = packageFirmware.text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!packageFirmware.product.empty() && lower != "unknown") {
        return packageFirmware.product + " " + packageFirmware.text;
    }
    return packageFirmware.text;
}

Status CUploadCore::OpenPort(const std::string& name) {
    constexpr std::uint32_t kQueueSize = 2048;
    constexpr std::uint32_t kEventMask = 0xC1; // received data, break, line error
    if (link_.IsHungUp()) {
        link_.Close(); // a port that hung up stays dead until it is opened again
    }
    if (!link_.IsOpen()) {
        if (const Status s = link_.Open(name, kQueueSize, kQueueSize, true); s != kOk) {
            return s;
        }
    }
    Status s = link_.ConfigureLine(kSlowBaud, 8, 0, 0);
    if (s == kOk) {
        s = link_.ConfigureHandshake(0);
    }
    if (s == kOk) {
        s = link_.SetEventMask(kEventMask);
    }
    return s;
}

void CUploadCore::ClosePort() {
    link_.Close();
}

void CUploadCore::ReadImageDescription(VersionDescriptor& out) {
    quillon::ReadImageDescription(firmware_, out);
}

void CUploadCore::CollectImageTargetTypes(Lines& list) {
    quillon::CollectImageTargetTypes(firmware_, list);
}

bool CUploadCore::CollectActivationBlocks() {
    // Collected afresh on every entry of detection; appending again would only pile up
    // copies of the same blocks.
    activationBlocks.clear();
    RecordHeader header{};
    for (int n = 0; n < utility_.GetRecordCount(); ++n) {
        if (!utility_.ReadHeader(n, header) || header.type != kActivationBlock) {
            continue;
        }
        Block block{};
        // An activation block is exactly one block long; a record of another size is not
        // one the bootloader would answer, and its bytes must not be half-sent.
        if (header.blocks != 1 || utility_.ReadPayload(n, block.data(), block.size()) != kOk) {
            continue;
        }
        activationBlocks.push_back(block);
    }
    return activationBlocks.empty();
}

std::string CUploadCore::GetMinimumBootloaderVersion() {
    return quillon::GetMinimumBootloaderVersion(utility_, deviceBootloader);
}

void CUploadCore::Pause(std::uint32_t milliseconds) {
    // The link lets the time pass; a shutdown interrupts its waits, which cuts this short.
    if (!ShuttingDown()) {
        link_.Pause(milliseconds);
    }
}

Status CUploadCore::ReadWord(std::uint16_t& word, std::uint32_t timeoutMs) {
    return ReadReplyWord([&](std::uint8_t& byte) { return link_.ReadByte(byte, timeoutMs); }, word);
}

Status CUploadCore::ReadTextLines(Lines* lines, std::uint32_t timeoutMs) {
    // Each byte may take the whole timeout, but the reply as a whole no longer than one
    // timeout plus the line time of the longest reply: a device that drips its text a
    // byte at a time would otherwise hold one send for hours.
    using Clock = std::chrono::steady_clock;
    const std::int32_t baud = link_.GetBaudRate();
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(bounds::ReplyTextLimitMs(
                           timeoutMs, baud > 0 ? static_cast<std::uint32_t>(baud) : kSlowBaud));
    return ReadReplyLines(
        [&](std::uint8_t& byte) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                return kWaitTimeout;
            }
            return link_.ReadByte(
                byte, static_cast<std::uint32_t>(std::min<std::int64_t>(left, timeoutMs)));
        },
        lines);
}

Status CUploadCore::ExchangeRecord(int index, Lines& lines, std::int32_t& redirect,
                                   CEncImageFile* package) {
    int sendsLeft = kSendsPerRecord;
    return ExchangeRecord(index, lines, redirect, package, sendsLeft);
}

Status CUploadCore::ExchangeRecord(int index, Lines& lines, std::int32_t& redirect,
                                   CEncImageFile* package, int& sendsLeft) {
    CEncImageFile& source = package != nullptr ? *package : utility_;
    redirect = 0;
    RecordHeader header{};
    if (!source.ReadHeader(index, header)) {
        return kEFail;
    }
    std::vector<std::uint8_t> payload(header.PayloadSize());
    if (source.ReadPayload(index, payload.data(), payload.size()) != kOk) {
        return kEFail;
    }
    const int code = header.type & kCodeMask;
    const bool wantsCompletion = (header.type & kReplyFlag) != 0;
    const auto acceptanceWord = static_cast<std::uint16_t>(header.type & ~kReplyFlag);

    Status failure = kEFail;
    for (int attempt = 0; attempt < kSendsPerRecord; ++attempt) {
        if (ShuttingDown() || LineLost() || sendsLeft <= 0) {
            return failure;
        }
        if (attempt > 0) {
            link_.PulseBreak(kBreakMs);
        }
        link_.PurgeBuffers();
        link_.ClearReceiveBuffer();
        --sendsLeft;
        counters_.retries += attempt > 0 ? 1 : 0;
        if (const Status s = link_.WriteAndDrain(payload.data(), payload.size()); s != kOk) {
            return s;
        }
        counters_.recordsSent += 1;
        counters_.bytesSent += payload.size();
        Pause(kReplyPauseMs);

        std::uint16_t word = 0;
        if (const Status s = ReadWord(word, kReplyWordTimeoutMs); s != kOk) {
            if (!WorthResending(s)) {
                return s;
            }
            failure = s;
            continue;
        }
        if ((word & kReplyRefused) != 0) {
            const int replyCode = word & kCodeMask;
            if (replyCode != code) {
                redirect = replyCode - code;
                return kSoftOutcome;
            }
            failure = kEFail;
            continue;
        }
        // Any word with bit 15 clear accepts the record.
        if (!(wantsCompletion && word == acceptanceWord)) {
            return kOk;
        }
        if (const Status s = ReadWord(word, header.replyTimeout); s != kOk) {
            if (!WorthResending(s)) {
                return s;
            }
            failure = s;
            continue;
        }
        if (word != header.type) {
            return kOk;
        }
        if (const Status s = ReadTextLines(&lines, header.replyTimeout); s != kOk) {
            if (!WorthResending(s)) {
                return s;
            }
            failure = s;
            continue;
        }
        return kOk;
    }
    return failure;
}

Status CUploadCore::ActivateBootloader(int attempts, IMessageSink* notify, bool keepAlive) {
    stopRequest_.exchange(0);
    return ActivationLoop(attempts, notify, keepAlive);
}

Status CUploadCore::ActivationLoop(int attempts, IMessageSink* notify, bool keepAlive) {
    BlockChooser chooser(activationSeed_.value_or(static_cast<std::uint32_t>(std::time(nullptr))));
    const std::size_t blockCount = activationBlocks.size();
    if (blockCount == 0) {
        return kEFail;
    }
    const double scale = static_cast<double>(blockCount - 1) / 32767.0;
    link_.PurgeBuffers();
    link_.ClearReceiveBuffer();

    for (;;) {
        if (attempts == 0 || LineLost()) {
            return kEFail;
        }
        if (stopRequest_.load() != 0 || ShuttingDown()) {
            return kSoftOutcome;
        }
        if (attempts > 0) {
            --attempts;
        }
        link_.PulseBreak(kBreakMs);
        const auto chosen = static_cast<std::size_t>(std::floor(chooser.Next() * scale + 0.5));
        const Block& block = activationBlocks[std::min(chosen, blockCount - 1)];
        if (const Status sent = link_.WriteAndDrain(block.data(), block.size()); sent != kOk) {
            if (sent == kEAbort) {
                return kSoftOutcome;
            }
            // A line that takes no bytes will not answer the attempts left; without a
            // limit the loop goes on (at the pace of its waits) until it is stopped.
            if (attempts >= 0) {
                return kEFail;
            }
        }
        if (keepAlive) {
            // The stop request cuts the keep-alive pause short; leaving the page need not
            // wait half a second for it.
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(kKeepAlivePauseMs);
            while (std::chrono::steady_clock::now() < deadline && stopRequest_.load() == 0 &&
                   !ShuttingDown()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        } else {
            link_.Pause(kReplyPauseMs, true);
        }

        const std::size_t waiting = link_.AvailableBytes();
        if (waiting > 2) {
            link_.PurgeBuffers();
            link_.ClearReceiveBuffer();
            continue;
        }
        if (waiting != 2) {
            continue;
        }
        std::uint8_t first = 0;
        std::uint8_t second = 0;
        const bool gotBoth = link_.ReadByte(first, 0) == kOk && link_.ReadByte(second, 0) == kOk;
        if (!gotBoth || first != ':' || second != 0) {
            link_.PurgeBuffers();
            link_.ClearReceiveBuffer();
            continue;
        }
        if (keepAlive) {
            continue;
        }
        if (notify != nullptr) {
            notify->Post(kMsgBootloaderActivated, 0, 0);
        }
        return kOk;
    }
}

Status CUploadCore::QueryDeviceInfo(Lines& bootloaderLines, Lines& firmwareLines) {
    bootloaderLines.clear();
    firmwareLines.clear();
    std::int64_t lastAnswered = -1;
    RecordHeader header{};
    for (int n = 0; n < utility_.GetRecordCount(); ++n) {
        if (!utility_.ReadHeader(n, header) || header.type != kInformationRequest) {
            continue;
        }
        if (static_cast<std::int64_t>(header.parameter) == lastAnswered) {
            continue;
        }
        std::vector<std::uint8_t> payload(header.PayloadSize());
        if (utility_.ReadPayload(n, payload.data(), payload.size()) != kOk) {
            return kEFail;
        }
        Lines* target = header.parameter == 0   ? &bootloaderLines
                        : header.parameter == 1 ? &firmwareLines
                                                : nullptr;
        Status failure = kEFail;
        bool answered = false;
        for (int attempt = 0; attempt < kSendsPerRecord && !answered; ++attempt) {
            if (ShuttingDown() || LineLost()) {
                return failure;
            }
            if (attempt > 0) {
                link_.PurgeBuffers();
                link_.PulseBreak(kBreakMs);
            }
            Pause(kReplyPauseMs);
            link_.ClearReceiveBuffer();
            if (const Status s = link_.WriteAndDrain(payload.data(), payload.size()); s != kOk) {
                return s;
            }
            std::uint16_t word = 0;
            if (const Status s = ReadWord(word, kInfoReplyTimeoutMs); s != kOk) {
                if (!WorthResending(s)) {
                    return s;
                }
                failure = s;
                continue;
            }
            if (word != header.type) {
                failure = kEFail;
                continue;
            }
            if (const Status s = ReadTextLines(target, kInfoReplyTimeoutMs); s != kOk) {
                if (!WorthResending(s)) {
                    return s;
                }
                failure = s;
                continue;
            }
            answered = true;
        }
        if (!answered) {
            return failure;
        }
        lastAnswered = header.parameter;
    }
    return kOk;
}

int CUploadCore::FindRecordWithParameter(std::uint16_t type,
                                         std::optional<std::uint32_t> parameter) {
    RecordHeader header{};
    for (int n = 0; n < utility_.GetRecordCount(); ++n) {
        if (utility_.ReadHeader(n, header) && header.type == type &&
            (!parameter || header.parameter == *parameter)) {
            return n;
        }
    }
    return -1;
}

Status CUploadCore::SwitchBaudRate(std::uint32_t baud, IMessageSink* notify) {
    const int record = FindRecordWithParameter(kBaudRateRequest, baud);
    if (record < 0) {
        return kSoftOutcome;
    }
    Lines ignored;
    std::int32_t redirect = 0;
    if (ExchangeRecord(record, ignored, redirect) != kOk) {
        return kEFail;
    }
    link_.ConfigureLine(baud, 8, 0, 0);
    return ActivateBootloader(kActivationAttemptsAfterSwitch, notify, false) == kOk ? kOk : kEFail;
}

Status CUploadCore::LaunchFirmware() {
    const int record = FindRecordWithParameter(kLaunchRequest, std::nullopt);
    if (record < 0) {
        return kSoftOutcome;
    }
    Lines ignored;
    std::int32_t redirect = 0;
    return ExchangeRecord(record, ignored, redirect) == kOk ? kOk : kEFail;
}

void CUploadCore::StopActivation() {
    stopRequest_.exchange(1);
}

Status CUploadCore::RunModule(bool execute, const std::string& name, Lines& lines,
                              IMessageSink* progress) {
    const std::optional<ModuleLocation> module =
        FindSuitableModule(name, deviceBootloader, utility_, firmware_);
    if (!module) {
        return kEFail;
    }
    if (!execute) {
        return kOk;
    }
    Pause(kReplyPauseMs);
    const int count = module->descriptor.recordCount;
    int record = module->descriptorIndex + 1;
    int done = 0;
    // A device may ask for records it already has (a redirect backwards), and a poor line
    // costs resends; both are allowed up to the module's send limit. Past it the transfer
    // ends with the last failure, or as a redirect that could not be followed (1) when the
    // device was sending it back.
    int sendsLeft = bounds::ModuleSendLimit(count);
    Status lastFailure = kEFail;
    while (done < count) {
        int attemptsLeft = kAttemptsPerModuleRecord;
        for (;;) {
            if (abortEvent_.Wait(0)) {
                return kSoftOutcome;
            }
            if (sendsLeft <= 0) {
                return lastFailure;
            }
            std::int32_t redirect = 0;
            const Status result =
                ExchangeRecord(record, lines, redirect, module->package, sendsLeft);
            const bool inside = done + redirect >= 1 && done + redirect <= count - 1;
            if (redirect != 0 && inside) {
                lastFailure = redirect < 0 ? kSoftOutcome : lastFailure;
                done += redirect - 1;
                record += redirect - 1;
                break;
            }
            if (result == kOk) {
                break;
            }
            if (result == kEAbort) {
                return kSoftOutcome; // the waits were cut short by an abort or a shutdown
            }
            lastFailure = result;
            const bool anotherTry = WorthResending(result) || result == kSoftOutcome;
            if (--attemptsLeft == 0 || LineLost() || !anotherTry) {
                return result;
            }
        }
        if (progress != nullptr) {
            progress->Post(kMsgProgress, done, count);
        }
        ++done;
        ++record;
    }
    return kOk;
}

void CUploadCore::ResetDeviceData() {
    // An identification given up on by a bounded stop still writes these.
    JoinIdentificationThread();
    counters_.recordsSent = 0;
    counters_.bytesSent = 0;
    counters_.retries = 0;
    boardTypeId.clear();
    deviceFirmware.SetText(boardTypeId);
    deviceBootloader = deviceFirmware;
}

void CUploadCore::IdentifyDevice() {
    // An abort meant for an upload that has ended (or never began) is not meant for this
    // conversation: left signalled, it would stop the board identification module.
    abortEvent_.Reset();
    Lines bootloaderLines;
    Lines firmwareLines;
    QueryDeviceInfo(bootloaderLines, firmwareLines);
    ApplyDeviceLines(bootloaderLines, deviceBootloader, kUnknownText);
    ApplyDeviceLines(firmwareLines, deviceFirmware, kUnavailableText);

    flashModuleName = "FlashMod";
    crcModuleName = "FwCRCMod";
    boardTypeId = kUnknownText;
    if (identificationStop_.load()) {
        return; // nobody waits for the board any more
    }
    Lines result;
    if (RunModule(true, "BrdIDMod", result, nullptr) == kEFail) {
        boardTypeId = kUnavailableText;
    }
    if (!result.empty()) {
        boardTypeId = DecodeBoardTypeId(result.front());
        const ModuleNames names = ModuleVariantNames(boardTypeId);
        flashModuleName = names.flash;
        crcModuleName = names.crc;
    }
}

void CUploadCore::StartActivationWorker(IMessageSink* notify, bool keepAlive) {
    JoinIdentificationThread();
    if (activationThread_.joinable()) {
        // A worker abandoned by an earlier bounded wait ends at its next stop check.
        StopActivation();
        activationThread_.join();
    }
    // The stop request is cleared here, before the worker exists, so that a stop that
    // follows at once is not forgotten by a worker that starts late.
    stopRequest_.exchange(0);
    activationRunning_ = true;
    activationThread_ = std::jthread([this, notify, keepAlive] {
        if (ActivationLoop(-1, notify, keepAlive) == kEFail && LineLost() && notify != nullptr) {
            notify->Post(kMsgLineLost, 0, 0);
        }
        {
            std::lock_guard lock(activationEndMutex_);
            activationRunning_ = false;
        }
        activationEnded_.notify_all();
    });
}

bool CUploadCore::StopActivationWorker(int maxPolls) {
    StopActivation();
    if (!activationThread_.joinable()) {
        return true;
    }
    // Bounded like polls 100 ms apart, but woken as soon as the worker ends.
    {
        std::unique_lock lock(activationEndMutex_);
        if (!activationEnded_.wait_for(lock, std::chrono::milliseconds(100) * std::max(maxPolls, 0),
                                       [this] { return !activationRunning_.load(); })) {
            return false;
        }
    }
    activationThread_.join();
    return true;
}

bool CUploadCore::IsActivationWorkerRunning() const {
    return activationRunning_.load();
}

void CUploadCore::StartIdentificationWorker(IMessageSink* notify, std::intptr_t tag) {
    // The activation worker posts the bootloader's answer as its last act: it is ending.
    StopActivation();
    if (activationThread_.joinable()) {
        activationThread_.join();
    }
    JoinIdentificationThread();
    identificationStop_ = false;
    identificationRunning_ = true;
    identificationThread_ = std::jthread([this, notify, tag] {
        IdentifyDevice();
        if (!identificationStop_.load() && notify != nullptr) {
            notify->Post(kMsgDeviceIdentified, tag, 0);
        }
        {
            std::lock_guard lock(identificationEndMutex_);
            identificationRunning_ = false;
        }
        identificationEnded_.notify_all();
    });
}

bool CUploadCore::StopIdentificationWorker(int maxPolls) {
    if (!identificationThread_.joinable()) {
        return true;
    }
    identificationStop_ = true;
    // A silent device holds every read for its full timeout, and each record is sent up
    // to eight times: the interrupt ends the reads at once, the abort event ends the board
    // identification module at its next record attempt.
    abortEvent_.Set();
    link_.InterruptWaits();
    {
        std::unique_lock lock(identificationEndMutex_);
        if (!identificationEnded_.wait_for(lock,
                                           std::chrono::milliseconds(100) * std::max(maxPolls, 0),
                                           [this] { return !identificationRunning_.load(); })) {
            return false;
        }
    }
    JoinIdentificationThread();
    return true;
}

bool CUploadCore::IsIdentificationWorkerRunning() const {
    return identificationRunning_.load();
}

void CUploadCore::JoinIdentificationThread() {
    if (!identificationThread_.joinable()) {
        return;
    }
    identificationThread_.join();
    if (identificationStop_.exchange(false)) {
        // The interrupt and the abort were meant for that worker only; the next
        // conversation waits for the device as usual.
        abortEvent_.Reset();
        link_.ResumeWaits();
    }
}

void CUploadCore::JoinUploadThread() {
    if (uploadThread_.joinable()) {
        uploadThread_.join();
    }
}

Status CUploadCore::StartUpload(IMessageSink* sink) {
    // A worker left behind by an abort that gave up waiting has had its waits cut short;
    // it must be gone before a new one uses the link.
    if (uploadThread_.joinable()) {
        link_.InterruptWaits();
        JoinUploadThread();
    }
    JoinIdentificationThread();
    link_.ResumeWaits();
    // An abort that came after the last record check of the previous run must not stop
    // this one before it starts.
    abortEvent_.Reset();
    {
        // Under way from here, so that an abort right after the start is not lost.
        std::lock_guard lock(runMutex_);
        runActive_ = true;
    }
    uploadRunning_ = true;
    uploadThread_ = std::jthread([this, sink] {
        RunUpload(sink);
        uploadRunning_ = false;
    });
    return kOk;
}

bool CUploadCore::IsUploadRunning() const {
    return uploadRunning_.load();
}

Status CUploadCore::AbortUpload() {
    abortEvent_.Set();
    for (int poll = 0; poll < kAbortPolls && IsUploadRunning(); ++poll) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (IsUploadRunning()) {
        // The record under way holds the line for up to its reply timeout; waking its
        // waits lets the worker notice the abort now instead. Only a run still under way
        // is interrupted: one that has ended has already cleared its interrupt, and a late
        // one would cut short whatever conversation comes next.
        std::lock_guard lock(runMutex_);
        if (runActive_) {
            link_.InterruptWaits();
        }
    } else {
        JoinUploadThread();
    }
    return kOk;
}

void CUploadCore::SetLogPath(const std::string& path) {
    logPath_ = path;
}

Status CUploadCore::RunUpload(IMessageSink* sink) {
    const auto post = [sink](std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) {
        if (sink != nullptr) {
            sink->Post(message, wParam, lParam);
        }
    };
    const auto postText = [&post](std::uint32_t message, const char* text) {
        post(message, 0, reinterpret_cast<std::intptr_t>(text));
    };
    {
        std::lock_guard lock(runMutex_);
        runActive_ = true;
    }
    // An interrupt or an abort ends with the run that it cut short; the next conversation
    // (a new detection, another upload) starts with its waits intact. Done before the last
    // message, which lets the front end start that conversation at once.
    const auto endRun = [&] {
        {
            std::lock_guard lock(runMutex_);
            runActive_ = false;
            if (!ShuttingDown()) {
                link_.ResumeWaits();
                abortEvent_.Reset();
            }
        }
        post(kMsgSequenceEnded, 0, 0);
    };
    const auto abortEnding = [&] {
        postText(kMsgError, texts::kAborted);
        endRun();
        return kOk;
    };
    const auto failureEnding = [&] {
        post(kMsgEnableBack, 0, 0);
        if (!slowMode_) {
            SwitchBaudRate(kSlowBaud, nullptr);
        }
        postText(kMsgStatus, texts::kTransferFailed);
        endRun();
        return kOk;
    };

    Lines lines;
    post(kMsgTransferStarted, 0, 0);

    Status result = RunModule(true, flashModuleName, lines, nullptr);
    if (result == kSoftOutcome) {
        return abortEnding();
    }
    if (result != kOk) {
        postText(kMsgError, texts::kFlashModuleFailed);
        endRun();
        return kOk;
    }

    if (!slowMode_) {
        SwitchBaudRate(kFastBaud, sink);
    }

    result = RunModule(true, packageFirmware.product, lines, sink);
    if (result == kSoftOutcome) {
        return abortEnding();
    }
    if (result != kOk) {
        postText(kMsgError, texts::kImageFailed);
        return failureEnding();
    }
    postText(kMsgStatus, texts::kCheckingCrc);

    result = RunModule(true, crcModuleName, lines, nullptr);
    if (result == kSoftOutcome) {
        return abortEnding();
    }
    if (result != kOk) {
        postText(kMsgError, texts::kCrcModuleFailed);
        return failureEnding();
    }
    if (lines.empty()) {
        postText(kMsgError, texts::kCrcNoReply);
        return failureEnding();
    }
    if (lines.front() == "-") {
        postText(kMsgError, texts::kCrcFailed);
        return failureEnding();
    }

    if (LaunchFirmware() != kOk) {
        postText(kMsgError, texts::kLaunchFailed);
        return failureEnding();
    }

    link_.OpenLog(logPath_);
    postText(kMsgStatus, texts::kInitializing);

    const std::uint32_t byteTimeout = packageFirmware.timeStamp > 0
                                          ? static_cast<std::uint32_t>(packageFirmware.timeStamp)
                                          : kDefaultStartupByteTimeoutMs;
    CStartupWatcher watcher;
    const Status watched = watcher.Watch(
        [this](std::uint8_t& byte, std::uint32_t timeoutMs) {
            return ShuttingDown() ? kEAbort : link_.ReadByte(byte, timeoutMs);
        },
        byteTimeout, CStartupWatcher::TotalLimit(byteTimeout));
    if (watched != kOk) {
        return failureEnding();
    }
    post(kMsgProgress, 100, 100);
    post(kMsgEnableBack, 0, 0);
    link_.OpenLog("");
    postText(kMsgStatus, texts::kTransferSucceeded);
    endRun();
    return kOk;
}

} // namespace quillon
