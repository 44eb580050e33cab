// The upload page: whole runs from the licence to the started firmware against the
// simulated device, failures, going back for another attempt, and Close while the
// transfer runs.

#include "DeviceWizard.h"
#include "upload/UploadTexts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QTest>
#include <chrono>
#include <gtest/gtest.h>

namespace quillon::test {
namespace {

using namespace std::chrono_literals;

const QString kSucceeded = QString::fromLatin1(texts::kTransferSucceeded);

QProgressBar& Bar(CUploadPage& page) {
    return *page.GetDlgItemAs<QProgressBar>(kIdUploadProgress);
}

int PercentShown(const CUploadPage& page) {
    QString text = page.GetDlgItemText(kIdUploadPercent);
    text.chop(QStringLiteral("% Complete").size());
    return text.toInt();
}

TEST(UploadPageTest, PercentagesAreRoundedDown) {
    EXPECT_EQ(CUploadPage::Percentage(1, 57), 1u);
    EXPECT_EQ(CUploadPage::Percentage(56, 57), 98u);
    EXPECT_EQ(CUploadPage::Percentage(57, 57), 100u);
    EXPECT_EQ(CUploadPage::Percentage(0, 100), 0u);
    EXPECT_EQ(CUploadPage::Percentage(3, 0), 0u);
    EXPECT_EQ(CUploadPage::PercentageText(42), "42% Complete");
}

TEST(UploadPageTest, AWholeRunFromTheLicenceToTheStartedFirmware) {
    DeviceWizard run;
    CMasterDlg& master = run.wizard.master;
    CUploadPage& page = run.wizard.upload;
    run.StartUpload();
    EXPECT_FALSE(IsEnabled(master, kIdWizNext));
    EXPECT_EQ(run.Text(page, kIdUploadStatus), "Firmware Image Transfer");

    ASSERT_TRUE(WaitUntil([&] { return run.Text(page, kIdUploadStatus) == kSucceeded; }));
    ASSERT_TRUE(WaitUntil([&] { return !page.IsTransferRunning(); }));
    EXPECT_EQ(run.Text(page, kIdUploadPercent), "100% Complete");
    EXPECT_EQ(Bar(page).value(), Bar(page).maximum());
    EXPECT_FALSE(page.GetDlgItem(kIdUploadHint)->isVisible());
    EXPECT_TRUE(IsEnabled(master, kIdWizBack));
    EXPECT_FALSE(IsEnabled(master, kIdWizNext));
    EXPECT_TRUE(page.OpenErrorBoxes().empty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    const DevSimState state = run.device.Snapshot();
    EXPECT_TRUE(state.holdsCompleteImage);
    EXPECT_TRUE(state.startupPrinted);
    EXPECT_EQ(state.baudChanges, std::vector<std::uint32_t>{115200});

    // After the end Close needs no confirmation.
    MessageBoxRecorder boxes;
    Click(master, kIdCancel);
    EXPECT_TRUE(boxes.Requests().empty());
    EXPECT_FALSE(master.isVisible());
}

TEST(UploadPageTest, ProgressReportsShowThePercentageAndFillTheBar) {
    DeviceWizard run;
    CUploadPage& page = run.wizard.upload;
    run.StartUpload();
    ASSERT_TRUE(WaitUntil([&] { return !page.IsTransferRunning(); }));

    page.SendMessage(kMsgProgress, 1, 57);
    EXPECT_EQ(run.Text(page, kIdUploadPercent), "1% Complete");
    EXPECT_EQ(Bar(page).maximum(), 57);
    EXPECT_EQ(Bar(page).value(), 1);
    page.SendMessage(kMsgProgress, 56, 57);
    EXPECT_EQ(run.Text(page, kIdUploadPercent), "98% Complete");
    page.SendMessage(kMsgProgress, 57, 57);
    EXPECT_EQ(run.Text(page, kIdUploadPercent), "100% Complete");
    EXPECT_EQ(Bar(page).value(), Bar(page).maximum());

    // A new transfer after a run of 57 units starts again from 0 of 100.
    page.SendMessage(kMsgTransferStarted);
    EXPECT_EQ(run.Text(page, kIdUploadPercent), "0% Complete");
    EXPECT_EQ(Bar(page).maximum(), 100);
    EXPECT_EQ(Bar(page).value(), 0);
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(IsEnabled(run.wizard.master, kIdWizBack));
    page.SendMessage(kMsgStatus, 0, reinterpret_cast<std::intptr_t>(texts::kCheckingCrc));
    EXPECT_EQ(run.Text(page, kIdUploadStatus), QString::fromLatin1(texts::kCheckingCrc));
    page.SendMessage(kMsgSequenceEnded);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(IsEnabled(run.wizard.master, kIdWizBack));
}

TEST(UploadPageTest, AFailedUploadIsReportedAndBackLeadsToASecondSuccessfulOne) {
    DevSimScenario scenario = FastScenario();
    // Record 5 of the image is refused on every send of its three attempts, once.
    scenario.faults.push_back({DevSimFault::Kind::Refuse, {DevSimPackage::Image, 5}, 24, 0});
    DeviceWizard run(scenario);
    CMasterDlg& master = run.wizard.master;
    CUploadPage& page = run.wizard.upload;
    run.StartUpload();

    ASSERT_TRUE(WaitUntil([&] { return !page.IsTransferRunning(); }));
    EXPECT_EQ(run.Text(page, kIdUploadStatus), QString::fromLatin1(texts::kTransferFailed));
    // The box is still open: the status line changed behind it.
    std::vector<QMessageBox*> boxes = page.OpenErrorBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    QMessageBox& box = *boxes.front();
    EXPECT_EQ(box.windowTitle(), "Quillon");
    EXPECT_EQ(box.text(), QString::fromLatin1(texts::kImageFailed));
    EXPECT_EQ(box.icon(), QMessageBox::Warning);
    EXPECT_FALSE(box.isModal() && box.windowModality() == Qt::ApplicationModal);
    EXPECT_TRUE(IsEnabled(master, kIdWizBack));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(run.device.HoldsCompleteImage());
    box.button(QMessageBox::Ok)->click();
    EXPECT_TRUE(WaitUntil([&] { return page.OpenErrorBoxes().empty(); }));

    // Back: the port page with the port closed, the progress back at 0.
    Click(master, kIdWizBack);
    EXPECT_EQ(run.wizard.ActiveId(), CChoosePortPage::kTemplateId);
    EXPECT_FALSE(master.Link().IsOpen());
    EXPECT_EQ(run.Text(page, kIdUploadPercent), "0% Complete");
    EXPECT_EQ(Bar(page).value(), 0);

    // Next through detection and the information page again: a new upload from 0.
    Click(master, kIdWizNext);
    ASSERT_TRUE(run.WaitForPage(CCheckBoardType::kTemplateId));
    ASSERT_TRUE(IsEnabled(master, kIdWizNext));
    Click(master, kIdWizNext);
    ASSERT_EQ(run.wizard.ActiveId(), CUploadPage::kTemplateId);
    EXPECT_EQ(run.Text(page, kIdUploadPercent), "0% Complete");
    EXPECT_EQ(run.Text(page, kIdUploadStatus), "Firmware Image Transfer");
    EXPECT_TRUE(page.IsTransferRunning());
    ASSERT_TRUE(WaitUntil([&] { return !page.IsTransferRunning(); }));
    EXPECT_EQ(run.Text(page, kIdUploadStatus), kSucceeded);
    EXPECT_TRUE(run.device.HoldsCompleteImage());
    EXPECT_TRUE(page.OpenErrorBoxes().empty());
}

// A device that takes its time over every record, so that Close finds the transfer busy.
DevSimScenario SlowProgrammingDevice() {
    DevSimScenario scenario = FastScenario();
    scenario.programmingTime = 100ms;
    return scenario;
}

TEST(UploadPageTest, CloseDuringTheTransferAsksAndNoLetsItGoOn) {
    DeviceWizard run(SlowProgrammingDevice());
    CMasterDlg& master = run.wizard.master;
    CUploadPage& page = run.wizard.upload;
    run.StartUpload();
    ASSERT_TRUE(WaitUntil([&] { return PercentShown(page) >= 5; }));
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(IsEnabled(master, kIdWizBack));

    MessageBoxRecorder boxes(kIdNo);
    Click(master, kIdCancel);
    ASSERT_EQ(boxes.Requests().size(), 1u);
    EXPECT_EQ(boxes.Requests()[0].text, QString::fromLatin1(CUploadPage::kInterruptQuestion));
    EXPECT_EQ(boxes.Requests()[0].kind, MessageBoxKind::kQuestionYesNo);
    EXPECT_EQ(boxes.Requests()[0].caption, "Quillon");
    EXPECT_TRUE(master.isVisible());
    EXPECT_TRUE(master.IsUploadRunning());
    const int shown = PercentShown(page);
    EXPECT_TRUE(WaitUntil([&] { return PercentShown(page) > shown; }));
    ASSERT_TRUE(WaitUntil([&] { return !page.IsTransferRunning(); }));
    EXPECT_EQ(run.Text(page, kIdUploadStatus), kSucceeded);
    EXPECT_EQ(boxes.Requests().size(), 1u);
}

TEST(UploadPageTest, BackPressedBeforeTheWorkerHasEndedMovesOnceItHas) {
    DeviceWizard run(SlowProgrammingDevice());
    CMasterDlg& master = run.wizard.master;
    CUploadPage& page = run.wizard.upload;
    run.StartUpload();
    ASSERT_TRUE(WaitUntil([&] { return PercentShown(page) >= 5; }));
    // The worker asks for Back a moment before its last message, as a failing transfer
    // does before it returns the line to 19200 baud.
    page.SendMessage(kMsgEnableBack);
    ASSERT_TRUE(IsEnabled(master, kIdWizBack));
    Click(master, kIdWizBack);
    EXPECT_EQ(run.wizard.ActiveId(), CUploadPage::kTemplateId);
    EXPECT_TRUE(master.Link().IsOpen());
    EXPECT_TRUE(master.IsUploadRunning());

    ASSERT_TRUE(run.WaitForPage(CChoosePortPage::kTemplateId));
    EXPECT_FALSE(master.IsUploadRunning());
    EXPECT_FALSE(master.Link().IsOpen());
    EXPECT_EQ(run.Text(page, kIdUploadStatus), kSucceeded);
    EXPECT_EQ(run.Text(page, kIdUploadPercent), "0% Complete");
    EXPECT_EQ(Bar(page).value(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(UploadPageTest, CloseDuringTheTransferAnsweredYesAbortsAndClosesTheWizard) {
    DeviceWizard run(SlowProgrammingDevice());
    CMasterDlg& master = run.wizard.master;
    CUploadPage& page = run.wizard.upload;
    MessageBoxRecorder boxes(kIdYes);
    std::size_t recordsAtClose = 0;
    const int result = RunModal(master, [&] {
        run.StartUpload();
        ASSERT_TRUE(WaitUntil([&] { return PercentShown(page) >= 5; }));
        Click(master, kIdCancel);
        recordsAtClose = run.device.Snapshot().records.size();
    });
    EXPECT_EQ(result, kIdCancel);
    ASSERT_GE(boxes.Requests().size(), 1u);
    EXPECT_EQ(boxes.Requests()[0].text, QString::fromLatin1(CUploadPage::kInterruptQuestion));
    EXPECT_FALSE(master.IsUploadRunning());
    EXPECT_FALSE(page.HasWindow());
    // The transfer stopped: nothing more reaches the device.
    const std::size_t received = run.device.Snapshot().records.size();
    EXPECT_LE(received, recordsAtClose + 1);
    Pump(300);
    EXPECT_EQ(run.device.Snapshot().records.size(), received);
    EXPECT_FALSE(run.device.HoldsCompleteImage());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(UploadPageTest, CloseWhileTheDeviceHangsClosesAfterTheBoundedWaitWithoutHarm) {
    DevSimScenario scenario = FastScenario();
    // From image record 10 on the device answers nothing at all.
    scenario.faults.push_back({DevSimFault::Kind::Silent, {DevSimPackage::Image, 10}, -1, 0});
    auto run = std::make_unique<DeviceWizard>(scenario);
    CMasterDlg& master = run->wizard.master;
    CUploadPage& page = run->wizard.upload;
    MessageBoxRecorder boxes(kIdYes);
    const int result = RunModal(master, [&] {
        run->StartUpload();
        ASSERT_TRUE(WaitUntil([&] { return run->device.Snapshot().deadSilent; }));
        Click(master, kIdCancel);
    });
    EXPECT_EQ(result, kIdCancel);
    EXPECT_FALSE(page.HasWindow());
    // Whatever the worker still posts goes nowhere; destroying the pages and then the
    // dialog joins it.
    Pump(200);
    run.reset();
}

} // namespace
} // namespace quillon::test
