// The upload sequence (RunUpload) against the simulated device over a pseudo-terminal:
// what it reports and in which order, what reaches the device, the session log, slow
// mode, every kind of device fault in every phase, and aborts.
//
// Most cases use a small firmware image of the same make as the shipped one (same
// product, version and target boards, a few short records), so a whole transfer takes a
// fraction of a second even at 19200 baud; one case sends the shipped image.

#include "package/RecordHeader.h"
#include "resources/EmbeddedResources.h"
#include "tests/package/TestPackages.h"
#include "tests/support/DeviceScenarios.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/TestText.h"
#include "tools/devsim/CDeviceSimulator.h"
#include "upload/CMessageQueue.h"
#include "upload/CUploadCore.h"
#include "upload/CompatibilityDecision.h"
#include "upload/UploadTexts.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Message = CMessageQueue::Message;
using Clock = std::chrono::steady_clock;
using testing::kLogHeader;
using testing::ReadText;
using testing::StartsWithPattern;

// Utility package record numbers of the shipped layout (quillon-devsim --list-records).
constexpr int kBaudRequest19200 = 20;
constexpr int kBaudRequest115200 = 29;
constexpr int kLaunchRequest = 32;
constexpr int kFlashMod5First = 63; // the flash module of the default board (variant 5)
constexpr int kFwCrcMod5First = 79;
constexpr int kFwCrcMod5Second = 80;

constexpr int kSmallImageRecords = 5;
constexpr int kStartupByteTimeoutMs = 1500;

// The shared small image, by default with kSmallImageRecords records.
test::Bytes SmallImage(int records = kSmallImageRecords, int timeMs = kStartupByteTimeoutMs) {
    return testing::SmallImage(records, timeMs);
}

DevSimRecordRef Utility(int index) {
    return {DevSimPackage::Utility, index};
}
DevSimRecordRef Image(int index) {
    return {DevSimPackage::Image, index};
}

DevSimFault Fault(DevSimFault::Kind kind, DevSimRecordRef record, int times = -1,
                  std::uint16_t code = 0) {
    return {kind, record, times, code};
}

std::vector<Message> Drain(CMessageQueue& queue) {
    std::vector<Message> messages;
    while (auto message = queue.Take(0ms)) {
        messages.push_back(*message);
    }
    return messages;
}

// The texts of the error (2028) or status (2029) messages, in order.
std::vector<std::string> Texts(const std::vector<Message>& messages, std::uint32_t number) {
    std::vector<std::string> texts;
    for (const Message& message : messages) {
        if (message.number == number) {
            texts.emplace_back(MessageText(message.lParam));
        }
    }
    return texts;
}

// Message numbers in order, without the bootloader's answer after the speed change.
std::vector<std::uint32_t> Numbers(const std::vector<Message>& messages) {
    std::vector<std::uint32_t> numbers;
    for (const Message& message : messages) {
        if (message.number != kMsgBootloaderActivated) {
            numbers.push_back(message.number);
        }
    }
    return numbers;
}

bool Has(const std::vector<Message>& messages, std::uint32_t number) {
    return std::any_of(messages.begin(), messages.end(),
                       [number](const Message& m) { return m.number == number; });
}

class UploadSequenceTest : public ::testing::Test {
protected:
    // Starts the device, loads the same packages into the core, opens the port, activates
    // the bootloader and identifies the device: the state the upload page starts from.
    void Prepare(DevSimScenario scenario = {}, test::Bytes image = SmallImage()) {
        image_ = std::move(image);
        scenario.pacing = false;
        const auto utility = EmbeddedResources::UtilityPackage();
        device_ = std::make_unique<CDeviceSimulator>(scenario, utility, image_);
        ASSERT_EQ(device_->Start(), kOk);
        core_ = std::make_unique<CUploadCore>();
        core_->LoadPackages(utility, image_);
        ASSERT_FALSE(core_->CollectActivationBlocks());
        core_->SetActivationSeed(11);
        ASSERT_EQ(core_->OpenPort(device_->SlavePath()), kOk);
        ASSERT_EQ(core_->ActivateBootloader(200, nullptr, false), kOk);
        core_->IdentifyDevice();
        ASSERT_EQ(AssessCompatibility(*core_).outcome, CompatibilityOutcome::Accept);
        ASSERT_EQ(core_->flashModuleName, "FlashMod5");
        recordsBeforeUpload_ = device_->ReceivedRecords().size();
    }

    std::vector<Message> Run() {
        EXPECT_EQ(core_->RunUpload(&queue_), kOk);
        return Drain(queue_);
    }

    // Starts the upload on its thread and collects every message up to the last one.
    void Start() { ASSERT_EQ(core_->StartUpload(&queue_), kOk); }
    std::vector<Message> CollectUntilEnd(std::chrono::seconds limit = 120s) {
        std::vector<Message> messages;
        const auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            if (auto message = queue_.Take(100ms)) {
                messages.push_back(*message);
                if (message->number == kMsgSequenceEnded) {
                    return messages;
                }
            }
        }
        ADD_FAILURE() << "the sequence did not end";
        return messages;
    }

    // What the device received since the upload began.
    std::vector<DevSimReceivedRecord> UploadRecords() const {
        auto records = device_->ReceivedRecords();
        records.erase(records.begin(),
                      records.begin() + static_cast<std::ptrdiff_t>(recordsBeforeUpload_));
        return records;
    }
    std::size_t CountOf(DevSimRecordRef ref) const {
        const auto records = UploadRecords();
        return static_cast<std::size_t>(std::count_if(
            records.begin(), records.end(), [&](const auto& r) { return r.record == ref; }));
    }
    std::size_t CountOfType(std::uint16_t type) const {
        const auto records = UploadRecords();
        return static_cast<std::size_t>(std::count_if(
            records.begin(), records.end(), [&](const auto& r) { return r.type == type; }));
    }
    std::size_t ImageRecordsReceived() const {
        const auto records = UploadRecords();
        return static_cast<std::size_t>(
            std::count_if(records.begin(), records.end(),
                          [](const auto& r) { return r.record.package == DevSimPackage::Image; }));
    }
    bool WaitForRecord(DevSimRecordRef ref, std::chrono::milliseconds timeout = 30s) {
        return device_->WaitFor(
            [ref](const DevSimState& s) {
                return std::any_of(s.records.begin(), s.records.end(),
                                   [ref](const auto& r) { return r.record == ref; });
            },
            timeout);
    }

    // Declared in this order so that the core goes first (its link sees a live line to
    // the end) and the image it reads in place goes last.
    test::Bytes image_;
    std::unique_ptr<CDeviceSimulator> device_;
    CMessageQueue queue_;
    std::unique_ptr<CUploadCore> core_;
    std::size_t recordsBeforeUpload_ = 0;
};

TEST_F(UploadSequenceTest, SuccessReportsStartProgressStatusesAndEndsLast) {
    Prepare();
    const auto messages = Run();

    const std::vector<std::uint32_t> expected = {
        kMsgTransferStarted, kMsgProgress,   kMsgProgress, kMsgProgress,
        kMsgProgress,        kMsgProgress,   kMsgStatus,   kMsgStatus,
        kMsgProgress,        kMsgEnableBack, kMsgStatus,   kMsgSequenceEnded};
    EXPECT_EQ(Numbers(messages), expected);
    std::vector<std::pair<std::intptr_t, std::intptr_t>> progress;
    for (const Message& m : messages) {
        if (m.number == kMsgProgress) {
            progress.emplace_back(m.wParam, m.lParam);
        }
    }
    EXPECT_EQ(progress, (std::vector<std::pair<std::intptr_t, std::intptr_t>>{
                            {0, 5}, {1, 5}, {2, 5}, {3, 5}, {4, 5}, {100, 100}}));
    EXPECT_EQ(Texts(messages, kMsgStatus),
              (std::vector<std::string>{texts::kCheckingCrc, texts::kInitializing,
                                        texts::kTransferSucceeded}));
    EXPECT_TRUE(Texts(messages, kMsgError).empty());

    const DevSimState state = device_->Snapshot();
    EXPECT_TRUE(state.holdsCompleteImage);
    EXPECT_FALSE(state.imageOutOfOrder);
    EXPECT_TRUE(state.startupPrinted);
    EXPECT_EQ(state.baudChanges, (std::vector<std::uint32_t>{115200}));
    EXPECT_EQ(state.loadedModules,
              (std::vector<std::string>{"BrdIDMod", "FlashMod5", "FwCRCMod5"}));
    // Every image record travelled at the fast rate, after the speed change.
    for (const auto& record : UploadRecords()) {
        if (record.record.package == DevSimPackage::Image) {
            EXPECT_EQ(record.baud, 115200u);
        }
    }
}

TEST_F(UploadSequenceTest, ShippedImageIsTransferredWholeWithProgressForEveryRecord) {
    const auto firmware = EmbeddedResources::FirmwareImage();
    Prepare({}, test::Bytes(firmware.begin(), firmware.end()));
    const auto messages = Run();
    std::vector<std::intptr_t> done;
    for (const Message& m : messages) {
        if (m.number == kMsgProgress && m.lParam == 57) {
            done.push_back(m.wParam);
        }
    }
    ASSERT_EQ(done.size(), 57u);
    for (std::size_t i = 0; i < done.size(); ++i) {
        EXPECT_EQ(done[i], static_cast<std::intptr_t>(i));
    }
    EXPECT_EQ(Texts(messages, kMsgStatus).back(), texts::kTransferSucceeded);
    EXPECT_EQ(messages.back().number, kMsgSequenceEnded);
    EXPECT_TRUE(device_->HoldsCompleteImage());
}

TEST_F(UploadSequenceTest, SlowModeNeverAsksForAnotherSpeed) {
    Prepare();
    core_->SetSlowMode(true);
    const auto messages = Run();
    EXPECT_EQ(Texts(messages, kMsgStatus).back(), texts::kTransferSucceeded);
    EXPECT_EQ(CountOfType(kBaudRateRequest), 0u);
    EXPECT_TRUE(device_->Snapshot().baudChanges.empty());
    EXPECT_EQ(core_->Link().GetBaudRate(), 19200);
    for (const auto& record : UploadRecords()) {
        EXPECT_EQ(record.baud, 19200u);
    }
    EXPECT_TRUE(device_->HoldsCompleteImage());
}

TEST_F(UploadSequenceTest, FailureAfterTheImageReturnsTheLineTo19200) {
    DevSimScenario scenario;
    scenario.crcVerdict = DevSimCrcVerdict::Bad;
    Prepare(scenario);
    const auto messages = Run();
    EXPECT_EQ(Texts(messages, kMsgError), (std::vector<std::string>{texts::kCrcFailed}));
    EXPECT_EQ(Texts(messages, kMsgStatus),
              (std::vector<std::string>{texts::kCheckingCrc, texts::kTransferFailed}));
    EXPECT_TRUE(Has(messages, kMsgEnableBack));
    EXPECT_EQ(device_->Snapshot().baudChanges, (std::vector<std::uint32_t>{115200, 19200}));
    EXPECT_EQ(CountOf(Utility(kBaudRequest19200)), 1u);
    EXPECT_EQ(core_->Link().GetBaudRate(), 19200);
    EXPECT_EQ(CountOfType(kLaunchRequest), 0u);
}

TEST_F(UploadSequenceTest, FailureInSlowModeStaysAt19200WithoutAnySpeedRequest) {
    DevSimScenario scenario;
    scenario.crcVerdict = DevSimCrcVerdict::Bad;
    Prepare(scenario);
    core_->SetSlowMode(true);
    const auto messages = Run();
    EXPECT_EQ(Texts(messages, kMsgError), (std::vector<std::string>{texts::kCrcFailed}));
    EXPECT_EQ(Texts(messages, kMsgStatus).back(), texts::kTransferFailed);
    EXPECT_EQ(CountOfType(kBaudRateRequest), 0u);
    EXPECT_TRUE(device_->Snapshot().baudChanges.empty());
}

TEST_F(UploadSequenceTest, SessionLogGetsHeaderThenEveryByteTheStartingFirmwarePrints) {
    testing::TempDirectory folder;
    const std::string path = folder.File("session.log");
    {
        std::ofstream earlier(path, std::ios::binary);
        earlier << "earlier session\r\n";
    }
    DevSimScenario scenario;
    // A real firmware takes a moment to boot; the log opens once the launch is accepted.
    scenario.startupDelay = 200ms;
    scenario.startupText = std::string("boot\0\x07ok\r\n*** Unit Initialised\r\n", 31);
    Prepare(scenario);
    core_->SetLogPath(path);
    const auto messages = Run();
    ASSERT_EQ(Texts(messages, kMsgStatus).back(), texts::kTransferSucceeded);
    EXPECT_FALSE(core_->Link().IsLogOpen());

    const std::string log = ReadText(path);
    const std::string earlier = "earlier session\r\n";
    ASSERT_TRUE(StartsWithPattern(log, earlier + kLogHeader)) << log;
    const std::string output = log.substr(earlier.size() + kLogHeader.size());
    // Everything up to the start-up message; what follows it may come after the log closed.
    const std::string expected = std::string("boot\0\x07ok\r\n*** Unit Initialised", 29);
    EXPECT_EQ(output.substr(0, expected.size()), expected);
}

TEST_F(UploadSequenceTest, RunThatFailsBeforeTheLaunchWritesNoLog) {
    testing::TempDirectory folder;
    const std::string path = folder.File("session.log");
    DevSimScenario scenario;
    scenario.crcVerdict = DevSimCrcVerdict::NoLine;
    Prepare(scenario);
    core_->SetLogPath(path);
    const auto messages = Run();
    EXPECT_EQ(Texts(messages, kMsgError), (std::vector<std::string>{texts::kCrcNoReply}));
    EXPECT_FALSE(std::ifstream(path).good());
}

TEST_F(UploadSequenceTest, UnwritableLogIsSkippedAndTheUploadGoesOn) {
    testing::TempDirectory folder;
    Prepare();
    core_->SetLogPath(folder.File("missing-folder/session.log"));
    const auto messages = Run();
    EXPECT_EQ(Texts(messages, kMsgStatus).back(), texts::kTransferSucceeded);
    EXPECT_TRUE(Texts(messages, kMsgError).empty());
}

// One device fault in one phase of the sequence, and how the sequence must end.
struct PhaseFault {
    const char* name;
    std::vector<DevSimFault> faults;
    DevSimCrcVerdict crc = DevSimCrcVerdict::Good;
    bool printStartup = true;
    std::string startupText;                // empty: the simulator's default
    std::vector<std::string> errors;        // 2028 texts, in order
    std::vector<std::string> statuses;      // 2029 texts, in order
    std::vector<std::uint32_t> baudChanges; // the device's speed changes
    bool ignoreBaudChange = false;          // acknowledges the fast rate, stays slow
};

void PrintTo(const PhaseFault& fault, std::ostream* out) {
    *out << fault.name;
}

class UploadPhaseFaultTest : public UploadSequenceTest,
                             public ::testing::WithParamInterface<PhaseFault> {};

TEST_P(UploadPhaseFaultTest, EndsWithTheTextsOfItsPhase) {
    const PhaseFault& p = GetParam();
    DevSimScenario scenario;
    scenario.faults = p.faults;
    scenario.crcVerdict = p.crc;
    scenario.printStartup = p.printStartup;
    scenario.ignoreBaudChange = p.ignoreBaudChange;
    if (!p.startupText.empty()) {
        scenario.startupText = p.startupText;
    }
    Prepare(scenario);
    Start();
    const auto all = CollectUntilEnd();

    EXPECT_EQ(Texts(all, kMsgError), p.errors);
    EXPECT_EQ(Texts(all, kMsgStatus), p.statuses);
    EXPECT_EQ(device_->Snapshot().baudChanges, p.baudChanges);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front().number, kMsgTransferStarted);
    EXPECT_EQ(all.back().number, kMsgSequenceEnded);
    if (!p.statuses.empty() && p.statuses.back() == texts::kTransferSucceeded) {
        EXPECT_TRUE(device_->HoldsCompleteImage());
    }
    // Back comes back after every ending but a failed flash module and an abort.
    const bool failedEarly = !p.errors.empty() && (p.errors.front() == texts::kFlashModuleFailed ||
                                                   p.errors.front() == texts::kAborted);
    EXPECT_EQ(Has(all, kMsgEnableBack), !failedEarly);
}

const std::vector<std::uint32_t> kFastOnly = {115200};
const std::vector<std::uint32_t> kFastAndBack = {115200, 19200};

INSTANTIATE_TEST_SUITE_P(
    Phases, UploadPhaseFaultTest,
    ::testing::Values(
        PhaseFault{"FlashModuleRefused",
                   {Fault(DevSimFault::Kind::Refuse, Utility(kFlashMod5First))},
                   DevSimCrcVerdict::Good,
                   true,
                   "",
                   {texts::kFlashModuleFailed},
                   {},
                   {}},
        PhaseFault{"FlashModuleRedirectedOutside",
                   {Fault(DevSimFault::Kind::Redirect, Utility(kFlashMod5First), -1,
                          kActivationBlock& kCodeMask)},
                   DevSimCrcVerdict::Good,
                   true,
                   "",
                   {texts::kAborted},
                   {},
                   {}},
        // A speed change the device refuses is not reported: both ends stay at 19200 and
        // the image goes through at that speed.
        PhaseFault{"SpeedChangeRefused",
                   {Fault(DevSimFault::Kind::Refuse, Utility(kBaudRequest115200))},
                   DevSimCrcVerdict::Good,
                   true,
                   "",
                   {},
                   {texts::kCheckingCrc, texts::kInitializing, texts::kTransferSucceeded},
                   {}},
        PhaseFault{"ImageRecordRefused",
                   {Fault(DevSimFault::Kind::Refuse, Image(3))},
                   DevSimCrcVerdict::Good,
                   true,
                   "",
                   {texts::kImageFailed},
                   {texts::kTransferFailed},
                   kFastAndBack},
        PhaseFault{"ImageRecordRefusedLessThanItsSends",
                   {Fault(DevSimFault::Kind::Refuse, Image(3), 7)},
                   DevSimCrcVerdict::Good,
                   true,
                   "",
                   {},
                   {texts::kCheckingCrc, texts::kInitializing, texts::kTransferSucceeded},
                   kFastOnly},
        PhaseFault{"ImageRedirectedBackwards",
                   {Fault(DevSimFault::Kind::Redirect, Image(4), 1, 0x4002 & kCodeMask)},
                   DevSimCrcVerdict::Good,
                   true,
                   "",
                   {},
                   {texts::kCheckingCrc, texts::kInitializing, texts::kTransferSucceeded},
                   kFastOnly},
        PhaseFault{"ImageRedirectedOutside",
                   {Fault(DevSimFault::Kind::Redirect, Image(2), -1, 0x4009 & kCodeMask)},
                   DevSimCrcVerdict::Good,
                   true,
                   "",
                   {texts::kAborted},
                   {},
                   kFastOnly},
        PhaseFault{"CrcModuleRefused",
                   {Fault(DevSimFault::Kind::Refuse, Utility(kFwCrcMod5First))},
                   DevSimCrcVerdict::Good,
                   true,
                   "",
                   {texts::kCrcModuleFailed},
                   {texts::kCheckingCrc, texts::kTransferFailed},
                   kFastAndBack},
        PhaseFault{"CrcVerdictDash",
                   {},
                   DevSimCrcVerdict::Bad,
                   true,
                   "",
                   {texts::kCrcFailed},
                   {texts::kCheckingCrc, texts::kTransferFailed},
                   kFastAndBack},
        PhaseFault{"CrcWithoutReplyLine",
                   {},
                   DevSimCrcVerdict::NoLine,
                   true,
                   "",
                   {texts::kCrcNoReply},
                   {texts::kCheckingCrc, texts::kTransferFailed},
                   kFastAndBack},
        PhaseFault{"LaunchRefused",
                   {Fault(DevSimFault::Kind::Refuse, Utility(kLaunchRequest))},
                   DevSimCrcVerdict::Good,
                   true,
                   "",
                   {texts::kLaunchFailed},
                   {texts::kCheckingCrc, texts::kTransferFailed},
                   kFastAndBack},
        // The started firmware no longer answers the bootloader's speed request, so the
        // line stays at the fast rate on the device's side.
        PhaseFault{"StartupSilent",
                   {},
                   DevSimCrcVerdict::Good,
                   false,
                   "",
                   {},
                   {texts::kCheckingCrc, texts::kInitializing, texts::kTransferFailed},
                   kFastOnly},
        PhaseFault{"StartupMessageWithoutItsBlank",
                   {},
                   DevSimCrcVerdict::Good,
                   true,
                   "*** Unit\r\nInitialised\r\n",
                   {},
                   {texts::kCheckingCrc, texts::kInitializing, texts::kTransferFailed},
                   kFastOnly},
        // A babbling reply ends its exchange at once, and the whole module with it: sent
        // again into the babble, the record's reply word would be read from the noise.
        PhaseFault{"FlashModuleBabbles",
                   {Fault(DevSimFault::Kind::Babble, Utility(kFlashMod5First), 1)},
                   DevSimCrcVerdict::Good,
                   true,
                   "",
                   {texts::kFlashModuleFailed},
                   {},
                   {}},
        PhaseFault{"ImageRecordBabbles",
                   {Fault(DevSimFault::Kind::Babble, Image(3), 1)},
                   DevSimCrcVerdict::Good,
                   true,
                   "",
                   {texts::kImageFailed},
                   {texts::kTransferFailed},
                   kFastAndBack},
        PhaseFault{"CrcModuleBabbles",
                   {Fault(DevSimFault::Kind::Babble, Utility(kFwCrcMod5First), 1)},
                   DevSimCrcVerdict::Good,
                   true,
                   "",
                   {texts::kCrcModuleFailed},
                   {texts::kCheckingCrc, texts::kTransferFailed},
                   kFastAndBack},
        // The line stops taking bytes: the record's write fails at its bound (line time
        // plus two seconds), and so does the speed request of the failure ending, which
        // never reaches the device.
        PhaseFault{"ImageLineStopsTakingBytes",
                   {Fault(DevSimFault::Kind::StopReading, Image(3), 1)},
                   DevSimCrcVerdict::Good,
                   true,
                   "",
                   {texts::kImageFailed},
                   {texts::kTransferFailed},
                   kFastOnly},
        // A firmware that talks without end and never prints the message: the watch ends
        // at its byte bound (1 MiB) here, at its time bound on a slower line.
        PhaseFault{"StartupBabblesWithoutTheMessage",
                   {},
                   DevSimCrcVerdict::Good,
                   true,
                   std::string((std::size_t{1} << 20) + 4096, '.'),
                   {},
                   {texts::kCheckingCrc, texts::kInitializing, texts::kTransferFailed},
                   kFastOnly},
        // The device acknowledges the fast rate but stays slow: the image records reach it
        // as noise at the wrong rate, and the transfer fails instead of hanging.
        PhaseFault{"SpeedChangeAcknowledgedButNotFollowed",
                   {},
                   DevSimCrcVerdict::Good,
                   true,
                   "",
                   {texts::kImageFailed},
                   {texts::kTransferFailed},
                   {},
                   true},
        // An acceptance that arrives as a refusal costs one more send of the record.
        PhaseFault{"ImageReplyWordCorrupted",
                   {Fault(DevSimFault::Kind::CorruptWord, Image(3), 1)},
                   DevSimCrcVerdict::Good,
                   true,
                   "",
                   {},
                   {texts::kCheckingCrc, texts::kInitializing, texts::kTransferSucceeded},
                   kFastOnly},
        // A record echoed in front of its answer: success still needs the CRC verdict and
        // the start-up message, and the device holds the whole image.
        PhaseFault{"ImageRecordEchoed",
                   {Fault(DevSimFault::Kind::Echo, Image(3), 1)},
                   DevSimCrcVerdict::Good,
                   true,
                   "",
                   {},
                   {texts::kCheckingCrc, texts::kInitializing, texts::kTransferSucceeded},
                   kFastOnly},
        PhaseFault{"StartupMessageSplitAfterItsBlank",
                   {},
                   DevSimCrcVerdict::Good,
                   true,
                   "*** Unit \r\nInitialised",
                   {},
                   {texts::kCheckingCrc, texts::kInitializing, texts::kTransferSucceeded},
                   kFastOnly}),
    [](const ::testing::TestParamInfo<PhaseFault>& param) {
        return std::string(param.param.name);
    });

TEST_F(UploadSequenceTest, SilenceCostsOneAttemptAndTheRecordIsSentAgain) {
    DevSimScenario scenario;
    scenario.faults.push_back(Fault(DevSimFault::Kind::Silent, Image(2), 8));
    Prepare(scenario);
    const auto messages = Run();
    EXPECT_EQ(Texts(messages, kMsgStatus).back(), texts::kTransferSucceeded);
    EXPECT_EQ(CountOf(Image(2)), 9u);
    EXPECT_TRUE(device_->HoldsCompleteImage());
}

TEST_F(UploadSequenceTest, LineHungUpMidImageEndsAsFailureAfterTheRetries) {
    DevSimScenario scenario;
    scenario.faults.push_back(Fault(DevSimFault::Kind::HangUp, Image(2), 1));
    Prepare(scenario);
    Start();
    const auto messages = CollectUntilEnd(180s);
    EXPECT_EQ(Texts(messages, kMsgError), (std::vector<std::string>{texts::kImageFailed}));
    EXPECT_EQ(Texts(messages, kMsgStatus), (std::vector<std::string>{texts::kTransferFailed}));
    EXPECT_TRUE(device_->Snapshot().hungUp);
}

// An abort while the device is silent: the abort waits its grace period (4 s) for the
// exchange under way, then interrupts the link's waits. The exchange ends there, without
// sending its record again (each send waits a second for its reply word, so the grace
// period sees about four of the eight), nothing else is sent, and the interrupt ends
// with the run: the link's waits work again at once.
TEST_F(UploadSequenceTest, AbortDuringASilentExchangeSendsNothingMoreAndEndsWithTheRun) {
    DevSimScenario scenario;
    scenario.faults.push_back(Fault(DevSimFault::Kind::Silent, Image(2), -1));
    Prepare(scenario);
    Start();
    ASSERT_TRUE(WaitForRecord(Image(2)));
    const auto abortAt = Clock::now();
    core_->AbortUpload();
    const auto messages = CollectUntilEnd();
    EXPECT_LT(Clock::now() - abortAt, 30s);
    EXPECT_EQ(Texts(messages, kMsgError), (std::vector<std::string>{texts::kAborted}));
    EXPECT_TRUE(Texts(messages, kMsgStatus).empty());
    EXPECT_FALSE(Has(messages, kMsgEnableBack));
    EXPECT_GE(CountOf(Image(2)), 1u);
    EXPECT_LT(CountOf(Image(2)), 8u);
    EXPECT_EQ(CountOf(Image(3)), 0u);
    EXPECT_EQ(CountOfType(kBaudRateRequest), 1u); // the fast rate only: no way back after
    EXPECT_FALSE(core_->Link().WaitsInterrupted());
    std::uint8_t byte = 0;
    EXPECT_EQ(core_->Link().ReadByte(byte, 0), kWaitTimeout);
}

// Aborts: each lands while a record of its phase is being programmed (the device takes
// its time over every completion reply), and the sequence ends before the next record.
class UploadAbortTest : public UploadSequenceTest {
protected:
    void PrepareSlowDevice(bool printStartup = true) {
        DevSimScenario scenario;
        scenario.programmingTime = 400ms;
        scenario.printStartup = printStartup;
        Prepare(scenario, SmallImage(kSmallImageRecords, 20000));
        Start();
    }
    std::vector<Message> AbortAndCollect() {
        core_->AbortUpload();
        return CollectUntilEnd();
    }
};

TEST_F(UploadAbortTest, DuringTheFlashModule) {
    PrepareSlowDevice();
    ASSERT_TRUE(WaitForRecord(Utility(kFlashMod5First)));
    const auto messages = AbortAndCollect();
    EXPECT_EQ(Texts(messages, kMsgError), (std::vector<std::string>{texts::kAborted}));
    EXPECT_TRUE(Texts(messages, kMsgStatus).empty());
    EXPECT_EQ(CountOf(Utility(kFlashMod5First + 1)), 0u);
    EXPECT_EQ(ImageRecordsReceived(), 0u);
    EXPECT_FALSE(Has(messages, kMsgEnableBack));
}

TEST_F(UploadAbortTest, DuringTheSpeedChange) {
    PrepareSlowDevice();
    ASSERT_TRUE(WaitForRecord(Utility(kBaudRequest115200)));
    const auto messages = AbortAndCollect();
    EXPECT_EQ(Texts(messages, kMsgError), (std::vector<std::string>{texts::kAborted}));
    EXPECT_TRUE(Texts(messages, kMsgStatus).empty());
    // The speed change is not interrupted; the image stops before its first record or,
    // when the abort came late, after it.
    EXPECT_LE(ImageRecordsReceived(), 1u);
    // An abort changes no speed: the line stays where it was.
    EXPECT_EQ(device_->Snapshot().baudChanges, kFastOnly);
}

TEST_F(UploadAbortTest, DuringTheImage) {
    PrepareSlowDevice();
    ASSERT_TRUE(WaitForRecord(Image(2)));
    const auto messages = AbortAndCollect();
    EXPECT_EQ(Texts(messages, kMsgError), (std::vector<std::string>{texts::kAborted}));
    EXPECT_TRUE(Texts(messages, kMsgStatus).empty());
    // The record under way was finished, nothing after it was sent.
    const std::size_t sent = ImageRecordsReceived();
    EXPECT_GE(sent, 2u);
    EXPECT_LT(sent, static_cast<std::size_t>(kSmallImageRecords));
    EXPECT_FALSE(device_->HoldsCompleteImage());
}

TEST_F(UploadAbortTest, DuringTheCrcCheck) {
    PrepareSlowDevice();
    ASSERT_TRUE(WaitForRecord(Utility(kFwCrcMod5First)));
    const auto messages = AbortAndCollect();
    EXPECT_EQ(Texts(messages, kMsgError), (std::vector<std::string>{texts::kAborted}));
    EXPECT_EQ(Texts(messages, kMsgStatus), (std::vector<std::string>{texts::kCheckingCrc}));
    EXPECT_EQ(CountOf(Utility(kFwCrcMod5Second)), 0u);
    EXPECT_EQ(CountOfType(kLaunchRequest), 0u);
}

// Once the launch is under way no record is left to refuse: a firmware that starts is
// reported as started, one that stays silent ends the wait as soon as the abort gives up
// waiting for the upload thread, long before its start-up timeout.
TEST_F(UploadAbortTest, AfterTheLaunchAFirmwareThatStartsIsReported) {
    PrepareSlowDevice();
    ASSERT_TRUE(WaitForRecord(Utility(kLaunchRequest)));
    const auto messages = AbortAndCollect();
    EXPECT_TRUE(Texts(messages, kMsgError).empty());
    EXPECT_EQ(Texts(messages, kMsgStatus).back(), texts::kTransferSucceeded);
    EXPECT_TRUE(device_->Snapshot().startupPrinted);
}

TEST_F(UploadAbortTest, WhileWaitingForASilentFirmwareEndsWithoutSuccess) {
    PrepareSlowDevice(false);
    ASSERT_TRUE(device_->WaitFor([](const DevSimState& s) { return s.launched; }, 30s));
    const auto abortAt = Clock::now();
    const auto messages = AbortAndCollect();
    EXPECT_EQ(Texts(messages, kMsgStatus).back(), texts::kTransferFailed);
    // The firmware's start-up timeout is 20 s; the abort ends the wait well before it.
    EXPECT_LT(Clock::now() - abortAt, 15s);
}

} // namespace
} // namespace quillon
