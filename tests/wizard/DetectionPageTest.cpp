// The device detection page clicked through against the simulated device.

#include "DeviceWizard.h"
#include "platform/PseudoTerminal.h"
#include "resources/EmbeddedResources.h"
#include "upload/UploadTexts.h"

#include <QFont>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>

namespace quillon::test {
namespace {

using namespace std::chrono_literals;

const QString kWaitingTitle = QStringLiteral("Please power up the device now.");
const QString kWaitingBody = QStringLiteral(
    "Upon powering up,  the device will be detected\nand this wizard will automatically "
    "progress to the next page.");

QColor TextColour(const CDialog& page, int id) {
    return page.GetDlgItem(id)->palette().color(QPalette::WindowText);
}

TEST(DetectionPageTest, WaitsForThePowerUpThenIdentifiesTheDeviceAndMovesOnByItself) {
    DevSimScenario scenario = FastScenario();
    scenario.powerUpDelay = 1500ms;
    DeviceWizard run(scenario);
    CConnectPage& page = run.wizard.connect;
    run.wizard.master.boardTypeId = "left over";
    run.StartDetection();

    EXPECT_EQ(run.Text(page, kIdDetectTitle), kWaitingTitle);
    EXPECT_EQ(run.Text(page, kIdDetectBody), kWaitingBody);
    EXPECT_TRUE(page.GetDlgItem(kIdDetectBody)->isVisible());
    EXPECT_FALSE(page.IsHighlighted());
    EXPECT_EQ(TextColour(page, kIdDetectTitle), QColor(0, 0, 0));
    const QFont title = page.GetDlgItem(kIdDetectTitle)->font();
    EXPECT_TRUE(title.bold());
    EXPECT_EQ(title.pixelSize(), 12);
    EXPECT_FALSE(IsEnabled(run.wizard.master, kIdWizNext));
    EXPECT_TRUE(run.wizard.master.IsActivationWorkerRunning());
    EXPECT_EQ(run.wizard.master.boardTypeId, "");
    EXPECT_EQ(run.wizard.master.deviceFirmware.text, "");

    // Blocks go out while the device is still powering up, unanswered.
    EXPECT_TRUE(WaitUntil([&] {
        const DevSimState state = run.device.Snapshot();
        return !state.records.empty() && state.records.front().ignored;
    }));
    EXPECT_EQ(run.wizard.ActiveId(), CConnectPage::kTemplateId);

    ASSERT_TRUE(run.WaitForPage(CCheckBoardType::kTemplateId));
    const CMasterDlg& master = run.wizard.master;
    EXPECT_EQ(master.boardTypeId, "0;4;1;7;Y;3;5");
    EXPECT_EQ(master.deviceBootloader.product, "Tovrin");
    EXPECT_EQ(master.deviceBootloader.text, "1.1.1");
    EXPECT_EQ(master.deviceBootloader.buildStamp, "Nov 12 2007 09:41:17");
    EXPECT_EQ(master.deviceFirmware.product, "KOLM");
    EXPECT_EQ(master.deviceFirmware.text, "1.4.2");
    EXPECT_EQ(master.flashModuleName, "FlashMod5");
    EXPECT_EQ(master.crcModuleName, "FwCRCMod5");
    // What the page showed while the device was read.
    EXPECT_EQ(run.Text(page, kIdDetectTitle), "Bootloader activated...");
    EXPECT_FALSE(page.GetDlgItem(kIdDetectBody)->isVisibleTo(&page));
    EXPECT_TRUE(page.IsHighlighted());
    EXPECT_EQ(TextColour(page, kIdDetectTitle), QColor(255, 0, 0));
    EXPECT_TRUE(IsEnabled(run.wizard.master, kIdWizBack));
}

TEST(DetectionPageTest, GoingBackWhileWaitingStopsTheWorkerAndEnteringAgainStartsAfresh) {
    DevSimScenario scenario = FastScenario();
    scenario.powerUpDelay = std::chrono::hours(1);
    DeviceWizard run(scenario);
    CMasterDlg& master = run.wizard.master;
    run.StartDetection();
    ASSERT_TRUE(WaitUntil([&] { return run.device.Snapshot().records.size() >= 2; }));

    Click(master, kIdWizBack);
    EXPECT_EQ(run.wizard.ActiveId(), CChoosePortPage::kTemplateId);
    EXPECT_FALSE(master.IsActivationWorkerRunning());
    EXPECT_FALSE(master.Link().IsOpen());
    const std::size_t sent = run.device.Snapshot().records.size();
    Pump(200);
    EXPECT_EQ(run.device.Snapshot().records.size(), sent);

    master.boardTypeId = "stale";
    master.deviceFirmware.SetText("1.2.3");
    master.deviceBootloader.SetText("1.0.10");
    Click(master, kIdWizNext);
    ASSERT_EQ(run.wizard.ActiveId(), CConnectPage::kTemplateId);
    EXPECT_EQ(master.boardTypeId, "");
    EXPECT_EQ(master.deviceFirmware.text, "");
    EXPECT_EQ(master.deviceFirmware.major, VersionDescriptor::kUnset);
    EXPECT_EQ(master.deviceBootloader.text, "");
    EXPECT_TRUE(master.IsActivationWorkerRunning());
    EXPECT_TRUE(WaitUntil([&] { return run.device.Snapshot().records.size() > sent; }));
}

TEST(DetectionPageTest, TheWizardMovesOnOnlyWhileTheUserStaysOnThePage) {
    DeviceWizard run;
    run.wizard.connect.SetAdvanceDelay(1500ms);
    run.StartDetection();
    // Next during the identification waits for it (see below); here the device has been
    // read and the pause is under way.
    ASSERT_TRUE(WaitUntil([&] {
        return run.Text(run.wizard.connect, kIdDetectTitle) == "Bootloader activated..." &&
               !run.wizard.connect.IsIdentifying();
    }));
    // The user does not wait for the pause: Next is offered already.
    ASSERT_TRUE(IsEnabled(run.wizard.master, kIdWizNext));
    Click(run.wizard.master, kIdWizNext);
    ASSERT_EQ(run.wizard.ActiveId(), CCheckBoardType::kTemplateId);
    Pump(2500);
    EXPECT_EQ(run.wizard.ActiveId(), CCheckBoardType::kTemplateId);
    EXPECT_FALSE(run.wizard.upload.IsCreated());
}

TEST(DetectionPageTest, NextPressedWhileTheDeviceIsReadMovesOnOnceItHasBeenRead) {
    DevSimScenario scenario = FastScenario();
    // The first bootloader information request goes unanswered: the identification
    // waits out one reply timeout before the device answers the second.
    scenario.faults.push_back({DevSimFault::Kind::Silent, {DevSimPackage::Utility, 10}, 1, 0});
    DeviceWizard run(scenario);
    CConnectPage& page = run.wizard.connect;
    run.wizard.connect.SetAdvanceDelay(std::chrono::hours(1));
    run.StartDetection();
    ASSERT_TRUE(WaitUntil([&] { return !run.device.Snapshot().faultEvents.empty(); }));
    ASSERT_TRUE(page.IsIdentifying());
    ASSERT_TRUE(IsEnabled(run.wizard.master, kIdWizNext));

    Click(run.wizard.master, kIdWizNext);
    // Not on a half-read device ...
    EXPECT_EQ(run.wizard.ActiveId(), CConnectPage::kTemplateId);
    EXPECT_FALSE(run.wizard.information.IsCreated());
    // ... but as soon as it has been read, without the pause.
    ASSERT_TRUE(run.WaitForPage(CCheckBoardType::kTemplateId));
    EXPECT_EQ(run.wizard.master.boardTypeId, "0;4;1;7;Y;3;5");
    EXPECT_EQ(run.wizard.master.deviceBootloader.text, "1.1.1");
    EXPECT_EQ(run.wizard.master.deviceFirmware.text, "1.4.2");
    EXPECT_FALSE(run.wizard.master.IsIdentificationWorkerRunning());
}

// A device that answers the activation and then falls silent for good, at the information
// request (the identification would wait out 8 sends x 5 s, then the board
// identification module) or in the board identification module (3 attempts x 8 sends x
// 1 s). The window keeps working all along, and leaving ends the identification.
enum class Leave : std::uint8_t { kBack, kClose };

struct SilentCase {
    const char* name;
    int silentRecord; // in the utility package
    Leave leave;
};

constexpr int kInformationRequestList0 = 10;
constexpr int kBrdIdModFirstData = 39; // BrdIDMod for the simulated bootloader

class SilentIdentificationTest : public ::testing::TestWithParam<SilentCase> {};

// A 50 ms timer on a window that keeps turning never waits this long; one held by the
// identification would wait for tens of seconds.
constexpr auto kLargestTickGap = 250ms;
// Generous for a loaded machine: the link's waits are cut short, nothing is sat out.
constexpr auto kLeaveBound = 5s;

TEST_P(SilentIdentificationTest, TheWindowKeepsTurningAndLeavingEndsTheIdentification) {
    DevSimScenario scenario = FastScenario();
    scenario.faults.push_back(
        {DevSimFault::Kind::Silent, {DevSimPackage::Utility, GetParam().silentRecord}, -1, 0});
    auto run = std::make_unique<DeviceWizard>(scenario);
    CMasterDlg& master = run->wizard.master;
    CConnectPage& page = run->wizard.connect;
    std::chrono::steady_clock::time_point leftAt;

    const int result = RunModal(master, [&] {
        run->StartDetection();
        ASSERT_TRUE(WaitUntil([&] { return run->device.Snapshot().deadSilent; }));
        // The notification came first and stays on show while the device is read.
        EXPECT_EQ(run->Text(page, kIdDetectTitle), "Bootloader activated...");
        EXPECT_TRUE(IsEnabled(master, kIdWizNext));
        ASSERT_TRUE(master.IsIdentificationWorkerRunning());

        std::vector<std::chrono::steady_clock::time_point> ticks;
        QTimer timer;
        timer.setInterval(50);
        QObject::connect(&timer, &QTimer::timeout,
                         [&ticks] { ticks.push_back(std::chrono::steady_clock::now()); });
        ticks.push_back(std::chrono::steady_clock::now());
        timer.start();
        ASSERT_TRUE(WaitUntil([&] { return ticks.size() >= 40; }, 30000));
        timer.stop();
        std::chrono::steady_clock::duration largest{};
        for (std::size_t n = 1; n < ticks.size(); ++n) {
            largest = std::max(largest, ticks[n] - ticks[n - 1]);
        }
        std::cout << "[ figures  ] largest gap between 50 ms ticks during the identification: "
                  << std::chrono::duration<double, std::milli>(largest).count() << " ms\n";
        EXPECT_LT(largest, kLargestTickGap);
        // Still identifying: the silent device has not been given up on.
        EXPECT_TRUE(master.IsIdentificationWorkerRunning());
        EXPECT_EQ(run->wizard.ActiveId(), CConnectPage::kTemplateId);

        leftAt = std::chrono::steady_clock::now();
        if (GetParam().leave == Leave::kClose) {
            Click(master, kIdCancel);
            return;
        }
        Click(master, kIdWizBack);
        const auto took = std::chrono::steady_clock::now() - leftAt;
        std::cout << "[ figures  ] Back to the end of the identification: "
                  << std::chrono::duration<double, std::milli>(took).count() << " ms\n";
        EXPECT_LT(took, kLeaveBound);
        EXPECT_EQ(run->wizard.ActiveId(), CChoosePortPage::kTemplateId);
        EXPECT_FALSE(master.IsIdentificationWorkerRunning());
        // The interrupt was for that identification only: a device powered up again is
        // detected as before.
        EXPECT_FALSE(master.Link().WaitsInterrupted());
        run->device.PowerCycle();
        Click(master, kIdWizNext);
        ASSERT_EQ(run->wizard.ActiveId(), CConnectPage::kTemplateId);
        EXPECT_TRUE(WaitUntil([&] { return page.IsIdentifying(); }));
    });
    if (GetParam().leave == Leave::kClose) {
        const auto took = std::chrono::steady_clock::now() - leftAt;
        std::cout << "[ figures  ] Close to the end of the wizard and its identification: "
                  << std::chrono::duration<double, std::milli>(took).count() << " ms\n";
        EXPECT_EQ(result, kIdCancel);
        EXPECT_LT(took, kLeaveBound);
    }
    EXPECT_FALSE(master.IsIdentificationWorkerRunning());
    EXPECT_FALSE(page.HasWindow());
    run.reset();
}

INSTANTIATE_TEST_SUITE_P(
    Leaving, SilentIdentificationTest,
    ::testing::Values(
        SilentCase{"BackAtTheInformationRequest", kInformationRequestList0, Leave::kBack},
        SilentCase{"CloseAtTheInformationRequest", kInformationRequestList0, Leave::kClose},
        SilentCase{"BackInTheBoardIdentification", kBrdIdModFirstData, Leave::kBack},
        SilentCase{"CloseInTheBoardIdentification", kBrdIdModFirstData, Leave::kClose}),
    [](const ::testing::TestParamInfo<SilentCase>& silent) { return silent.param.name; });

TEST(DetectionPageTest, ADeviceWithoutFirmwareIsStillIdentified) {
    DevSimScenario scenario = FastScenario();
    scenario.firmwarePresent = false;
    scenario.boardTypeId = "0;4;1;7;Y;3;N";
    DeviceWizard run(scenario);
    run.DetectDevice();
    EXPECT_EQ(run.wizard.master.deviceFirmware.text, "Unavailable");
    EXPECT_EQ(run.wizard.master.boardTypeId, "0;4;1;7;Y;3;N");
    EXPECT_EQ(run.wizard.master.flashModuleName, "FlashMod");
    EXPECT_EQ(run.wizard.master.crcModuleName, "FwCRCMod");
}

TEST(DetectionPageTest, AUtilityPackageWithoutActivationBlocksIsReportedAndNothingIsSent) {
    std::vector<std::uint8_t> utility = UtilityCopy();
    RetypeRecords(utility, 0x3A00, 0x3A01);
    DeviceWizard run(FastScenario(), utility);
    run.StartDetection();
    const CConnectPage& page = run.wizard.connect;
    EXPECT_EQ(run.Text(page, kIdDetectTitle), "Problem Encountered!");
    EXPECT_EQ(run.Text(page, kIdDetectBody),
              "Invalid \"Utility.bin\" file.\nCannot continue with the upload process.\n\n"
              "Please verify that you have the original\nfirmware package supplied by Veldra "
              "Pty. Ltd.");
    EXPECT_TRUE(page.GetDlgItem(kIdDetectBody)->isVisible());
    EXPECT_EQ(TextColour(page, kIdDetectTitle), QColor(255, 0, 0));
    EXPECT_FALSE(IsEnabled(run.wizard.master, kIdWizNext));
    EXPECT_FALSE(run.wizard.master.IsActivationWorkerRunning());
    Pump(200);
    EXPECT_TRUE(run.device.Snapshot().records.empty());

    // Nothing to wait for when leaving; coming back shows the waiting texts first.
    Click(run.wizard.master, kIdWizBack);
    EXPECT_EQ(run.wizard.ActiveId(), CChoosePortPage::kTemplateId);
}

TEST(DetectionPageTest, AnAdapterPulledOutWhileWaitingIsReportedAndBackOpensThePortAfresh) {
    DevSimScenario scenario = FastScenario();
    scenario.powerUpDelay = std::chrono::hours(1);
    DeviceWizard run(scenario);
    CMasterDlg& master = run.wizard.master;
    const CConnectPage& page = run.wizard.connect;
    run.StartDetection();
    ASSERT_TRUE(WaitUntil([&] { return run.device.Snapshot().records.size() >= 2; }));

    run.device.Stop(); // the line hangs up
    ASSERT_TRUE(WaitUntil([&] { return !master.IsActivationWorkerRunning(); }));
    ASSERT_TRUE(
        WaitUntil([&] { return run.Text(page, kIdDetectTitle) == "Problem Encountered!"; }));
    EXPECT_EQ(run.Text(page, kIdDetectBody), QString::fromLatin1(texts::kLineLost));
    EXPECT_TRUE(page.GetDlgItem(kIdDetectBody)->isVisible());
    EXPECT_EQ(TextColour(page, kIdDetectTitle), QColor(255, 0, 0));
    EXPECT_FALSE(IsEnabled(master, kIdWizNext));
    EXPECT_TRUE(IsEnabled(master, kIdWizBack));
    EXPECT_EQ(run.wizard.ActiveId(), CConnectPage::kTemplateId);

    Click(master, kIdWizBack);
    EXPECT_EQ(run.wizard.ActiveId(), CChoosePortPage::kTemplateId);
    EXPECT_FALSE(master.Link().IsOpen());
}

TEST(DetectionPageTest, AnAdapterPulledOutDuringTheIdentificationGivesNoVerdict) {
    DevSimScenario scenario = FastScenario();
    // The first data record of the board identification module for this bootloader.
    scenario.faults.push_back({DevSimFault::Kind::HangUp, {DevSimPackage::Utility, 39}, 1, 0});
    DeviceWizard run(scenario);
    CMasterDlg& master = run.wizard.master;
    const CConnectPage& page = run.wizard.connect;
    run.StartDetection();
    ASSERT_TRUE(
        WaitUntil([&] { return run.Text(page, kIdDetectTitle) == "Problem Encountered!"; }));
    EXPECT_TRUE(run.device.Snapshot().hungUp);
    EXPECT_EQ(run.Text(page, kIdDetectBody), QString::fromLatin1(texts::kLineLost));
    EXPECT_TRUE(page.GetDlgItem(kIdDetectBody)->isVisible());
    EXPECT_FALSE(IsEnabled(master, kIdWizNext));
    // The page stays: the half-read device is never shown as judged.
    Pump(1000);
    EXPECT_EQ(run.wizard.ActiveId(), CConnectPage::kTemplateId);
    EXPECT_FALSE(run.wizard.information.IsCreated());
}

TEST(DetectionPageTest, AnUnreadableUtilityPackageEndsTheWizardWithItsMessage) {
    std::vector<std::uint8_t> utility = UtilityCopy();
    BreakFirstHeader(utility);
    PseudoTerminal port;
    ASSERT_EQ(port.Open(), 0);
    TestWizard wizard;
    wizard.master.SetPackages(utility, EmbeddedResources::FirmwareImage());
    MessageBoxRecorder boxes;
    const int result = RunModal(wizard.master, [&] {
        wizard.GoToPortPage();
        wizard.TypePort(QString::fromStdString(port.SlavePath()));
        Click(wizard.master, kIdWizNext);
    });
    EXPECT_EQ(result, kExitInvalidPackage);
    ASSERT_EQ(boxes.Requests().size(), 1u);
    EXPECT_EQ(boxes.Requests()[0].text,
              "The file \"Utility.bin\" is invalid - cannot continue.\n\nPlease obtain the "
              "original firmware package supplied by Veldra Pty. Ltd.");
    EXPECT_EQ(boxes.Requests()[0].kind, MessageBoxKind::kWarningOk);
    EXPECT_EQ(boxes.Requests()[0].caption, "Quillon");
    EXPECT_FALSE(wizard.master.IsActivationWorkerRunning());
}

} // namespace
} // namespace quillon::test
