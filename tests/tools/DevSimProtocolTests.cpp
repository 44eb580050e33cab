// The device simulator as the host meets it: over the pseudo-terminal, record by record.

#include "DevSimHost.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace quillon::devsimtest {
namespace {

class DevSimTest : public ::testing::Test {
protected:
    // Without time on the line: the raw host here does not pace itself, and a whole image
    // at 19200 baud would take a minute. The tests of the line timing ask for it.
    static DevSimScenario Unpaced() {
        DevSimScenario scenario;
        scenario.pacing = false;
        return scenario;
    }
    void StartDevice(DevSimScenario scenario = Unpaced()) {
        m_device = MakeDevice(std::move(scenario));
        ASSERT_EQ(m_device->Start(), kOk);
        ASSERT_TRUE(m_host.Open(m_device->SlavePath()));
    }
    void Activate() { ASSERT_TRUE(m_host.Activate(*m_device)); }
    void LoadModule(int module, std::vector<std::string>* lines = nullptr) {
        ASSERT_EQ(m_host.Exchange(*m_device, Utility(ModuleRecord(module, 0)), lines), 0x3A05);
        ASSERT_EQ(m_host.Exchange(*m_device, Utility(ModuleRecord(module, 1)), lines), 0x0001);
    }
    void SendImage(const std::vector<int>& order) {
        for (int index : order) {
            ASSERT_EQ(m_host.Exchange(*m_device, Image(index)), index) << "image:" << index;
        }
    }
    static std::vector<int> AllImageRecords() {
        std::vector<int> order;
        for (int i = kFirstImageRecord; i < kFirstImageRecord + kImageRecordCount; ++i) {
            order.push_back(i);
        }
        return order;
    }

    std::unique_ptr<CDeviceSimulator> m_device;
    HostPort m_host;
};

TEST(DevSimPackages, TheDefaultDeviceKnowsTheEmbeddedPackages) {
    const CDeviceSimulator device;
    const CDevSimPackageIndex& packages = device.Packages();
    EXPECT_FALSE(packages.Records().empty());
    EXPECT_FALSE(packages.ImageSlots().empty());
    // Every record is recognised by its own payload, and by nothing shorter.
    for (const auto& record : packages.Records()) {
        const auto match = packages.MatchHead(record.payload);
        ASSERT_EQ(match.match, CDevSimPackageIndex::Match::Complete);
        EXPECT_EQ(match.record->ref, record.ref);
        const auto head = std::span(record.payload).first(record.payload.size() - 1);
        EXPECT_EQ(packages.MatchHead(head).match, CDevSimPackageIndex::Match::Partial);
    }
}

TEST(DevSimPackages, ModulesKnowTheirRoleAndBootloader) {
    const auto device = MakeDevice();
    const auto& modules = device->Packages().Modules();
    ASSERT_EQ(modules.size(), 12u); // 11 utility modules and the firmware image
    EXPECT_EQ(modules[kFlashMod5].name, "FlashMod5");
    EXPECT_EQ(modules[kFlashMod5].role, CDevSimPackageIndex::Role::Flash);
    ASSERT_TRUE(modules[kFlashMod5].loader.has_value());
    EXPECT_EQ(modules[kFlashMod5].loader->product, "Tovrin");
    EXPECT_EQ(modules[kFlashMod5].loader->text, "1.1.1");
    EXPECT_EQ(modules[kBrdIdMod].role, CDevSimPackageIndex::Role::BoardId);
    EXPECT_EQ(modules[kFwCrcMod5].role, CDevSimPackageIndex::Role::Crc);
    EXPECT_EQ(modules[11].role, CDevSimPackageIndex::Role::Image);
    EXPECT_EQ(modules[11].records.size(), 57u);
    EXPECT_FALSE(modules[11].loader.has_value());
    EXPECT_EQ(device->Packages().ImageDescription().text, "1.4.6");
}

TEST_F(DevSimTest, ActivationIsAnsweredOnlyAfterThePowerUpDelay) {
    DevSimScenario scenario;
    scenario.powerUpDelay = 600ms;
    const auto started = Clock::now();
    StartDevice(scenario);

    ASSERT_TRUE(m_host.Send(*m_device, Utility(3)));
    EXPECT_TRUE(m_host.Read(2, 150ms).empty());
    // Records other than activation blocks are not taken before activation either.
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kInfoRecordList0)));
    EXPECT_TRUE(m_host.Read(2, 100ms).empty());

    bool answered = false;
    Clock::time_point answeredAt;
    for (int i = 0; i < 200 && !answered; ++i) {
        ASSERT_TRUE(m_host.Send(*m_device, Utility(kActivationRecord + i % 10)));
        answered = m_host.Read(2, 50ms) == Bytes{0x3A, 0x00};
        answeredAt = Clock::now();
    }
    ASSERT_TRUE(answered);
    EXPECT_GE(answeredAt - started, 600ms);

    const DevSimState state = m_device->Snapshot();
    EXPECT_TRUE(state.bootloaderActive);
    EXPECT_EQ(state.activationsAnswered, 1u);
    ASSERT_GE(state.records.size(), 3u);
    EXPECT_TRUE(state.records[0].ignored);
    EXPECT_EQ(state.records[0].record, Utility(3));
    EXPECT_TRUE(state.records[1].ignored);
    EXPECT_FALSE(state.records.back().ignored);
}

TEST_F(DevSimTest, InformationRequestsAnswerBootloaderAndFirmwareLines) {
    StartDevice();
    // Before activation the bootloader does not listen.
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kInfoRecordList0)));
    EXPECT_TRUE(m_host.Read(2, 150ms).empty());
    Activate();

    bool complete = false;
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kInfoRecordList0 + 2)));
    EXPECT_EQ(m_host.Read(2), Word(0x3A02));
    EXPECT_EQ(m_host.ReadLines(complete),
              (std::vector<std::string>{"VERS:1.1.1", "PROD:Tovrin", "BILD:Nov 12 2007 09:41:17"}));
    EXPECT_TRUE(complete);

    ASSERT_TRUE(m_host.Send(*m_device, Utility(kInfoRecordList1)));
    EXPECT_EQ(m_host.Read(2), Word(0x3A02));
    EXPECT_EQ(m_host.ReadLines(complete),
              (std::vector<std::string>{"VERS:1.4.2", "PROD:KOLM", "BILD:Feb 03 2006 14:22:05"}));
    EXPECT_TRUE(complete);
}

TEST_F(DevSimTest, DeviceWithoutFirmwareSendsAnEmptyFirmwareList) {
    DevSimScenario scenario;
    scenario.firmwarePresent = false;
    scenario.bootloaderBuild.clear();
    StartDevice(scenario);
    Activate();

    ASSERT_TRUE(m_host.Send(*m_device, Utility(kInfoRecordList1 + 4)));
    // The type word, then the two zero bytes of a reply without lines.
    EXPECT_EQ(m_host.Read(5, 300ms), (Bytes{0x3A, 0x02, 0x00, 0x00}));

    bool complete = false;
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kInfoRecordList0)));
    EXPECT_EQ(m_host.Read(2), Word(0x3A02));
    EXPECT_EQ(m_host.ReadLines(complete), (std::vector<std::string>{"VERS:1.1.1", "PROD:Tovrin"}));
}

TEST_F(DevSimTest, BoardIdentificationModuleAnswersTheBoardIdLine) {
    StartDevice();
    Activate();
    std::vector<std::string> lines;
    LoadModule(kBrdIdMod, &lines);
    EXPECT_EQ(lines, std::vector<std::string>{"303431375933352A"});

    const DevSimState state = m_device->Snapshot();
    EXPECT_EQ(state.loadedModules, std::vector<std::string>{"BrdIDMod"});
    ASSERT_EQ(state.records.size(), 3u);
    EXPECT_EQ(state.records[1].record, Utility(ModuleRecord(kBrdIdMod, 0)));
    EXPECT_EQ(state.records[2].record, Utility(ModuleRecord(kBrdIdMod, 1)));
}

TEST_F(DevSimTest, OtherBoardIdsAreEncodedCharacterByCharacter) {
    DevSimScenario scenario;
    scenario.boardTypeId = "7;3;7;0;Y;x;N";
    StartDevice(scenario);
    Activate();
    std::vector<std::string> lines;
    LoadModule(kBrdIdMod, &lines);
    EXPECT_EQ(lines, std::vector<std::string>{"3733373059784E2A"});
}

TEST_F(DevSimTest, ModuleRecordsAreTakenOnlyInSequenceAndForThisBootloader) {
    StartDevice();
    Activate();
    // The second record of a module before its first: refused with its own code.
    EXPECT_EQ(m_host.Exchange(*m_device, Utility(ModuleRecord(kBrdIdMod, 1))), 0x8001);
    // A module made for another bootloader product (Tovrin48).
    EXPECT_EQ(m_host.Exchange(*m_device, Utility(ModuleRecord(kBrdIdMod8, 0))), 0xBA05);
    // Firmware records need the flash programming module first.
    EXPECT_EQ(m_host.Exchange(*m_device, Image(1)), 0x8001);
    EXPECT_EQ(m_device->Snapshot().imageRecordsProgrammed, 0u);
    // The first record of the module resends identically and the second follows.
    EXPECT_EQ(m_host.Exchange(*m_device, Utility(ModuleRecord(kBrdIdMod, 0))), 0x3A05);
    EXPECT_EQ(m_host.Exchange(*m_device, Utility(ModuleRecord(kBrdIdMod, 0))), 0x3A05);
    EXPECT_EQ(m_host.Exchange(*m_device, Utility(ModuleRecord(kBrdIdMod, 1))), 0x0001);
}

TEST_F(DevSimTest, TheWholeImageIsHeldAfterEveryFirmwareRecordAndTheCrcSaysSo) {
    StartDevice();
    Activate();
    LoadModule(kFlashMod5);
    EXPECT_TRUE(m_device->Snapshot().flashModuleLoaded);

    std::vector<int> order = AllImageRecords();
    // A record sent twice (a resend after a lost reply) is programmed identically.
    order.insert(order.begin() + 10, 10);
    SendImage(order);
    EXPECT_TRUE(m_device->HoldsCompleteImage());

    std::vector<std::string> lines;
    LoadModule(kFwCrcMod5, &lines);
    char expected[8];
    std::snprintf(expected, sizeof expected, "0x%04X", m_device->Packages().ImageCrc());
    EXPECT_EQ(lines, std::vector<std::string>{expected});

    const DevSimState state = m_device->Snapshot();
    EXPECT_EQ(state.imageRecordsProgrammed, 57u);
    EXPECT_EQ(state.imageRecordCount, 57u);
    EXPECT_FALSE(state.imageOutOfOrder);
    EXPECT_EQ(state.crcLines, std::vector<std::string>{expected});
}

TEST_F(DevSimTest, AGapInTheImageLeavesItIncompleteAndTheCrcBad) {
    StartDevice();
    Activate();
    LoadModule(kFlashMod5);
    std::vector<int> order = AllImageRecords();
    // Record 20 comes after 21: every record arrives, but not in order.
    std::swap(order[19], order[20]);
    SendImage(order);
    EXPECT_FALSE(m_device->HoldsCompleteImage());
    EXPECT_TRUE(m_device->Snapshot().imageOutOfOrder);

    std::vector<std::string> lines;
    LoadModule(kFwCrcMod5, &lines);
    EXPECT_EQ(lines, std::vector<std::string>{"-"});
}

TEST_F(DevSimTest, ConfiguredCrcVerdictsOverrideAGoodImage) {
    for (const auto verdict : {DevSimCrcVerdict::Bad, DevSimCrcVerdict::NoLine}) {
        DevSimScenario scenario = Unpaced();
        scenario.crcVerdict = verdict;
        m_host.Close();
        StartDevice(scenario);
        Activate();
        LoadModule(kFlashMod5);
        SendImage(AllImageRecords());
        EXPECT_TRUE(m_device->HoldsCompleteImage());
        std::vector<std::string> lines;
        LoadModule(kFwCrcMod5, &lines);
        EXPECT_EQ(lines, verdict == DevSimCrcVerdict::Bad ? std::vector<std::string>{"-"}
                                                          : std::vector<std::string>{});
    }
}

TEST_F(DevSimTest, LaunchPrintsTheStartUpTextAndThenIgnoresRecords) {
    DevSimScenario scenario;
    scenario.startupText = std::string(200, '.') + "*** Unit Initialised\r\n";
    StartDevice(scenario); // paced, and with the installed firmware
    Activate();

    const auto launched = Clock::now();
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kLaunchRecord + 1)));
    ASSERT_EQ(m_host.Read(2), Word(0x3A04));
    const Bytes text = m_host.Read(scenario.startupText.size(), 3000ms);
    // The word and 222 bytes at 19200 baud take at least 116 ms on the line.
    EXPECT_GE(Clock::now() - launched, 100ms);
    EXPECT_EQ(text, Text(scenario.startupText));
    EXPECT_TRUE(m_device->WaitForStartupText(2000ms));

    // The firmware runs: the bootloader's records go unanswered.
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kActivationRecord)));
    EXPECT_TRUE(m_host.Read(2, 200ms).empty());
    EXPECT_TRUE(m_device->Snapshot().records.back().ignored);
}

TEST_F(DevSimTest, LaunchWithAnIncompleteImageStartsNothing) {
    StartDevice();
    Activate();
    LoadModule(kFlashMod5);
    SendImage({1, 2, 3});
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kLaunchRecord)));
    ASSERT_EQ(m_host.Read(2), Word(0x3A04));
    EXPECT_TRUE(m_host.Read(1, 300ms).empty());
    EXPECT_FALSE(m_device->Snapshot().launched);
    // The bootloader is still there.
    EXPECT_TRUE(m_host.Activate(*m_device, 3));
}

TEST_F(DevSimTest, AfterAPowerCycleTheDeviceReportsTheProgrammedImage) {
    StartDevice();
    Activate();
    LoadModule(kFlashMod5);
    SendImage(AllImageRecords());
    m_device->PowerCycle();
    EXPECT_FALSE(m_device->Snapshot().bootloaderActive);
    EXPECT_TRUE(m_device->HoldsCompleteImage());
    Activate();

    bool complete = false;
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kInfoRecordList1)));
    EXPECT_EQ(m_host.Read(2), Word(0x3A02));
    EXPECT_EQ(m_host.ReadLines(complete),
              (std::vector<std::string>{"VERS:1.4.6", "PROD:KOLM", "BILD:May 15 2006 16:01:56"}));
    EXPECT_EQ(m_device->Snapshot().powerCycles, 1u);
}

TEST_F(DevSimTest, PoweredOffDeviceIgnoresEverything) {
    DevSimScenario scenario;
    scenario.poweredAtStart = false;
    StartDevice(scenario);
    EXPECT_FALSE(m_host.Activate(*m_device, 3));
    EXPECT_TRUE(m_device->Snapshot().records.empty());
    m_device->PowerOn();
    EXPECT_TRUE(m_host.Activate(*m_device, 10));
    m_device->PowerOff();
    EXPECT_FALSE(m_host.Activate(*m_device, 3));
}

TEST_F(DevSimTest, BaudRateSwitchFollowsTheHostAndWrongRatesAreUnreadable) {
    StartDevice();
    Activate();
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kBaud115200Record + 1)));
    ASSERT_EQ(m_host.Read(2), Word(0x3A03));
    // The device switches as soon as its answer has left.
    EXPECT_TRUE(m_device->WaitFor([](const DevSimState& s) { return s.baud == 115200; }, 5000ms));

    // The host still at 19200: the device cannot make out the activation block.
    EXPECT_FALSE(m_host.Activate(*m_device, 3));
    EXPECT_GE(m_device->Snapshot().wrongRateBytes, 96u);

    ASSERT_TRUE(m_host.SetBaud(115200));
    EXPECT_TRUE(m_host.Activate(*m_device, 5));

    // Back to 19200; the device answers at its old rate, and the host must follow.
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kBaud19200Record)));
    EXPECT_EQ(m_host.Read(2), Word(0x3A03));
    ASSERT_TRUE(m_host.SetBaud(19200));
    EXPECT_TRUE(m_host.Activate(*m_device, 5));

    const DevSimState state = m_device->Snapshot();
    EXPECT_EQ(state.baudChanges, (std::vector<std::uint32_t>{115200, 19200}));
    EXPECT_EQ(state.baud, 19200u);
    const auto& records = state.records;
    EXPECT_TRUE(std::any_of(records.begin(), records.end(),
                            [](const DevSimReceivedRecord& r) { return r.baud == 115200; }));
}

TEST_F(DevSimTest, AnswersSentWhileTheHostIsAtAnotherRateAreGarbage) {
    DevSimScenario scenario;
    scenario.replyLatency = 300ms;
    StartDevice(scenario);
    Activate();

    // The request goes out at the right rate; the host changes its rate before the answer.
    const std::size_t before = m_device->Snapshot().records.size();
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kInfoRecordList0)));
    ASSERT_TRUE(m_device->WaitForRecordCount(before + 1, 2000ms));
    ASSERT_TRUE(m_host.SetBaud(57600));
    const Bytes reply = m_host.ReadUntilQuiet(500ms);
    Bytes proper = Word(0x3A02);
    for (const std::string line : {"VERS:1.1.1", "PROD:Tovrin", "BILD:Nov 12 2007 09:41:17", ""}) {
        proper.insert(proper.end(), line.begin(), line.end());
        proper.push_back(0);
    }
    EXPECT_EQ(reply.size(), proper.size());
    EXPECT_NE(reply, proper);
    // The rest of the garbled answer is all the host gets: the device is still at 19200.
    EXPECT_EQ(m_device->CurrentBaud(), 19200u);
}

TEST_F(DevSimTest, RefusesARecordTheConfiguredNumberOfTimes) {
    DevSimScenario scenario;
    scenario.faults.push_back({DevSimFault::Kind::Refuse, Utility(ModuleRecord(kBrdIdMod, 0)), 2});
    StartDevice(scenario);
    Activate();
    EXPECT_EQ(m_host.Exchange(*m_device, Utility(ModuleRecord(kBrdIdMod, 0))), 0xBA05);
    EXPECT_EQ(m_host.Exchange(*m_device, Utility(ModuleRecord(kBrdIdMod, 0))), 0xBA05);
    EXPECT_EQ(m_host.Exchange(*m_device, Utility(ModuleRecord(kBrdIdMod, 0))), 0x3A05);

    const auto events = m_device->Snapshot().faultEvents;
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, DevSimFaultEvent::Kind::Refused);
}

TEST_F(DevSimTest, RedirectsAndSilencesAtTheConfiguredRecord) {
    DevSimScenario scenario = Unpaced();
    scenario.faults.push_back({DevSimFault::Kind::Redirect, Image(5), 1, 3});
    scenario.faults.push_back({DevSimFault::Kind::Silent, Image(8), 2});
    StartDevice(scenario);
    Activate();
    LoadModule(kFlashMod5);
    SendImage({1, 2, 3, 4});
    EXPECT_EQ(m_host.Exchange(*m_device, Image(5)), 0x8003);
    // The host follows the redirect back to record 3 and carries on.
    SendImage({3, 4, 5, 6, 7});
    EXPECT_EQ(m_host.Exchange(*m_device, Image(8), nullptr, 300ms), -1);
    EXPECT_EQ(m_host.Exchange(*m_device, Image(8), nullptr, 300ms), -1);
    EXPECT_EQ(m_host.Exchange(*m_device, Image(8)), 8);
    EXPECT_EQ(m_device->Snapshot().imageRecordsProgrammed, 8u);
    EXPECT_FALSE(m_device->Snapshot().imageOutOfOrder);
}

TEST_F(DevSimTest, FallingSilentForGoodEndsAllAnswers) {
    DevSimScenario scenario;
    scenario.faults.push_back({DevSimFault::Kind::Silent, Utility(kInfoRecordList0), -1});
    StartDevice(scenario);
    Activate();
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kInfoRecordList0)));
    EXPECT_TRUE(m_host.Read(2, 200ms).empty());
    EXPECT_FALSE(m_host.Activate(*m_device, 3));
    EXPECT_TRUE(m_device->Snapshot().deadSilent);
    // A power cycle brings it back.
    m_device->PowerCycle();
    EXPECT_TRUE(m_host.Activate(*m_device, 10));
}

TEST_F(DevSimTest, HangsUpAtTheConfiguredRecord) {
    DevSimScenario scenario;
    scenario.faults.push_back({DevSimFault::Kind::HangUp, Utility(ModuleRecord(kBrdIdMod, 1)), 1});
    StartDevice(scenario);
    Activate();
    EXPECT_EQ(m_host.Exchange(*m_device, Utility(ModuleRecord(kBrdIdMod, 0))), 0x3A05);
    ASSERT_TRUE(m_host.Send(*m_device, Utility(ModuleRecord(kBrdIdMod, 1))));
    EXPECT_TRUE(m_device->WaitForHangUp(5000ms));

    // The host sees the line go: poll reports a hang-up, and reading gives end of file.
    pollfd pfd{m_host.Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 2000), 1);
    EXPECT_NE(pfd.revents & POLLHUP, 0);
    std::uint8_t byte = 0;
    EXPECT_LE(::read(m_host.Fd(), &byte, 1), 0);

    EXPECT_TRUE(m_device->WaitFor([](const DevSimState& s) { return !s.running; }, 5000ms));
    const DevSimState state = m_device->Snapshot();
    EXPECT_TRUE(state.hungUp);
    ASSERT_FALSE(state.faultEvents.empty());
    EXPECT_EQ(state.faultEvents.back().kind, DevSimFaultEvent::Kind::HungUp);
    m_device->Stop(); // after a hang-up, stopping is still clean
}

// Faults that change what one record's answer looks like, each shown over the line as a
// host meets it: after the records of `prelude` (answered normally), `trigger` is sent.
enum class Seen : std::uint8_t {
    Babble,  // `head`, then text lines without end; the next record ends the babble
    Silence, // nothing at all, while activation is still answered
    Exact    // exactly `head`: the whole answer with an altered word or an echo in front
};

struct AnswerFaultCase {
    std::string name;
    std::function<void(DevSimScenario&)> configure;
    std::vector<DevSimRecordRef> prelude;
    DevSimRecordRef trigger;
    Seen seen = Seen::Exact;
    std::function<Bytes(const CDeviceSimulator&)> head;
    DevSimFaultEvent::Kind event = DevSimFaultEvent::Kind::Babbled;
};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Bytes Lines(std::initializer_list<std::string> lines) {
    Bytes out;
    for (const std::string& line : lines) {
        out.insert(out.end(), line.begin(), line.end());
        out.push_back(0);
    }
    return out;
}

Bytes PayloadOf(const CDeviceSimulator& device, const DevSimRecordRef& ref) {
    return device.Packages().Find(ref)->payload;
}

DevSimFault FaultAt(DevSimFault::Kind kind, DevSimRecordRef record, std::uint16_t code = 0) {
    DevSimFault fault;
    fault.kind = kind;
    fault.record = record;
    fault.code = code;
    return fault;
}

DevSimFault FaultAtArrival(DevSimFault::Kind kind, std::size_t nth, std::uint16_t code = 0) {
    DevSimFault fault;
    fault.kind = kind;
    fault.nth = nth;
    fault.code = code;
    return fault;
}

const Bytes kBootloaderLines = Lines({"VERS:1.1.1", "PROD:Tovrin", "BILD:Nov 12 2007 09:41:17"});
const DevSimRecordRef kBrdId0 = {DevSimPackage::Utility, ModuleRecord(kBrdIdMod, 0)};
const DevSimRecordRef kBrdId1 = {DevSimPackage::Utility, ModuleRecord(kBrdIdMod, 1)};
const DevSimRecordRef kCrc0 = {DevSimPackage::Utility, ModuleRecord(kFwCrcMod5, 0)};
const DevSimRecordRef kCrc1 = {DevSimPackage::Utility, ModuleRecord(kFwCrcMod5, 1)};
const DevSimRecordRef kInfo0 = {DevSimPackage::Utility, kInfoRecordList0};

const AnswerFaultCase kAnswerFaultCases[] = {
    {"BabblingInformationReply",
     [](DevSimScenario& s) {
         s.pacing = true; // a babbling device at 19200 baud
         s.informationReply = DevSimReplyMode::Babble;
     },
     {},
     kInfo0,
     Seen::Babble,
     [](const CDeviceSimulator&) {
         return Concat({Word(0x3A02), kBootloaderLines});
     }},
    {"BabblingCompletionOfTheCrcModule",
     [](DevSimScenario& s) { s.faults.push_back(FaultAt(DevSimFault::Kind::Babble, kCrc1)); },
     {kCrc0},
     kCrc1,
     Seen::Babble,
     [](const CDeviceSimulator&) {
         return Concat({Word(0x0001), Word(0x4001), Lines({"-"})});
     }},
    {"BabblingBoardIdentificationModule",
     [](DevSimScenario& s) { s.boardIdReply = DevSimReplyMode::Babble; },
     {},
     kBrdId0,
     Seen::Babble,
     [](const CDeviceSimulator&) {
         return Concat({Word(0x3A05), Word(0x7A05)});
     }},
    {"SilentInformationRequest",
     [](DevSimScenario& s) { s.informationReply = DevSimReplyMode::Silent; },
     {},
     kInfo0,
     Seen::Silence,
     nullptr,
     DevSimFaultEvent::Kind::Silenced},
    {"SilentBoardIdentificationModule",
     [](DevSimScenario& s) { s.boardIdReply = DevSimReplyMode::Silent; },
     {},
     kBrdId0,
     Seen::Silence,
     nullptr,
     DevSimFaultEvent::Kind::Silenced},
    {"CorruptedWordAtARecord",
     [](DevSimScenario& s) {
         s.faults.push_back(FaultAt(DevSimFault::Kind::CorruptWord, kBrdId0, 0x8000));
     },
     {},
     kBrdId0,
     Seen::Exact,
     [](const CDeviceSimulator&) {
         return Concat({Word(0xBA05), Word(0x7A05), Bytes{0, 0}});
     },
     DevSimFaultEvent::Kind::WordCorrupted},
    // Arrival 1 is the activation block the host's first try gets answered, 2 the prelude.
    {"CorruptedWordAtTheThirdArrival",
     [](DevSimScenario& s) {
         s.faults.push_back(FaultAtArrival(DevSimFault::Kind::CorruptWord, 3, 0x00FF));
     },
     {kBrdId0},
     kBrdId1,
     Seen::Exact,
     [](const CDeviceSimulator&) {
         return Concat({Word(0x00FE), Word(0x4001), Lines({"303431375933352A"}), Bytes{0}});
     },
     DevSimFaultEvent::Kind::WordCorrupted},
    {"EchoAtARecord",
     [](DevSimScenario& s) { s.faults.push_back(FaultAt(DevSimFault::Kind::Echo, kBrdId0)); },
     {},
     kBrdId0,
     Seen::Exact,
     [](const CDeviceSimulator& d) {
         return Concat({PayloadOf(d, kBrdId0), Word(0x3A05), Word(0x7A05), Bytes{0, 0}});
     },
     DevSimFaultEvent::Kind::Echoed},
    {"EchoAtTheSecondArrival",
     [](DevSimScenario& s) { s.faults.push_back(FaultAtArrival(DevSimFault::Kind::Echo, 2)); },
     {},
     kInfo0,
     Seen::Exact,
     [](const CDeviceSimulator& d) {
         return Concat({PayloadOf(d, kInfo0), Word(0x3A02), kBootloaderLines, Bytes{0}});
     },
     DevSimFaultEvent::Kind::Echoed},
};

class DevSimAnswerFaultTest : public DevSimTest,
                              public ::testing::WithParamInterface<AnswerFaultCase> {};

TEST_P(DevSimAnswerFaultTest, HappensAsConfigured) {
    const AnswerFaultCase& c = GetParam();
    DevSimScenario scenario = Unpaced();
    c.configure(scenario);
    StartDevice(scenario);
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kActivationRecord)));
    ASSERT_EQ(m_host.Read(2), (Bytes{0x3A, 0x00}));
    for (const DevSimRecordRef& ref : c.prelude) {
        ASSERT_GE(m_host.Exchange(*m_device, ref), 0) << ToString(ref);
    }
    // Everything the device sent so far has been read: its count is the host's.
    const std::size_t sentBefore = m_host.Received();
    ASSERT_TRUE(m_host.Send(*m_device, c.trigger));
    const auto struck = [&c](const DevSimState& s) {
        return std::any_of(s.faultEvents.begin(), s.faultEvents.end(),
                           [&c](const DevSimFaultEvent& e) { return e.kind == c.event; });
    };
    ASSERT_TRUE(m_device->WaitFor(struck, 10s));

    switch (c.seen) {
    case Seen::Babble: {
        const Bytes head = c.head(*m_device);
        EXPECT_EQ(m_host.Read(head.size()), head);
        bool closed = false;
        const auto lines = m_host.ReadSomeLines(200, closed);
        EXPECT_EQ(lines, std::vector<std::string>(200, "babble"));
        EXPECT_FALSE(closed);
        EXPECT_TRUE(m_device->Snapshot().babbling);
        // Still listening: the next record ends the babble and is answered.
        ASSERT_TRUE(m_host.Send(*m_device, Utility(kActivationRecord + 1)));
        ASSERT_TRUE(m_device->WaitFor(
            [](const DevSimState& s) { return s.activationsAnswered >= 2; }, 10s));
        EXPECT_FALSE(m_device->Snapshot().babbling);
        // The babble still on its way, then the answer to the activation block.
        Bytes rest;
        while (rest.size() < 2 || Bytes(rest.end() - 2, rest.end()) != Bytes{0x3A, 0x00}) {
            const Bytes more = m_host.Read(1);
            if (more.empty()) {
                break;
            }
            rest.insert(rest.end(), more.begin(), more.end());
        }
        EXPECT_EQ(std::count(rest.begin(), rest.end(), 0x3A), 1) << rest.size();
        ASSERT_GE(rest.size(), 2u);
        EXPECT_EQ(Bytes(rest.end() - 2, rest.end()), (Bytes{0x3A, 0x00}));
        break;
    }
    case Seen::Silence:
        EXPECT_EQ(m_device->Snapshot().bytesSent, sentBefore);
        // The bootloader is still there for activation blocks.
        ASSERT_TRUE(m_host.Send(*m_device, Utility(kActivationRecord + 1)));
        EXPECT_EQ(m_host.Read(2), (Bytes{0x3A, 0x00}));
        break;
    case Seen::Exact: {
        const Bytes head = c.head(*m_device);
        EXPECT_EQ(m_host.Read(head.size()), head);
        // Nothing more than that went out.
        EXPECT_TRUE(m_device->WaitFor(
            [&](const DevSimState& s) { return s.bytesSent == sentBefore + head.size(); }, 10s))
            << m_device->Snapshot().bytesSent << " sent, " << sentBefore << " + " << head.size();
        break;
    }
    }
    // Stopping in the middle of any of these works.
    m_device->Stop();
    EXPECT_FALSE(m_device->Snapshot().running);
}

INSTANTIATE_TEST_SUITE_P(Faults, DevSimAnswerFaultTest, ::testing::ValuesIn(kAnswerFaultCases),
                         [](const auto& param) { return param.param.name; });

TEST_F(DevSimTest, StopsReadingTheLineSoTheHostsWritesBlockUntilAPowerCycle) {
    DevSimScenario scenario = Unpaced();
    scenario.faults.push_back(FaultAt(DevSimFault::Kind::StopReading, kBrdId1));
    StartDevice(scenario);
    Activate();
    ASSERT_EQ(m_host.Exchange(*m_device, kBrdId0), 0x3A05);
    ASSERT_TRUE(m_host.Send(*m_device, kBrdId1));
    ASSERT_TRUE(m_device->WaitFor([](const DevSimState& s) { return s.readingStopped; }, 10s));

    // The port takes nothing more, and purging its queues does not change that.
    const Bytes& record = PayloadOf(*m_device, kBrdId0);
    EXPECT_EQ(::write(m_host.Fd(), record.data(), record.size()), -1);
    EXPECT_EQ(errno, EAGAIN);
    ASSERT_EQ(::tcflush(m_host.Fd(), TCIOFLUSH), 0);
    EXPECT_EQ(::write(m_host.Fd(), record.data(), record.size()), -1);
    pollfd out{m_host.Fd(), POLLOUT, 0};
    EXPECT_EQ(::poll(&out, 1, 300), 0);
    const DevSimState state = m_device->Snapshot();
    EXPECT_EQ(state.records.size(), 3u);
    EXPECT_EQ(state.faultEvents.back().kind, DevSimFaultEvent::Kind::StoppedReading);

    // The device thread still obeys: a power cycle lets it read again.
    m_device->PowerCycle();
    EXPECT_FALSE(m_device->Snapshot().readingStopped);
    EXPECT_TRUE(m_host.Activate(*m_device, 10));
}

TEST_F(DevSimTest, AWriteBlockedOnADeviceThatStoppedReadingEndsWhenTheLineIsPulled) {
    DevSimScenario scenario = Unpaced();
    scenario.faults.push_back(FaultAtArrival(DevSimFault::Kind::StopReading, 2));
    StartDevice(scenario);
    Activate();
    ASSERT_TRUE(m_host.Send(*m_device, kInfo0));
    ASSERT_TRUE(m_device->WaitFor([](const DevSimState& s) { return s.readingStopped; }, 10s));

    const int fd = ::open(m_device->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::atomic<bool> ended{false};
    ssize_t result = 0;
    std::jthread writer([&] {
        const Bytes& record = PayloadOf(*m_device, kBrdId0);
        result = ::write(fd, record.data(), record.size());
        ended = true;
    });
    // Still blocked once the device has had every chance to take the bytes.
    EXPECT_FALSE(
        m_device->WaitFor([](const DevSimState& s) { return s.records.size() > 2; }, 300ms));
    EXPECT_FALSE(ended);
    m_device->HangUp();
    writer.join();
    EXPECT_TRUE(ended);
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(m_device->Snapshot().hungUp);
    ::close(fd);
}

TEST_F(DevSimTest, ASpeedChangeAcknowledgedButNotFollowed) {
    DevSimScenario scenario = Unpaced();
    scenario.ignoreBaudChange = true;
    StartDevice(scenario);
    Activate();
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kBaud115200Record)));
    ASSERT_EQ(m_host.Read(2), Word(0x3A03));
    ASSERT_TRUE(m_device->WaitFor(
        [](const DevSimState& s) {
            return !s.faultEvents.empty() &&
                   s.faultEvents.back().kind == DevSimFaultEvent::Kind::BaudChangeIgnored;
        },
        10s));
    EXPECT_EQ(m_device->CurrentBaud(), 19200u);
    EXPECT_TRUE(m_device->Snapshot().baudChanges.empty());

    // The host that follows its own request no longer reaches the device.
    ASSERT_TRUE(m_host.SetBaud(115200));
    EXPECT_FALSE(m_host.Activate(*m_device, 3));
    EXPECT_GE(m_device->Snapshot().wrongRateBytes, 96u);
    ASSERT_TRUE(m_host.SetBaud(19200));
    EXPECT_TRUE(m_host.Activate(*m_device, 5));
}

// The same traffic against the same seed meets the same drops and corruptions.
struct SeededRun {
    std::vector<DevSimFaultEvent> events;
    std::vector<Bytes> replies;
    std::size_t bytesSent = 0;
    std::size_t bytesReceived = 0;
};

SeededRun RunSeeded(std::uint64_t seed) {
    DevSimScenario scenario;
    scenario.seed = seed;
    scenario.dropProbability = 0.25;
    scenario.corruptProbability = 0.25;
    const auto owned = MakeDevice(scenario);
    CDeviceSimulator& device = *owned;
    EXPECT_EQ(device.Start(), kOk);
    HostPort host;
    EXPECT_TRUE(host.Open(device.SlavePath()));
    SeededRun run;
    std::size_t received = 0;
    for (std::size_t i = 0; i < 40; ++i) {
        host.Send(device, Utility(kActivationRecord + static_cast<int>(i * 7) % 10));
        // Once the device has decided about its answer and put on the line what it sends,
        // the host takes exactly that: nothing for a dropped answer.
        std::size_t sent = 0;
        EXPECT_TRUE(device.WaitFor(
            [i, &sent, received](const DevSimState& s) {
                const bool dropped = std::any_of(
                    s.faultEvents.begin(), s.faultEvents.end(), [i](const DevSimFaultEvent& e) {
                        return e.kind == DevSimFaultEvent::Kind::Dropped && e.answer == i;
                    });
                sent = s.bytesSent;
                return s.answersSent > i && (dropped || s.bytesSent >= received + 2);
            },
            10s));
        run.replies.push_back(host.Read(sent - received, 10s));
        received += run.replies.back().size();
    }
    run.events = device.Snapshot().faultEvents;
    run.bytesSent = device.Snapshot().bytesSent;
    run.bytesReceived = received;
    return run;
}

TEST(DevSimSeeded, DropsAndCorruptionsAreReproducible) {
    const SeededRun first = RunSeeded(7);
    const SeededRun second = RunSeeded(7);
    EXPECT_EQ(first.events, second.events);
    EXPECT_EQ(first.replies, second.replies);

    const auto count = [&](DevSimFaultEvent::Kind kind) {
        return std::count_if(first.events.begin(), first.events.end(),
                             [kind](const DevSimFaultEvent& e) { return e.kind == kind; });
    };
    EXPECT_GT(count(DevSimFaultEvent::Kind::Dropped), 0);
    EXPECT_GT(count(DevSimFaultEvent::Kind::Corrupted), 0);
    // What the host saw matches: dropped answers are missing, corrupted ones differ.
    std::size_t empty = 0;
    std::size_t wrong = 0;
    for (const Bytes& reply : first.replies) {
        empty += reply.empty() ? 1 : 0;
        wrong += !reply.empty() && reply != Bytes{0x3A, 0x00} ? 1 : 0;
    }
    EXPECT_EQ(static_cast<long>(empty), count(DevSimFaultEvent::Kind::Dropped));
    EXPECT_GT(wrong, 0u);
    // A dropped answer never reached the line: two bytes for each of the others.
    EXPECT_EQ(first.bytesReceived, first.bytesSent);
    EXPECT_EQ(static_cast<long>(first.bytesSent),
              2 * (40 - count(DevSimFaultEvent::Kind::Dropped)));

    const SeededRun other = RunSeeded(8);
    EXPECT_NE(first.events, other.events);
}

TEST_F(DevSimTest, GarbageGoesOutInFrontOfAnswers) {
    DevSimScenario scenario;
    scenario.garbageProbability = 1.0;
    StartDevice(scenario);
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kActivationRecord)));
    const Bytes reply = m_host.ReadUntilQuiet(300ms);
    ASSERT_GE(reply.size(), 3u);
    EXPECT_LE(reply.size(), 10u);
    EXPECT_EQ(Bytes(reply.end() - 2, reply.end()), (Bytes{0x3A, 0x00}));
    const auto events = m_device->Snapshot().faultEvents;
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, DevSimFaultEvent::Kind::Garbage);
    EXPECT_EQ(events[0].record, Utility(kActivationRecord));
}

TEST_F(DevSimTest, AnIdleBootloaderWantsToBeActivatedAgain) {
    DevSimScenario scenario;
    scenario.idleTimeout = 300ms;
    StartDevice(scenario);
    Activate();
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kInfoRecordList0)));
    EXPECT_EQ(m_host.Read(2), Word(0x3A02));
    m_host.ReadUntilQuiet(100ms);
    std::this_thread::sleep_for(600ms);
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kInfoRecordList0)));
    EXPECT_TRUE(m_host.Read(2, 200ms).empty());
    EXPECT_FALSE(m_device->Snapshot().bootloaderActive);
    Activate();
    ASSERT_TRUE(m_host.Send(*m_device, Utility(kInfoRecordList0)));
    EXPECT_EQ(m_host.Read(2), Word(0x3A02));
}

TEST_F(DevSimTest, ResynchronisesOnPayloadsAfterNoiseAndTruncatedRecords) {
    StartDevice();
    Activate();
    const Bytes& info = m_device->Packages().Find(Utility(kInfoRecordList0))->payload;
    Bytes noise = {0x00, 0xFF, 0x3A, 0x55};
    noise.insert(noise.end(), info.begin(), info.begin() + 20); // a truncated record
    noise.insert(noise.end(), info.begin(), info.end());        // then the whole one
    ASSERT_TRUE(m_host.Send(noise));
    EXPECT_EQ(m_host.Read(2), Word(0x3A02));
    bool complete = false;
    EXPECT_EQ(m_host.ReadLines(complete).size(), 3u);
    EXPECT_EQ(m_device->Snapshot().unrecognisedBytes, 24u);

    // A record split over two writes is still one record.
    const Bytes& record = m_device->Packages().Find(Utility(ModuleRecord(kBrdIdMod, 0)))->payload;
    ASSERT_TRUE(m_host.Send(Bytes(record.begin(), record.begin() + 10)));
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(m_host.Send(Bytes(record.begin() + 10, record.end())));
    EXPECT_EQ(m_host.Read(2), Word(0x3A05));
}

TEST_F(DevSimTest, ProgrammingTimeAndLatencyDelayTheReplies) {
    DevSimScenario scenario;
    // Longer than the host waits for an activation answer: the answers come after the next
    // block has gone out, and none of them may be taken for the module record's.
    scenario.replyLatency = 150ms;
    scenario.programmingTime = 200ms;
    StartDevice(scenario);
    Activate();

    const auto sent = Clock::now();
    ASSERT_TRUE(m_host.Send(*m_device, Utility(ModuleRecord(kBrdIdMod, 0))));
    ASSERT_EQ(m_host.Read(2), Word(0x3A05));
    EXPECT_GE(Clock::now() - sent, 150ms);
    ASSERT_EQ(m_host.Read(2), Word(0x7A05));
    EXPECT_GE(Clock::now() - sent, 350ms);
}

TEST_F(DevSimTest, RecordsTakeTheirTimeOnTheLine) {
    StartDevice(DevSimScenario{});
    Activate();
    ASSERT_EQ(m_host.Exchange(*m_device, Utility(ModuleRecord(kBrdIdMod, 0))), 0x3A05);
    // 736 bytes at 19200 baud: the last one arrives 383 ms after the first.
    const auto sent = Clock::now();
    ASSERT_TRUE(m_host.Send(*m_device, Utility(ModuleRecord(kBrdIdMod, 1))));
    ASSERT_EQ(m_host.Read(2), Word(0x0001));
    EXPECT_GE(Clock::now() - sent, 380ms);
}

TEST_F(DevSimTest, StartsAgainAfterStopWithAFreshDevice) {
    DevSimScenario scenario;
    scenario.powerUpGarbage = 5;
    StartDevice(scenario);
    EXPECT_EQ(m_host.Read(5).size(), 5u);
    Activate();
    m_device->Stop();
    m_host.Close();
    EXPECT_EQ(m_device->Start(), kOk);
    EXPECT_EQ(m_device->Start(), kErrorAlreadyInitialized);
    ASSERT_TRUE(m_host.Open(m_device->SlavePath()));
    EXPECT_EQ(m_host.Read(5).size(), 5u);
    EXPECT_EQ(m_device->Snapshot().activationsAnswered, 0u);
    Activate();
    EXPECT_EQ(m_device->Snapshot().activationsAnswered, 1u);
}

TEST_F(DevSimTest, StopsPromptlyWhileWaitingAndCanBeStoppedTwice) {
    DevSimScenario scenario;
    scenario.programmingTime = 60000ms;
    StartDevice(scenario);
    Activate();
    ASSERT_TRUE(m_host.Send(*m_device, Utility(ModuleRecord(kBrdIdMod, 0))));
    ASSERT_EQ(m_host.Read(2), Word(0x3A05));
    const auto stopping = Clock::now();
    m_device->Stop();
    EXPECT_LT(Clock::now() - stopping, 30000ms);
    m_device->Stop();
    EXPECT_FALSE(m_device->Snapshot().running);
}

} // namespace
} // namespace quillon::devsimtest
