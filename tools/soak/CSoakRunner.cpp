#include "tools/soak/CSoakRunner.h"

#include "package/RecordHeader.h"
#include "package/VersionDescriptor.h"
#include "tools/devsim/CDeviceSimulator.h"
#include "upload/BoardMatching.h"
#include "upload/CMessageQueue.h"
#include "upload/CUploadCore.h"
#include "upload/CompatibilityDecision.h"
#include "upload/UploadTexts.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A run whose sequence has not ended this long after its bound is called hung (and the
// core's destructor then cuts its waits short).
constexpr auto kHangMargin = 60s;
// Nothing reaches the device for this long while a conversation is under way: the
// engine is stuck in a wait the protocol does not bound (a reply that never ends, a write
// the line never takes). The longest wait the protocol allows between two sends is one
// information reply byte, 5 s.
constexpr auto kStallLimit = 20s;
// Bytes the engine may read since the last record before the soak pulls the line to
// protect its own memory. An engine that keeps to its reply bound stops reading a
// babbling answer after kReplyMaxBytes (the start-up watch after its 1 MiB) and then
// either sends again (which ends the babble) or ends the conversation. What the device
// puts on the line is no measure: the unpaced simulator may go on babbling, much faster
// than the engine reads, after the engine has stopped reading or closed the line, so
// only what the engine took counts. An engine stuck reading a babble without end passes
// this limit, or else the stall limit, as no record reaches the device meanwhile.
constexpr std::size_t kBabbleLimit = 256 * static_cast<std::size_t>(SoakTimeBound::kReplyMaxBytes);

// Message texts are compared by content: each translation unit may hold its own copy of
// a text's characters (a sanitizer build does not merge them), so their addresses differ.
bool Same(const char* text, const char* expected) {
    return text != nullptr && std::strcmp(text, expected) == 0;
}

SoakOutcome OutcomeOfError(const char* text) {
    if (Same(text, texts::kAborted)) {
        return SoakOutcome::Aborted;
    }
    if (Same(text, texts::kFlashModuleFailed)) {
        return SoakOutcome::FlashFailed;
    }
    if (Same(text, texts::kImageFailed)) {
        return SoakOutcome::ImageFailed;
    }
    if (Same(text, texts::kCrcModuleFailed)) {
        return SoakOutcome::CrcModuleFailed;
    }
    if (Same(text, texts::kCrcNoReply)) {
        return SoakOutcome::CrcNoReply;
    }
    if (Same(text, texts::kCrcFailed)) {
        return SoakOutcome::CrcFailed;
    }
    return SoakOutcome::LaunchFailed;
}

} // namespace

const char* ToString(SoakOutcome outcome) {
    switch (outcome) {
    case SoakOutcome::Success:
        return "success";
    case SoakOutcome::PortFailed:
        return "port did not open";
    case SoakOutcome::NotActivated:
        return "bootloader not activated";
    case SoakOutcome::Refused:
        return "refused by the compatibility check";
    case SoakOutcome::Aborted:
        return "aborted";
    case SoakOutcome::FlashFailed:
        return "flash module failed [1]";
    case SoakOutcome::ImageFailed:
        return "firmware image failed";
    case SoakOutcome::CrcModuleFailed:
        return "CRC module failed [2]";
    case SoakOutcome::CrcNoReply:
        return "CRC module gave no reply [3]";
    case SoakOutcome::CrcFailed:
        return "CRC check failed";
    case SoakOutcome::LaunchFailed:
        return "launch failed";
    case SoakOutcome::NoStartup:
        return "no start-up message";
    case SoakOutcome::Hung:
        return "HUNG";
    }
    return "?";
}

CSoakRunner::CSoakRunner(SoakPackages packages) : packages_(std::move(packages)) {
    if (!Usable()) {
        return;
    }
    utility_.Attach(packages_.utility.data(), packages_.utility.size());
    utility_.BuildIndex();
    image_.Attach(packages_.image.data(), packages_.image.size());
    image_.BuildIndex();

    activationBlocks_ = RecordsOfType(kActivationBlock);
    std::optional<std::uint32_t> lastList;
    RecordHeader header{};
    for (int n : RecordsOfType(kInformationRequest)) {
        utility_.ReadHeader(n, header);
        if (header.parameter != lastList) {
            informationRequests_.push_back(n);
            lastList = header.parameter;
        }
    }
    for (int n : RecordsOfType(kBaudRateRequest)) {
        utility_.ReadHeader(n, header);
        if (header.parameter == 115200 && fastBaudRequest_ < 0) {
            fastBaudRequest_ = n;
        }
        if (header.parameter == 19200 && slowBaudRequest_ < 0) {
            slowBaudRequest_ = n;
        }
    }
    const std::vector<int> launches = RecordsOfType(kLaunchRequest);
    launchRequest_ = launches.empty() ? -1 : launches.front();

    // The modules the default simulated device is given: its bootloader and board decide.
    const DevSimScenario device;
    VersionDescriptor bootloader;
    bootloader.SetText(device.bootloaderVersion);
    bootloader.product = device.bootloaderProduct;
    const ModuleNames names = ModuleVariantNames(device.boardTypeId);
    const auto locate = [&](const std::string& name) -> ModuleRecords {
        const auto found = FindSuitableModule(name, bootloader, utility_, image_);
        if (!found) {
            return {};
        }
        return Module(*found->package, found->descriptorIndex);
    };
    boardIdModule_ = locate("BrdIDMod");
    flashModule_ = locate(names.flash);
    crcModule_ = locate(names.crc);
    imageModule_ = Module(image_, 0);
}

std::vector<int> CSoakRunner::RecordsOfType(std::uint16_t type) {
    std::vector<int> found;
    RecordHeader header{};
    for (int n = 0; n < utility_.GetRecordCount(); ++n) {
        if (utility_.ReadHeader(n, header) && header.type == type) {
            found.push_back(n);
        }
    }
    return found;
}

CSoakRunner::ModuleRecords CSoakRunner::Module(CEncImageFile& package, int descriptor) {
    ModuleRecords module;
    VersionDescriptor found;
    if (package.FindModuleDescriptor(descriptor, found) != descriptor) {
        return module;
    }
    module.descriptor = descriptor;
    for (int k = 1; k <= found.recordCount; ++k) {
        module.data.push_back(descriptor + k);
    }
    return module;
}

SoakRunPlan CSoakRunner::Plan(int number, std::mt19937_64& random) const {
    const auto chance = [&](double p) {
        return std::uniform_real_distribution<>(0, 1)(random) < p;
    };
    const auto between = [&](int low, int high) {
        return std::uniform_int_distribution<>(low, high)(random);
    };
    const auto pick = [&](const std::vector<int>& from) {
        return from.empty()
                   ? -1
                   : from[static_cast<std::size_t>(between(0, static_cast<int>(from.size()) - 1))];
    };

    SoakRunPlan plan;
    plan.number = number;
    DevSimScenario& s = plan.scenario;
    // As fast as the protocol lets it be: no line pacing, no device delays.
    s.pacing = false;
    s.seed = random();
    plan.activationSeed = static_cast<std::uint32_t>(random());
    plan.slowMode = chance(0.10);
    std::string& words = plan.faults;
    const auto note = [&words](const std::string& text) {
        words += (words.empty() ? "" : ", ") + text;
    };
    if (plan.slowMode) {
        note("slow mode");
    }
    if (chance(0.25)) {
        s.powerUpDelay = std::chrono::milliseconds(between(50, 400));
        note("power-up delay " + std::to_string(s.powerUpDelay.count()) + " ms");
    }
    if (chance(0.15)) {
        s.powerUpGarbage = static_cast<std::size_t>(between(1, 64));
        note("power-up garbage");
    }
    if (chance(0.05)) {
        s.printStartup = false;
        note("no start-up text");
    }
    if (chance(0.03)) {
        s.crcVerdict = DevSimCrcVerdict::Bad;
        note("bad CRC");
    } else if (chance(0.03)) {
        s.crcVerdict = DevSimCrcVerdict::NoLine;
        note("CRC without a line");
    }
    if (chance(0.20)) {
        std::uniform_real_distribution<> rate(0.0, 0.02);
        s.dropProbability = rate(random);
        s.corruptProbability = rate(random);
        s.garbageProbability = rate(random);
        s.echoProbability = rate(random);
        note("line noise");
    }
    const auto replyMode = [&]() {
        return chance(0.5) ? DevSimReplyMode::Silent : DevSimReplyMode::Babble;
    };
    if (chance(0.03)) {
        s.informationReply = replyMode();
        note("information request " + ToString(s.informationReply));
        if (s.informationReply == DevSimReplyMode::Babble) {
            plan.babblingSends +=
                static_cast<int>(informationRequests_.size()) * SoakTimeBound::kSendsPerRecord;
        }
    }
    if (chance(0.03)) {
        s.boardIdReply = replyMode();
        note("board ID module " + ToString(s.boardIdReply));
        if (s.boardIdReply == DevSimReplyMode::Babble) {
            plan.babblingSends += static_cast<int>(boardIdModule_.data.size()) *
                                  SoakTimeBound::kSendsPerRecord *
                                  SoakTimeBound::kAttemptsPerModuleRecord;
        }
    }
    if (chance(0.04)) {
        s.ignoreBaudChange = true;
        note("speed change not followed");
    }
    if (chance(0.06)) {
        // Tied to an arrival rather than a record: whatever the engine happens to send
        // then, activation blocks included.
        DevSimFault fault;
        fault.kind = chance(0.5) ? DevSimFault::Kind::CorruptWord : DevSimFault::Kind::Echo;
        fault.nth = static_cast<std::size_t>(between(1, 60));
        fault.code = std::vector<std::uint16_t>{0x8000, 0x0001, 0x4000, 0x00FF,
                                                0x8001}[static_cast<std::size_t>(between(0, 4))];
        s.faults.push_back(fault);
        note(ToString(fault.kind) + " at arrival " + std::to_string(fault.nth));
    }

    // Faults on single records of every phase. Silence costs real reply timeouts (one
    // second per send, five for an information request), so it is drawn no more often
    // than the other kinds.
    const int faults = std::discrete_distribution<>({25, 40, 25, 10})(random);
    for (int f = 0; f < faults; ++f) {
        DevSimFault fault;
        std::string phase;
        DevSimRecordRef ref{DevSimPackage::Utility, -1};
        const ModuleRecords* module = nullptr;
        switch (between(0, 7)) {
        case 0:
            phase = "activation";
            ref.index = pick(activationBlocks_);
            break;
        case 1:
            phase = "information";
            ref.index = pick(informationRequests_);
            break;
        case 2:
            phase = "board ID";
            module = &boardIdModule_;
            break;
        case 3:
            phase = "flash module";
            module = &flashModule_;
            break;
        case 4:
            phase = "baud switch";
            ref.index = chance(0.8) ? fastBaudRequest_ : slowBaudRequest_;
            break;
        case 5:
            phase = "image";
            module = &imageModule_;
            ref.package = DevSimPackage::Image;
            break;
        case 6:
            phase = "CRC module";
            module = &crcModule_;
            break;
        default:
            phase = "launch";
            ref.index = launchRequest_;
            break;
        }
        int ordinal = 0;
        if (module != nullptr) {
            ordinal = between(0, static_cast<int>(module->data.size()) - 1);
            ref.index = module->data.empty() ? -1 : module->data[static_cast<std::size_t>(ordinal)];
        }
        if (ref.index < 0) {
            continue;
        }
        fault.record = ref;
        const int kind = std::discrete_distribution<>({36, 16, 36, 3, 4, 5, 3, 8, 6})(random);
        switch (kind) {
        case 0:
            fault.kind = DevSimFault::Kind::Refuse;
            fault.times = between(1, 10); // past 8 the exchange fails, past 24 the record
            break;
        case 1: {
            fault.kind = DevSimFault::Kind::Redirect;
            fault.times = between(1, 3);
            const int offset =
                std::vector<int>{-2, -1, 1, 2, 40}[static_cast<std::size_t>(between(0, 4))];
            const int code = (ref.package == DevSimPackage::Image ? ref.index : 0x3A05) + offset;
            fault.code = static_cast<std::uint16_t>(code & kCodeMask);
            if (module != nullptr && offset < 0 && ordinal + offset >= 1) {
                plan.backwardRedirects += (1 - offset) * fault.times;
            }
            break;
        }
        case 2:
            fault.kind = DevSimFault::Kind::Silent;
            fault.times = between(1, 3);
            break;
        case 3:
            fault.kind = DevSimFault::Kind::Silent;
            fault.times = -1; // the device falls silent for good
            break;
        case 4:
            fault.kind = DevSimFault::Kind::HangUp;
            break;
        case 5:
            fault.kind = DevSimFault::Kind::Babble;
            fault.times = between(1, 3);
            plan.babblingSends += fault.times;
            break;
        case 6:
            fault.kind = DevSimFault::Kind::StopReading;
            plan.stopsReading = true;
            break;
        case 7:
            fault.kind = DevSimFault::Kind::CorruptWord;
            fault.times = between(1, 3);
            fault.code = chance(0.5) ? 0x8000 : static_cast<std::uint16_t>(between(1, 0xFFFF));
            break;
        default:
            fault.kind = DevSimFault::Kind::Echo;
            fault.times = between(1, 3);
            break;
        }
        s.faults.push_back(fault);
        const bool once =
            fault.kind == DevSimFault::Kind::HangUp || fault.kind == DevSimFault::Kind::StopReading;
        note(ToString(fault.kind) +
             (once              ? ""
              : fault.times < 0 ? " for good"
                                : " x" + std::to_string(fault.times)) +
             " at " + phase + " (" + ToString(ref) + ")");
    }

    if (chance(0.08)) {
        plan.abortAfter = std::chrono::milliseconds(between(0, 3000));
        note("abort after " + std::to_string(plan.abortAfter->count()) + " ms");
    }
    if (words.empty()) {
        words = "no faults";
    }
    return plan;
}

SoakTimeBound CSoakRunner::Bound(const SoakRunPlan& plan) {
    using B = SoakTimeBound;
    SoakTimeBound bound;
    const auto module = [&](CEncImageFile& package, const ModuleRecords& m, int extra) {
        return m.descriptor < 0 ? 0.0 : B::ModuleMs(package, m.descriptor, extra);
    };
    const auto packageOf = [&](const ModuleRecords& m) -> CEncImageFile& {
        return &m == &imageModule_ ? image_ : utility_;
    };
    const double lists = static_cast<double>(std::max<std::size_t>(informationRequests_.size(), 1));
    // Backward redirects are charged to every module: the plan does not say which one
    // will meet them first.
    const int extra = plan.backwardRedirects;
    bound.phases = {
        {"set-up and tear-down", B::kSetupMs},
        {"activation (" + std::to_string(kActivationAttempts) + " attempts)",
         B::ActivationMs(kActivationAttempts)},
        {"device information", lists * B::kSendsPerRecord * B::SendMs(32, B::kInfoReplyTimeoutMs)},
        {"board ID module", module(packageOf(boardIdModule_), boardIdModule_, extra)},
        {"flash module", module(packageOf(flashModule_), flashModule_, extra)},
        {"switch to 115200 baud", fastBaudRequest_ < 0
                                      ? 0.0
                                      : B::ExchangeMs(utility_, fastBaudRequest_) +
                                            B::ActivationMs(B::kActivationAttemptsAfterSwitch)},
        {"firmware image (" + std::to_string(imageModule_.data.size()) + " records)",
         module(image_, imageModule_, extra)},
        {"CRC module", module(packageOf(crcModule_), crcModule_, extra)},
        {"launch", launchRequest_ < 0 ? 0.0 : B::ExchangeMs(utility_, launchRequest_)},
        {"start-up message", packages_.startupTimeoutMs + B::LineMs(512, B::kSlowBaud)},
        {"babbling replies (" + std::to_string(plan.babblingSends) + " sends)",
         plan.babblingSends * B::LineMs(B::kReplyMaxBytes, B::kSlowBaud)},
        // Once the device stops reading, every later send stalls its write: at most the
        // rest of one module's sends, the switch back and its activation.
        {"writes into a line that takes nothing",
         plan.stopsReading ? (B::kSendsPerRecord * (B::kAttemptsPerModuleRecord + 1) +
                              B::kActivationAttemptsAfterSwitch) *
                                 B::kWriteMarginMs
                           : 0.0},
        {"switch back to 19200 baud", slowBaudRequest_ < 0
                                          ? 0.0
                                          : B::ExchangeMs(utility_, slowBaudRequest_) +
                                                B::ActivationMs(B::kActivationAttemptsAfterSwitch)},
    };
    return bound;
}

SoakRunResult CSoakRunner::Run(const SoakRunPlan& plan) {
    SoakRunResult result;
    result.boundMs = Bound(plan).TotalMs();
    const auto started = Clock::now();

    CDeviceSimulator device(plan.scenario, packages_.utility, packages_.image);
    if (device.Start() != kOk) {
        result.outcome = SoakOutcome::PortFailed;
        result.detail = "the simulator did not start";
        result.milliseconds = MillisecondsSince(started);
        return result;
    }
    // The watchdog: when no record reaches the device for kStallLimit, the engine reads
    // kBabbleLimit bytes without sending a record, or the run passes its bound by
    // kHangMargin, it pulls the line (as a user pulls the adapter), which ends any wait of
    // the engine, and the run is reported as hung. It reads the engine's count through
    // `engine`, which is cleared (under its lock) before the core goes.
    auto core = std::make_unique<CUploadCore>();
    std::mutex engineMutex;
    CUploadCore* engine = core.get();
    // Nothing once the core is going: it reads no more.
    const auto engineRead = [&engineMutex, &engine]() -> std::optional<std::uint64_t> {
        std::lock_guard lock(engineMutex);
        if (engine == nullptr) {
            return std::nullopt;
        }
        return engine->Link().BytesTaken();
    };
    std::atomic<bool> stalled{false};
    const auto hardDeadline =
        started + std::chrono::milliseconds(static_cast<long>(result.boundMs)) + kHangMargin;
    std::jthread watchdog([&device, &stalled, &engineRead,
                           hardDeadline](const std::stop_token& stop) {
        std::size_t seen = 0;
        std::uint64_t readThen = 0;
        auto lastRecord = Clock::now();
        while (!stop.stop_requested()) {
            std::size_t count = 0;
            device.WaitFor(
                [&count, seen](const DevSimState& state) {
                    // Bytes the device could not make out (sent at the wrong rate, or
                    // noise) show the engine at work as well as records do.
                    count = state.records.size() + state.wrongRateBytes + state.unrecognisedBytes;
                    return count != seen || !state.running;
                },
                200ms);
            const auto now = Clock::now();
            const std::uint64_t read = engineRead().value_or(readThen);
            if (count != seen) {
                seen = count;
                readThen = read;
                lastRecord = now;
            } else if (now - lastRecord > kStallLimit || read - readThen > kBabbleLimit ||
                       now > hardDeadline) {
                stalled = true;
                device.HangUp();
                return;
            }
        }
    });
    {
        CMessageQueue queue;
        core->LoadPackages(packages_.utility, packages_.image);
        core->SetSlowMode(plan.slowMode);
        core->SetActivationSeed(plan.activationSeed);
        core->CollectActivationBlocks();
        if (core->OpenPort(device.SlavePath()) != kOk) {
            result.outcome = SoakOutcome::PortFailed;
        } else if (core->ActivateBootloader(kActivationAttempts, nullptr, false) != kOk) {
            result.outcome = SoakOutcome::NotActivated;
        } else {
            core->IdentifyDevice();
            const CompatibilityResult decision = AssessCompatibility(*core);
            if (decision.outcome == CompatibilityOutcome::Refuse) {
                result.outcome = SoakOutcome::Refused;
                result.detail = decision.message.substr(0, decision.message.find('\n'));
            } else {
                core->StartUpload(&queue);
                const auto uploadStarted = Clock::now();
                const auto deadline = started +
                                      std::chrono::milliseconds(static_cast<long>(result.boundMs)) +
                                      kHangMargin;
                // (A plain flag beside the time: an optional time point here trips g++'s
                // uninitialised-use warning.)
                bool abortPending = plan.abortAfter.has_value();
                const Clock::time_point abortAt =
                    uploadStarted + plan.abortAfter.value_or(std::chrono::milliseconds(0));
                std::optional<SoakOutcome> error;
                bool succeeded = false;
                bool ended = false;
                while (!ended) {
                    const auto now = Clock::now();
                    if (now >= deadline) {
                        break;
                    }
                    if (abortPending && now >= abortAt) {
                        abortPending = false;
                        result.aborted = true;
                        core->AbortUpload();
                        continue;
                    }
                    const auto until = abortPending ? std::min(abortAt, deadline) : deadline;
                    const auto message = queue.Take(
                        std::chrono::duration_cast<std::chrono::milliseconds>(until - now) + 1ms);
                    if (!message) {
                        continue;
                    }
                    switch (message->number) {
                    case kMsgError:
                        if (!error) {
                            error = OutcomeOfError(MessageText(message->lParam));
                        }
                        break;
                    case kMsgStatus:
                        succeeded = Same(MessageText(message->lParam), texts::kTransferSucceeded);
                        break;
                    case kMsgSequenceEnded:
                        ended = true;
                        break;
                    default:
                        break;
                    }
                }
                if (!ended) {
                    result.outcome = SoakOutcome::Hung;
                } else if (succeeded && !error) {
                    result.outcome = SoakOutcome::Success;
                } else {
                    result.outcome = error.value_or(SoakOutcome::NoStartup);
                }
            }
        }
        if (result.outcome == SoakOutcome::Hung) {
            // Free whatever the upload thread still waits on before the core joins it.
            device.HangUp();
        }
        {
            std::lock_guard lock(engineMutex);
            engine = nullptr;
        }
        core.reset(); // joins the workers and closes the port
    }
    watchdog.request_stop();
    watchdog.join();
    if (stalled) {
        result.outcome = SoakOutcome::Hung;
        result.stalled = true;
        result.detail = "stuck in a wait without a bound: the line was pulled after " +
                        std::to_string(static_cast<int>(MillisecondsSince(started) / 1000)) + " s";
    }
    device.Stop();
    const DevSimState state = device.Snapshot();
    result.deviceHoldsImage = state.holdsCompleteImage;
    result.startupPrinted = state.startupPrinted;
    result.milliseconds = MillisecondsSince(started);
    return result;
}

} // namespace quillon
