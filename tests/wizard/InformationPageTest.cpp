// The device information page: every outcome of the compatibility decision reached with a
// simulated device, the colours, the keep-alive worker, Back, and the tips.

#include "DeviceWizard.h"
#include "upload/CompatibilityDecision.h"
#include "wizard/CToolTip.h"

#include <QFontMetrics>
#include <QPointer>
#include <QTest>
#include <chrono>
#include <gtest/gtest.h>

namespace quillon::test {
namespace {

using namespace std::chrono_literals;

QColor TextColour(const CDialog& page, int id) {
    return page.GetDlgItem(id)->palette().color(QPalette::WindowText);
}

struct OutcomeCase {
    const char* name;
    std::function<void(DevSimScenario&)> device;
    std::function<void(std::vector<std::uint8_t>&)> utility;
    const char* message; // null: accepted
    bool nextEnabled;
};

void PrintTo(const OutcomeCase& outcome, std::ostream* out) {
    *out << outcome.name;
}

class InformationOutcomeTest : public testing::TestWithParam<OutcomeCase> {};

TEST_P(InformationOutcomeTest, ShowsTheDecisionAndKeepsTheBootloaderAwake) {
    const OutcomeCase& outcome = GetParam();
    DevSimScenario scenario = FastScenario();
    if (outcome.device) {
        outcome.device(scenario);
    }
    std::vector<std::uint8_t> utility = UtilityCopy();
    if (outcome.utility) {
        outcome.utility(utility);
    }
    DeviceWizard run(scenario, utility);
    run.DetectDevice();
    CCheckBoardType& page = run.wizard.information;
    CMasterDlg& master = run.wizard.master;

    EXPECT_EQ(IsEnabled(master, kIdWizNext), outcome.nextEnabled);
    EXPECT_TRUE(IsEnabled(master, kIdWizBack));
    if (outcome.message == nullptr) {
        EXPECT_EQ(page.Outcome().outcome, CompatibilityOutcome::Accept);
        EXPECT_FALSE(page.GetDlgItem(kIdMismatchWarning)->isVisible());
        EXPECT_TRUE(page.GetDlgItem(kIdContinueHint)->isVisible());
        EXPECT_EQ(run.Text(page, kIdContinueHint), "To continue, click Next.");
        EXPECT_FALSE(page.IsHighlighted());
    } else {
        EXPECT_TRUE(page.GetDlgItem(kIdMismatchWarning)->isVisible());
        EXPECT_FALSE(page.GetDlgItem(kIdContinueHint)->isVisible());
        EXPECT_EQ(run.Text(page, kIdMismatchWarning), QString::fromLatin1(outcome.message));
        EXPECT_TRUE(page.IsHighlighted());
        EXPECT_EQ(TextColour(page, kIdMismatchWarning), QColor(255, 0, 0));
    }

    // The keep-alive worker sends blocks for every outcome while the page is shown.
    EXPECT_TRUE(master.IsActivationWorkerRunning());
    const std::size_t before = run.device.Snapshot().records.size();
    EXPECT_TRUE(WaitUntil([&] { return run.device.Snapshot().records.size() >= before + 2; }));

    // Back skips detection: the port page, with the port closed and the worker stopped.
    Click(master, kIdWizBack);
    EXPECT_EQ(run.wizard.ActiveId(), CChoosePortPage::kTemplateId);
    EXPECT_FALSE(master.IsActivationWorkerRunning());
    EXPECT_FALSE(master.Link().IsOpen());
    EXPECT_TRUE(IsEnabled(master, kIdWizBack));
    EXPECT_TRUE(IsEnabled(master, kIdWizNext));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, InformationOutcomeTest,
    testing::Values(OutcomeCase{"Accepted", {}, {}, nullptr, true},
                    OutcomeCase{"SameFirmwareWarns",
                                [](DevSimScenario& s) {
                                    s.firmwareVersion = "1.4.6";
                                    s.firmwareBuild = "May 15 2006 16:01:56";
                                },
                                {},
                                texts::kSameOrNewerFirmware,
                                true},
                    OutcomeCase{"UnsuitableBoard",
                                [](DevSimScenario& s) { s.boardTypeId = "9;9;9;9;Y;3;5"; },
                                {},
                                texts::kBoardNotSuitable,
                                false},
                    // The board identification module is made for a 2.x bootloader here, so the
                    // board is read; the package's minimum for the bootloader is still a 1.x one.
                    OutcomeCase{"BootloaderBelowTheMinimum",
                                [](DevSimScenario& s) { s.bootloaderVersion = "2.0.10"; },
                                [](std::vector<std::uint8_t>& u) {
                                    ReplaceFirst(u, "VERS:1.0.10", "VERS:2.0.10");
                                },
                                texts::kBootloaderTooOld, false},
                    // The variant 5 modules need bootloader 1.1.1.
                    OutcomeCase{"NoFlashModuleOfTheVariant",
                                [](DevSimScenario& s) { s.bootloaderVersion = "1.0.10"; },
                                {},
                                texts::kFlashModuleNotSuitable,
                                false},
                    OutcomeCase{"NoCrcModuleOfTheVariant",
                                {},
                                [](std::vector<std::uint8_t>& u) {
                                    ReplaceFirst(u, "PROD:FwCRCMod5", "PROD:FwCRCMod6");
                                },
                                texts::kCrcModuleNotSuitable,
                                false}),
    [](const testing::TestParamInfo<OutcomeCase>& param) { return std::string(param.param.name); });

TEST(InformationPageTest, ShowsTheDeviceNextToThePackageInTheirColours) {
    DeviceWizard run;
    run.DetectDevice();
    const CCheckBoardType& page = run.wizard.information;
    EXPECT_EQ(run.Text(page, kIdBoardTypeId), "0;4;1;7;Y;3;5");
    EXPECT_EQ(run.Text(page, kIdBootloaderVersion), "1.1.1");
    EXPECT_EQ(run.Text(page, kIdCurrentFirmware), "KOLM 1.4.2");
    // The matching pattern, and a sign that there are more (the byte 0xBB).
    EXPECT_EQ(run.Text(page, kIdTargetBoardIds), QString::fromUtf8("0;0,4;0,1;0,7;*;*;N,5 ... »"));
    EXPECT_EQ(run.Text(page, kIdMinimumBootloader), "1.0.10");
    EXPECT_EQ(run.Text(page, kIdNewFirmware), "KOLM 1.4.6");

    EXPECT_EQ(TextColour(page, kIdDeviceHeading), QColor(0, 0, 192));
    EXPECT_EQ(TextColour(page, kIdPackageHeading), QColor(0, 0, 192));
    EXPECT_EQ(TextColour(page, kIdVerifyHint), QColor(0, 0, 0));
    EXPECT_EQ(TextColour(page, kIdBoardTypeId), QColor(0, 0, 0));
    EXPECT_EQ(TextColour(page, kIdMismatchWarning), QColor(0, 0, 0));
    EXPECT_EQ(page.palette().color(QPalette::Window), QColor(255, 255, 255));

    // Next after acceptance: the upload page.
    Click(run.wizard.master, kIdWizNext);
    EXPECT_EQ(run.wizard.ActiveId(), CUploadPage::kTemplateId);
    EXPECT_FALSE(IsEnabled(run.wizard.master, kIdWizNext));
}

// The tips follow the cursor that the test moves.
class TipCursor {
public:
    TipCursor() {
        previous_ = CToolTip::SetCursorSource([this] { return position; });
    }
    ~TipCursor() { CToolTip::SetCursorSource(previous_); }
    TipCursor(const TipCursor&) = delete;
    TipCursor& operator=(const TipCursor&) = delete;

    QPoint position;

private:
    CToolTip::CursorSource previous_;
};

// Moves the mouse over the centre of a field, as the user does; the cursor source follows.
CToolTip* Hover(CCheckBoardType& page, TipCursor& cursor, int id) {
    const QPoint centre = page.GetDlgItem(id)->geometry().center();
    cursor.position = page.mapToGlobal(centre);
    // Through the window, as the system delivers it: the page finds out itself which
    // field lies under the mouse.
    // A move to where the mouse already is would not count: come from the side picture,
    // where no field lies.
    QWidget* window = page.window();
    const QPoint corner = page.mapToGlobal(QPoint(10, 10));
    QTest::mouseMove(window->windowHandle(), window->mapFromGlobal(corner));
    QTest::mouseMove(window->windowHandle(), window->mapFromGlobal(cursor.position));
    return CToolTip::Current();
}

void WaitForNoTip() {
    EXPECT_TRUE(WaitUntil([] { return CToolTip::Current() == nullptr; }));
}

TEST(InformationPageTest, HoveringTheFieldsShowsTheirDetailsInATip) {
    DeviceWizard run;
    run.DetectDevice();
    CCheckBoardType& page = run.wizard.information;
    TipCursor cursor;
    ASSERT_EQ(CToolTip::Current(), nullptr);

    CToolTip* tip = Hover(page, cursor, kIdCurrentFirmware);
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(tip->Lines(), QStringList{"Feb 03 2006 14:22:05"});
    const QRect field = page.GetDlgItem(kIdCurrentFirmware)->geometry();
    EXPECT_EQ(tip->pos(), page.mapToGlobal(field.topLeft()));
    const QFontMetrics metrics(page.font());
    EXPECT_EQ(tip->TipSize(),
              QSize(metrics.horizontalAdvance("Feb 03 2006 14:22:05") + 6, metrics.height() + 4));
    EXPECT_EQ(tip->Description().hotRect, field);
    EXPECT_TRUE(tip->isVisible());
    EXPECT_FALSE(tip->isActiveWindow());

    // Another field while the tip is open: nothing new.
    const QPointer<CToolTip> first(tip);
    EXPECT_EQ(Hover(page, cursor, kIdNewFirmware), tip);
    if (const CToolTip* alive = first.data()) {
        EXPECT_EQ(alive->Lines(), QStringList{"Feb 03 2006 14:22:05"});
    }
    // The cursor has left the first field: the tip slides out and goes.
    WaitForNoTip();

    tip = Hover(page, cursor, kIdNewFirmware);
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(tip->Lines(), QStringList{"May 15 2006 16:01:56"});
    cursor.position = QPoint(-100, -100);
    WaitForNoTip();

    tip = Hover(page, cursor, kIdBootloaderVersion);
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(tip->Lines(), (QStringList{"Tovrin", "1.1.1", "Nov 12 2007 09:41:17"}));
    cursor.position = QPoint(-100, -100);
    WaitForNoTip();

    // Every target pattern, the one shown in the field first.
    tip = Hover(page, cursor, kIdTargetBoardIds);
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(tip->Lines(), (QStringList{"0;0,4;0,1;0,7;*;*;N,5", "1;0;0,1;0,7;*;*;N,5",
                                         "4,7;0-3;0-7;0,7;Y;*;N,5"}));
    // A tip stays while the cursor does.
    Pump(400);
    EXPECT_EQ(CToolTip::Current(), tip);
    EXPECT_DOUBLE_EQ(tip->Reveal(), 1.0);

    // Leaving the page takes the tip away even with the cursor where the field was.
    Click(run.wizard.master, kIdWizBack);
    WaitForNoTip();
}

TEST(InformationPageTest, FieldsWithNothingToAddShowNoTip) {
    DevSimScenario scenario = FastScenario();
    scenario.firmwareBuild.clear();
    scenario.boardTypeId = "7;3;7;0;Y;x;N"; // the third pattern; the list has three
    DeviceWizard run(scenario);
    run.DetectDevice();
    CCheckBoardType& page = run.wizard.information;
    TipCursor cursor;
    EXPECT_EQ(Hover(page, cursor, kIdCurrentFirmware), nullptr);
    EXPECT_EQ(Hover(page, cursor, kIdBoardTypeId), nullptr);
    EXPECT_EQ(run.Text(page, kIdTargetBoardIds),
              QString::fromUtf8("4,7;0-3;0-7;0,7;Y;*;N,5 ... »"));
    CToolTip* tip = Hover(page, cursor, kIdTargetBoardIds);
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(tip->Lines().front(), "4,7;0-3;0-7;0,7;Y;*;N,5");
    cursor.position = QPoint(-100, -100);
    WaitForNoTip();

    // With a single target pattern there is nothing to list.
    run.wizard.master.targetTypes.resize(1);
    EXPECT_EQ(Hover(page, cursor, kIdTargetBoardIds), nullptr);
}

} // namespace
} // namespace quillon::test
