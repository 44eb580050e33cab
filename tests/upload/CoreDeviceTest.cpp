// The controller core against the simulated device over a pseudo-terminal: the bootloader
// commands, module transfer and identification as the wizard and the command line use them.

#include "package/RecordHeader.h"
#include "platform/PseudoTerminal.h"
#include "resources/EmbeddedResources.h"
#include "tests/package/TestPackages.h"
#include "tests/support/DeviceScenarios.h"
#include "tests/support/Polling.h"
#include "tools/devsim/CDeviceSimulator.h"
#include "upload/CMessageQueue.h"
#include "upload/CUploadCore.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <thread>

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::NeverPoweredUp;

// Utility package record numbers of the shipped layout.
constexpr int kFirstBaudRequest = 20;
constexpr int kBrdIdModFirstData = 39; // module 0: BrdIDMod for Tovrin
constexpr std::uint16_t kModuleStartCode = kModuleStartRecord & kCodeMask;

std::vector<CMessageQueue::Message> Drain(CMessageQueue& queue) {
    std::vector<CMessageQueue::Message> messages;
    while (auto message = queue.Take(0ms)) {
        messages.push_back(*message);
    }
    return messages;
}

class CoreDeviceTest : public ::testing::Test {
protected:
    void StartDevice(DevSimScenario scenario = {}) {
        scenario.pacing = false;
        device_ = std::make_unique<CDeviceSimulator>(scenario);
        ASSERT_EQ(device_->Start(), kOk);
        core_ = std::make_unique<CUploadCore>();
        core_->LoadPackages(EmbeddedResources::UtilityPackage(),
                            EmbeddedResources::FirmwareImage());
        ASSERT_FALSE(core_->CollectActivationBlocks());
        core_->SetActivationSeed(7);
        ASSERT_EQ(core_->OpenPort(device_->SlavePath()), kOk);
    }

    void Activate() {
        ASSERT_EQ(core_->ActivateBootloader(50, nullptr, false), kOk);
        ASSERT_TRUE(device_->WaitForActivation(5s));
    }

    std::vector<DevSimReceivedRecord> RecordsOfType(std::uint16_t type) const {
        std::vector<DevSimReceivedRecord> found;
        for (const auto& record : device_->ReceivedRecords()) {
            if (record.type == type) {
                found.push_back(record);
            }
        }
        return found;
    }

    // The core must go before the device, so that its link sees a live line to the end.
    std::unique_ptr<CDeviceSimulator> device_;
    std::unique_ptr<CUploadCore> core_;
};

TEST_F(CoreDeviceTest, ActivationChoosesEveryBlockAndGivesUpAfterItsAttempts) {
    StartDevice(NeverPoweredUp());
    std::set<int> chosen;
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        core_->SetActivationSeed(seed);
        const std::size_t before = RecordsOfType(kActivationBlock).size();
        EXPECT_EQ(core_->ActivateBootloader(25, nullptr, false), kEFail);
        ASSERT_TRUE(device_->WaitForRecordCount(before + 25, 5s));
        const auto blocks = RecordsOfType(kActivationBlock);
        EXPECT_EQ(blocks.size(), before + 25);
        for (const auto& record : blocks) {
            chosen.insert(record.record.index);
        }
    }
    EXPECT_EQ(chosen, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(CoreDeviceTest, ActivationAnswersAndNotifiesOnce) {
    DevSimScenario scenario;
    scenario.powerUpDelay = 300ms;
    StartDevice(scenario);
    CMessageQueue queue;
    ASSERT_EQ(core_->ActivateBootloader(-1, &queue, false), kOk);
    const auto messages = Drain(queue);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].number, kMsgBootloaderActivated);
    // Blocks sent during the power-up delay went unanswered first.
    EXPECT_GE(RecordsOfType(kActivationBlock).size(), 2u);
}

TEST_F(CoreDeviceTest, StopRequestEndsActivationWorker) {
    StartDevice(NeverPoweredUp());
    CMessageQueue queue;
    core_->StartActivationWorker(&queue, false);
    ASSERT_TRUE(device_->WaitForRecordCount(3, 5s));
    EXPECT_TRUE(core_->StopActivationWorker(101));
    EXPECT_FALSE(core_->IsActivationWorkerRunning());
    EXPECT_FALSE(queue.Take(0ms).has_value());
}

TEST_F(CoreDeviceTest, StopRightAfterStartIsNotForgotten) {
    StartDevice();
    for (int round = 0; round < 20; ++round) {
        core_->StartActivationWorker(nullptr, true);
        EXPECT_TRUE(core_->StopActivationWorker(501));
        EXPECT_FALSE(core_->IsActivationWorkerRunning());
    }
}

TEST_F(CoreDeviceTest, KeepAliveNeverReturnsUntilStopped) {
    StartDevice();
    core_->StartActivationWorker(nullptr, true);
    // Several answered cycles go by without the loop ending.
    ASSERT_TRUE(
        device_->WaitFor([](const DevSimState& s) { return s.activationsAnswered >= 3; }, 10s));
    EXPECT_TRUE(core_->IsActivationWorkerRunning());
    EXPECT_TRUE(core_->StopActivationWorker(501));
}

// The device falls silent for good at the information request or in the board
// identification module, and the core is destroyed while it is being identified.
class CoreIdentificationShutdownTest : public CoreDeviceTest,
                                       public ::testing::WithParamInterface<int> {};

TEST_P(CoreIdentificationShutdownTest, TheDestructorEndsTheIdentificationAtOnce) {
    DevSimScenario scenario;
    scenario.faults.push_back(
        {DevSimFault::Kind::Silent, {DevSimPackage::Utility, GetParam()}, -1, 0});
    StartDevice(scenario);
    Activate();
    CMessageQueue queue;
    core_->StartIdentificationWorker(&queue, 1);
    ASSERT_TRUE(device_->WaitFor([](const DevSimState& s) { return s.deadSilent; }, 10s));
    EXPECT_TRUE(core_->IsIdentificationWorkerRunning());

    const auto start = std::chrono::steady_clock::now();
    core_.reset();
    // Waiting out the silent sends would take tens of seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(queue.Take(0ms).has_value());
}

INSTANTIATE_TEST_SUITE_P(Silent, CoreIdentificationShutdownTest,
                         ::testing::Values(10, kBrdIdModFirstData),
                         [](const ::testing::TestParamInfo<int>& record) {
                             return record.param == 10 ? "AtTheInformationRequest"
                                                       : "InTheBoardIdentification";
                         });

TEST_F(CoreDeviceTest, InformationQuerySendsOneRequestPerList) {
    StartDevice();
    Activate();
    CUploadCore::Lines bootloader;
    CUploadCore::Lines firmware;
    ASSERT_EQ(core_->QueryDeviceInfo(bootloader, firmware), kOk);
    EXPECT_EQ(bootloader,
              (CUploadCore::Lines{"VERS:1.1.1", "PROD:Tovrin", "BILD:Nov 12 2007 09:41:17"}));
    EXPECT_EQ(firmware,
              (CUploadCore::Lines{"VERS:1.4.2", "PROD:KOLM", "BILD:Feb 03 2006 14:22:05"}));
    const auto requests = RecordsOfType(kInformationRequest);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].parameter, 0u);
    EXPECT_EQ(requests[1].parameter, 1u);
}

TEST_F(CoreDeviceTest, BaudSwitchToUnknownRateLeavesTheLineAlone) {
    StartDevice();
    Activate();
    const std::size_t before = device_->ReceivedRecords().size();
    EXPECT_EQ(core_->SwitchBaudRate(9600, nullptr), kSoftOutcome);
    EXPECT_EQ(core_->Link().GetBaudRate(), 19200);
    EXPECT_EQ(device_->ReceivedRecords().size(), before);
}

TEST_F(CoreDeviceTest, BaudSwitchMovesBothEndsAndReactivates) {
    StartDevice();
    Activate();
    CMessageQueue queue;
    ASSERT_EQ(core_->SwitchBaudRate(115200, &queue), kOk);
    EXPECT_EQ(core_->Link().GetBaudRate(), 115200);
    EXPECT_EQ(device_->Snapshot().baudChanges, (std::vector<std::uint32_t>{115200}));
    const auto request = RecordsOfType(kBaudRateRequest);
    ASSERT_EQ(request.size(), 1u);
    EXPECT_EQ(request[0].record.index, kFirstBaudRequest + 9);
    const auto messages = Drain(queue);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].number, kMsgBootloaderActivated);
}

TEST_F(CoreDeviceTest, LaunchIsAccepted) {
    StartDevice();
    Activate();
    EXPECT_EQ(core_->LaunchFirmware(), kOk);
    EXPECT_TRUE(device_->WaitFor([](const DevSimState& s) { return s.launched; }, 5s));
}

TEST_F(CoreDeviceTest, ExchangeRecordResendsRefusalsAndGivesUpAfterEight) {
    DevSimScenario scenario;
    scenario.faults.push_back(
        {DevSimFault::Kind::Refuse, {DevSimPackage::Utility, kBrdIdModFirstData}, 3, 0});
    scenario.faults.push_back(
        {DevSimFault::Kind::Refuse, {DevSimPackage::Utility, kBrdIdModFirstData + 1}, 8, 0});
    StartDevice(scenario);
    Activate();
    CUploadCore::Lines lines;
    std::int32_t redirect = -1;
    EXPECT_EQ(core_->ExchangeRecord(kBrdIdModFirstData, lines, redirect), kOk);
    EXPECT_EQ(redirect, 0);
    EXPECT_EQ(core_->ExchangeRecord(kBrdIdModFirstData + 1, lines, redirect), kEFail);
    const auto records = device_->ReceivedRecords();
    const auto sends = std::count_if(records.begin(), records.end(), [](const auto& r) {
        return r.record.package == DevSimPackage::Utility &&
               r.record.index == kBrdIdModFirstData + 1;
    });
    EXPECT_EQ(sends, 8);
}

TEST_F(CoreDeviceTest, ExchangeRecordReportsRedirectAsDifferenceOfCodes) {
    DevSimScenario scenario;
    scenario.faults.push_back({DevSimFault::Kind::Redirect,
                               {DevSimPackage::Utility, kBrdIdModFirstData},
                               1,
                               static_cast<std::uint16_t>(kModuleStartCode + 2)});
    StartDevice(scenario);
    Activate();
    CUploadCore::Lines lines;
    std::int32_t redirect = 0;
    EXPECT_EQ(core_->ExchangeRecord(kBrdIdModFirstData, lines, redirect), kSoftOutcome);
    EXPECT_EQ(redirect, 2);
}

TEST_F(CoreDeviceTest, ExchangeRecordTimesOutOnSilence) {
    DevSimScenario scenario;
    scenario.faults.push_back(
        {DevSimFault::Kind::Silent, {DevSimPackage::Utility, kBrdIdModFirstData}, 8, 0});
    StartDevice(scenario);
    Activate();
    CUploadCore::Lines lines;
    std::int32_t redirect = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(core_->ExchangeRecord(kBrdIdModFirstData, lines, redirect), kWaitTimeout);
    // Eight sends, each waiting a full second for its reply word.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 7900ms);
}

TEST_F(CoreDeviceTest, RunModuleAllowsThreeAttemptsPerRecord) {
    DevSimScenario scenario;
    // 16 refusals use up two attempts; the third succeeds.
    scenario.faults.push_back(
        {DevSimFault::Kind::Refuse, {DevSimPackage::Utility, kBrdIdModFirstData}, 16, 0});
    StartDevice(scenario);
    Activate();
    CUploadCore::Lines lines;
    core_->deviceBootloader.SetText("1.0.10");
    core_->deviceBootloader.product = "Tovrin";
    EXPECT_EQ(core_->RunModule(true, "BrdIDMod", lines, nullptr), kOk);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "303431375933352A");
}

TEST_F(CoreDeviceTest, RunModuleFailsAfterTwentyFourRefusals) {
    DevSimScenario scenario;
    scenario.faults.push_back(
        {DevSimFault::Kind::Refuse, {DevSimPackage::Utility, kBrdIdModFirstData}, -1, 0});
    StartDevice(scenario);
    Activate();
    CUploadCore::Lines lines;
    core_->deviceBootloader.SetText("1.0.10");
    core_->deviceBootloader.product = "Tovrin";
    EXPECT_EQ(core_->RunModule(true, "BrdIDMod", lines, nullptr), kEFail);
    const auto records = device_->ReceivedRecords();
    EXPECT_EQ(std::count_if(records.begin(), records.end(),
                            [](const auto& r) { return r.record.index == kBrdIdModFirstData; }),
              24);
}

TEST_F(CoreDeviceTest, RunModuleWithoutExecuteSendsNothing) {
    StartDevice();
    CUploadCore::Lines lines;
    EXPECT_EQ(core_->RunModule(false, "KOLM", lines, nullptr), kOk);
    EXPECT_EQ(core_->RunModule(false, "NoSuchModule", lines, nullptr), kEFail);
    EXPECT_TRUE(device_->ReceivedRecords().empty());
}

class CoreImageTest : public CoreDeviceTest {
protected:
    // Brings the device to the point where it takes image records: activated,
    // identified, flash programming module loaded, line at the fast rate.
    void PrepareForImage(DevSimScenario scenario = {}) {
        StartDevice(scenario);
        Activate();
        core_->IdentifyDevice();
        CUploadCore::Lines lines;
        ASSERT_EQ(core_->RunModule(true, core_->flashModuleName, lines, nullptr), kOk);
        // At the slow rate the image alone holds the line for a minute.
        ASSERT_EQ(core_->SwitchBaudRate(115200, nullptr), kOk);
    }
};

TEST_F(CoreImageTest, ImageTransferReportsProgressForEveryRecord) {
    PrepareForImage();
    CMessageQueue queue;
    CUploadCore::Lines lines;
    ASSERT_EQ(core_->RunModule(true, "KOLM", lines, &queue), kOk);
    const auto messages = Drain(queue);
    ASSERT_EQ(messages.size(), 57u);
    for (std::size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].number, kMsgProgress);
        EXPECT_EQ(messages[i].wParam, static_cast<std::intptr_t>(i));
        EXPECT_EQ(messages[i].lParam, 57);
    }
    EXPECT_TRUE(device_->HoldsCompleteImage());
}

TEST_F(CoreImageTest, RedirectInsideModuleSkipsAhead) {
    DevSimScenario scenario;
    // Asked for record 3 in answer to record 1: records 1 and 2 count as done.
    scenario.faults.push_back({DevSimFault::Kind::Redirect, {DevSimPackage::Image, 1}, 1, 3});
    PrepareForImage(scenario);
    CMessageQueue queue;
    CUploadCore::Lines lines;
    ASSERT_EQ(core_->RunModule(true, "KOLM", lines, &queue), kOk);
    const auto messages = Drain(queue);
    ASSERT_EQ(messages.size(), 56u);
    EXPECT_EQ(messages[0].wParam, 1); // the record before the one asked for
    EXPECT_EQ(messages[1].wParam, 2);
    std::vector<int> imageRecords;
    for (const auto& record : device_->ReceivedRecords()) {
        if (record.record.package == DevSimPackage::Image) {
            imageRecords.push_back(record.record.index);
        }
    }
    ASSERT_GE(imageRecords.size(), 2u);
    EXPECT_EQ(imageRecords[0], 1);
    EXPECT_EQ(imageRecords[1], 3);
}

TEST_F(CoreImageTest, RedirectOutsideModuleFailsAfterThreeAttempts) {
    DevSimScenario scenario;
    scenario.faults.push_back(
        {DevSimFault::Kind::Redirect, {DevSimPackage::Image, 1}, -1, kActivationBlock});
    PrepareForImage(scenario);
    CUploadCore::Lines lines;
    EXPECT_EQ(core_->RunModule(true, "KOLM", lines, nullptr), kSoftOutcome);
    const auto records = device_->ReceivedRecords();
    EXPECT_EQ(std::count_if(records.begin(), records.end(),
                            [](const auto& r) {
                                return r.record.package == DevSimPackage::Image &&
                                       r.record.index == 1;
                            }),
              3);
}

TEST_F(CoreImageTest, AbortTakesEffectBeforeTheNextRecord) {
    DevSimScenario scenario;
    scenario.programmingTime = 20ms;
    PrepareForImage(scenario);
    CUploadCore::Lines lines;
    Status result = kOk;
    std::jthread transfer([&] { result = core_->RunModule(true, "KOLM", lines, nullptr); });
    ASSERT_TRUE(
        device_->WaitFor([](const DevSimState& s) { return s.imageRecordsProgrammed >= 3; }, 10s));
    core_->AbortUpload();
    transfer.join();
    EXPECT_EQ(result, kSoftOutcome);
    // The record under way was finished; nothing was sent after it.
    const std::size_t sent = device_->Snapshot().imageRecordsProgrammed;
    EXPECT_LT(sent, 57u);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(device_->Snapshot().imageRecordsProgrammed, sent);
}

TEST_F(CoreDeviceTest, IdentificationReadsVersionsBoardAndVariantNames) {
    StartDevice();
    Activate();
    core_->IdentifyDevice();
    EXPECT_EQ(core_->boardTypeId, "0;4;1;7;Y;3;5");
    EXPECT_EQ(core_->flashModuleName, "FlashMod5");
    EXPECT_EQ(core_->crcModuleName, "FwCRCMod5");
    EXPECT_EQ(core_->deviceBootloader.text, "1.1.1");
    EXPECT_EQ(core_->deviceBootloader.product, "Tovrin");
    EXPECT_EQ(core_->deviceFirmware.text, "1.4.2");
    EXPECT_EQ(core_->deviceFirmware.product, "KOLM");
    EXPECT_EQ(core_->deviceFirmware.buildStamp, "Feb 03 2006 14:22:05");
}

TEST_F(CoreDeviceTest, IdentificationOfBoardWithoutVariantKeepsPlainNames) {
    DevSimScenario scenario;
    scenario.boardTypeId = "0;4;1;7;Y;3;N";
    scenario.firmwarePresent = false;
    StartDevice(scenario);
    Activate();
    core_->IdentifyDevice();
    EXPECT_EQ(core_->boardTypeId, "0;4;1;7;Y;3;N");
    EXPECT_EQ(core_->flashModuleName, "FlashMod");
    EXPECT_EQ(core_->crcModuleName, "FwCRCMod");
    EXPECT_EQ(core_->deviceFirmware.text, "Unavailable");
    EXPECT_EQ(core_->deviceFirmware.major, -1);
}

TEST_F(CoreDeviceTest, IdentificationWithoutSuitableBoardModuleIsUnavailable) {
    DevSimScenario scenario;
    scenario.bootloaderProduct = "Orvel"; // no module of the package is made for it
    StartDevice(scenario);
    Activate();
    core_->IdentifyDevice();
    EXPECT_EQ(core_->boardTypeId, "Unavailable");
    EXPECT_EQ(core_->flashModuleName, "FlashMod");
}

// An abort with no upload under way (the user closed as the run ended) is not left behind
// for the next conversation to find.
TEST_F(CoreDeviceTest, AbortWithoutARunLeavesTheIdentificationAlone) {
    StartDevice();
    Activate();
    EXPECT_EQ(core_->AbortUpload(), kOk);
    core_->IdentifyDevice();
    EXPECT_EQ(core_->boardTypeId, "0;4;1;7;Y;3;5");
    EXPECT_FALSE(core_->Link().WaitsInterrupted());
}

TEST_F(CoreDeviceTest, ResetDeviceDataForgetsTheLastDevice) {
    StartDevice();
    Activate();
    core_->IdentifyDevice();
    core_->ResetDeviceData();
    EXPECT_EQ(core_->boardTypeId, "");
    EXPECT_EQ(core_->deviceBootloader.text, "");
    EXPECT_EQ(core_->deviceBootloader.orderKey, -1);
    EXPECT_EQ(core_->deviceFirmware.product, "");
}

// A device written by hand on the raw pseudo-terminal, for replies the simulator would
// never split or garble on purpose.
class ActivationReplyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pty_.Open(), 0);
        core_.LoadPackages(EmbeddedResources::UtilityPackage(), EmbeddedResources::FirmwareImage());
        ASSERT_FALSE(core_.CollectActivationBlocks());
        ASSERT_EQ(core_.OpenPort(pty_.SlavePath()), kOk);
    }

    // Waits for one whole activation block from the host.
    bool ReceiveBlock() {
        std::uint8_t block[32];
        return pty_.ReadExactly(block, sizeof block, 10000) == sizeof block;
    }

    void Reply(std::initializer_list<std::uint8_t> bytes) {
        const std::vector<std::uint8_t> data(bytes);
        ASSERT_EQ(pty_.Write(data.data(), data.size()), static_cast<ssize_t>(data.size()));
    }

    PseudoTerminal pty_;
    CUploadCore core_;
};

TEST_F(ActivationReplyTest, LoneBytesOfTwoCyclesAreJudgedTogether) {
    Status result = kEFail;
    std::jthread host([&] { result = core_.ActivateBootloader(10, nullptr, false); });
    ASSERT_TRUE(ReceiveBlock());
    Reply({':'});
    ASSERT_TRUE(ReceiveBlock());
    Reply({0});
    host.join();
    EXPECT_EQ(result, kOk);
}

TEST_F(ActivationReplyTest, GarbageIsPurgedBeforeTheNextBlock) {
    Status result = kEFail;
    std::jthread host([&] { result = core_.ActivateBootloader(-1, nullptr, false); });
    ASSERT_TRUE(ReceiveBlock());
    Reply({'x', 'y', 'z'});
    // Keep answering wrongly until the garbage has surely been seen, then correctly.
    ASSERT_TRUE(ReceiveBlock());
    Reply({'!', 0});
    ASSERT_TRUE(ReceiveBlock());
    ASSERT_TRUE(ReceiveBlock());
    Reply({':', 0});
    host.join();
    EXPECT_EQ(result, kOk);
    EXPECT_EQ(core_.Link().AvailableBytes(), 0u);
}

// Replies the simulator does not make: a device written by hand on the raw master side.
// Every burst of bytes from the host (followed by a pause) counts as one request and is
// answered as the case says.
enum class RawReply : std::uint8_t {
    BabbleShortLines,  // the echo, then short lines for ever
    BabbleLongLines,   // the echo, then 200-byte lines for ever
    BabbleEndlessLine, // the echo, then text without any zero byte
    SilentAndAbort     // nothing; the host's waits are interrupted as the request arrives
};

enum class RawConversation : std::uint8_t { Information, BoardModule };

struct RawFault {
    const char* name;
    RawConversation conversation;
    RawReply reply;
    Status expected;
};

void PrintTo(const RawFault& fault, std::ostream* out) {
    *out << fault.name;
}

class RawDeviceTest : public ::testing::TestWithParam<RawFault> {
protected:
    void SetUp() override {
        ASSERT_EQ(pty_.Open(), 0);
        core_.LoadPackages(EmbeddedResources::UtilityPackage(), EmbeddedResources::FirmwareImage());
        ASSERT_FALSE(core_.CollectActivationBlocks());
        ASSERT_EQ(core_.OpenPort(pty_.SlavePath()), kOk);
        core_.deviceBootloader.SetText("1.0.10");
        core_.deviceBootloader.product = "Tovrin";
    }

    // The bytes a reply starts with: the information request's echo, or the board module
    // record's acceptance word and its full type.
    std::vector<std::uint8_t> Echo(RawConversation conversation) {
        if (conversation == RawConversation::Information) {
            return {0x3A, 0x02};
        }
        RecordHeader header{};
        EXPECT_TRUE(core_.UtilityPackage().ReadHeader(kBrdIdModFirstData, header));
        const auto accepted = static_cast<std::uint16_t>(header.type & ~kReplyFlag);
        return {static_cast<std::uint8_t>(accepted >> 8), static_cast<std::uint8_t>(accepted),
                static_cast<std::uint8_t>(header.type >> 8),
                static_cast<std::uint8_t>(header.type)};
    }

    void StartDevice(RawReply reply, std::vector<std::uint8_t> echo) {
        device_ = std::jthread([this, reply, echo](std::stop_token stop) {
            std::string babble;
            if (reply == RawReply::BabbleShortLines) {
                babble = std::string("VERS:9.9.9\0", 11);
            } else if (reply == RawReply::BabbleLongLines) {
                babble = std::string(200, 'L') + '\0';
            } else {
                babble = std::string(256, 'E');
            }
            std::string chunk;
            while (chunk.size() < 1024) {
                chunk += babble;
            }
            bool inRequest = false;
            bool babbling = false;
            std::uint8_t buffer[4096];
            while (!stop.stop_requested()) {
                const ssize_t got = pty_.Read(buffer, sizeof buffer, babbling ? 1 : 10);
                if (got > 0) {
                    inRequest = true;
                    continue;
                }
                if (inRequest) {
                    inRequest = false;
                    ++requests_;
                    if (reply == RawReply::SilentAndAbort) {
                        core_.Link().InterruptWaits();
                    } else {
                        pty_.Write(echo.data(), echo.size(), 100);
                        babbling = true;
                    }
                }
                if (babbling) {
                    pty_.Write(chunk.data(), chunk.size(), 100);
                }
            }
        });
    }

    PseudoTerminal pty_;
    CUploadCore core_;
    std::atomic<int> requests_{0};
    std::jthread device_; // declared last: stopped first, before the core and the line go
};

TEST_P(RawDeviceTest, EndsAfterOneSendWithTheDocumentedOutcome) {
    const RawFault& fault = GetParam();
    StartDevice(fault.reply, Echo(fault.conversation));
    const auto start = std::chrono::steady_clock::now();
    Status result = kOk;
    CUploadCore::Lines bootloader{"stale"};
    CUploadCore::Lines firmware{"stale"};
    CUploadCore::Lines lines;
    if (fault.conversation == RawConversation::Information) {
        result = core_.QueryDeviceInfo(bootloader, firmware);
    } else {
        result = core_.RunModule(true, "BrdIDMod", lines, nullptr);
    }
    // The bound of a babbling reply is 16 KiB at the line rate (8.5 s at 19200 baud); a
    // pseudo-terminal delivers it at once, and an interrupt ends the wait at once.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_EQ(result, fault.expected);
    if (fault.conversation == RawConversation::Information) {
        EXPECT_TRUE(bootloader.empty());
        EXPECT_TRUE(firmware.empty());
    }
    EXPECT_TRUE(lines.empty());
    // No request is sent again: into a babble its reply word would be read from the noise,
    // and after an abort nothing more may reach the device.
    ASSERT_TRUE(testing::WaitUntil([&] { return requests_.load() >= 1; }));
    EXPECT_FALSE(testing::WaitUntil([&] { return requests_.load() > 1; }, 500ms));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RawDeviceTest,
    ::testing::Values(RawFault{"InformationBabblesShortLines", RawConversation::Information,
                               RawReply::BabbleShortLines, kErrorMoreData},
                      RawFault{"InformationBabblesLongLines", RawConversation::Information,
                               RawReply::BabbleLongLines, kErrorMoreData},
                      RawFault{"InformationBabblesOneEndlessLine", RawConversation::Information,
                               RawReply::BabbleEndlessLine, kErrorMoreData},
                      RawFault{"InformationSilentAndAborted", RawConversation::Information,
                               RawReply::SilentAndAbort, kEAbort},
                      RawFault{"BoardModuleBabblesShortLines", RawConversation::BoardModule,
                               RawReply::BabbleShortLines, kErrorMoreData},
                      RawFault{"BoardModuleBabblesLongLines", RawConversation::BoardModule,
                               RawReply::BabbleLongLines, kErrorMoreData},
                      RawFault{"BoardModuleBabblesOneEndlessLine", RawConversation::BoardModule,
                               RawReply::BabbleEndlessLine, kErrorMoreData},
                      RawFault{"BoardModuleSilentAndAborted", RawConversation::BoardModule,
                               RawReply::SilentAndAbort, kSoftOutcome}),
    [](const ::testing::TestParamInfo<RawFault>& param) { return std::string(param.param.name); });

// A device that accepts every record (its reply words are a steady stream of zero bytes)
// and stops reading the line after the first 64 KiB, in the middle of the third of four
// 40 KiB image records. A pseudo-terminal's queue holds about 20 KiB and every send starts
// by purging it, so records larger than that are what fill it: the driver stops taking
// bytes, and the transfer ends as a failure at the write's bound instead of waiting for
// ever.
TEST_F(RawDeviceTest, LineThatStopsTakingBytesMidImageFailsTheTransfer) {
    constexpr std::uint16_t kBlocks = 1280; // 40 KiB
    constexpr int kRecords = 4;
    test::Bytes image;
    test::AppendDescriptor(image, kModuleDescriptor,
                           {"VERS:1.4.6", "PROD:KOLM", "TGTY:*", "TIME:1000"}, kRecords);
    for (int r = 0; r < kRecords; ++r) {
        const test::Bytes payload(kBlocks * kBlockSize, static_cast<std::uint8_t>(0x11 * (r + 1)));
        test::AppendRecord(image, static_cast<std::uint16_t>(0x4001 + r), kBlocks, 0, 10000,
                           payload);
    }
    CUploadCore core;
    core.LoadPackages(EmbeddedResources::UtilityPackage(), image);
    core_.ClosePort();
    ASSERT_EQ(core.OpenPort(pty_.SlavePath()), kOk);

    std::atomic<std::size_t> taken{0};
    device_ = std::jthread([this, &taken](std::stop_token stop) {
        const std::uint8_t zeros[2] = {0, 0};
        std::uint8_t buffer[4096];
        while (!stop.stop_requested()) {
            if (taken.load() < 64 * 1024) {
                const ssize_t got = pty_.Read(buffer, sizeof buffer, 5);
                taken += got > 0 ? static_cast<std::size_t>(got) : 0;
            } else {
                std::this_thread::sleep_for(5ms);
            }
            pty_.Write(zeros, sizeof zeros, 5);
        }
    });
    // A fast line keeps the line time of the records short (0.45 s each).
    ASSERT_EQ(core.Link().ConfigureLine(921600, 8, kParityNone, kStopBitsOne), kOk);
    const auto start = std::chrono::steady_clock::now();
    CUploadCore::Lines lines;
    EXPECT_EQ(core.RunModule(true, "KOLM", lines, nullptr), kErrorTimeout);
    const auto took = std::chrono::steady_clock::now() - start;
    // The stalled write waits its line time plus the margin, once: no resend.
    EXPECT_GE(took, std::chrono::milliseconds(CFWUplSerialEx::kWriteMarginMs));
    EXPECT_LT(took, 60s);
    device_.request_stop();
    device_.join();
    EXPECT_GE(taken.load(), 64u * 1024);
    core.ClosePort();
}

} // namespace
} // namespace quillon
