#include "QuillonVersion.h"
#include "WizardTestSupport.h"

#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace quillon::test {
namespace {

TEST(MasterDialogTest, CaptionVersionTextButtonsAndPlaceholder) {
    TestWizard wizard;
    wizard.Open();
    CMasterDlg& master = wizard.master;
    EXPECT_EQ(master.windowTitle(), "Veldra Firmware Upload Wizard - KOLM 1.4.6");

    const QString version = QStringLiteral("Version %1.%2.%3 (Build %4)\n")
                                .arg(kVersionMajor)
                                .arg(kVersionMinor)
                                .arg(kVersionPatch)
                                .arg(kVersionBuild);
    EXPECT_TRUE(master.VersionText().startsWith(version)) << master.VersionText().toStdString();
    const QStringList lines = master.VersionText().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].contains("Veldra Pty. Ltd."));
    EXPECT_EQ(master.GetDlgItemText(kIdVersionText), master.VersionText());

    EXPECT_EQ(master.GetDlgItemText(kIdWizBack), "< Back");
    EXPECT_EQ(master.GetDlgItemText(kIdWizNext), "Next >");
    EXPECT_EQ(master.GetDlgItemText(kIdCancel), "Close");
    EXPECT_TRUE(master.GetDlgItemAs<QPushButton>(kIdWizNext)->isDefault());
    EXPECT_EQ(master.GetDlgItem(kIdWizFinish), nullptr);
    EXPECT_FALSE(master.GetDlgItem(kIdPagePlaceholder)->isVisible());
    EXPECT_EQ(master.PlaceholderId(), kIdPagePlaceholder);
    // The first page covers the placeholder's corner and stays inside the dialog.
    EXPECT_EQ(wizard.licence.pos(), master.GetDlgItem(kIdPagePlaceholder)->pos());
    EXPECT_LE(wizard.licence.geometry().bottom(), master.GetDlgItem(kIdWizNext)->geometry().top());

    // The packages are loaded: the port page's idle check has target types to look at.
    EXPECT_FALSE(master.targetTypes.empty());
    EXPECT_EQ(master.packageFirmware.product, "KOLM");
}

TEST(MasterDialogTest, EnterNeverClosesTheWizard) {
    TestWizard wizard;
    MessageBoxRecorder boxes;
    const int result = RunModal(wizard.master, [&] {
        // Enter acts as Next: on the licence page it brings the refusal.
        QTest::keyClick(&wizard.master, Qt::Key_Return);
        EXPECT_EQ(boxes.Requests().size(), 1u);
        wizard.master.ActivatePageAt(4);
        wizard.master.EnableNext(false);
        QTest::keyClick(&wizard.master, Qt::Key_Enter);
        QTest::keyClick(&wizard.master, Qt::Key_Return);
        static_cast<QDialog&>(wizard.master).accept(); // the OK command
        Pump();
        EXPECT_TRUE(wizard.master.isVisible());
        Click(wizard.master, kIdCancel);
    });
    EXPECT_EQ(result, kIdCancel);
}

TEST(MasterDialogTest, IdleGoesToTheActivePageOnly) {
    TestWizard wizard;
    int licenceIdles = 0;
    int portIdles = 0;
    int licenceAfterLeaving = 0;
    RunModal(wizard.master, [&] {
        wizard.licence.SetMessageHandler(kWmKickIdle, [&](std::intptr_t, std::intptr_t) {
            ++licenceIdles;
            return std::intptr_t{0};
        });
        // Idle comes when the loop runs dry, which may take a while on a loaded machine.
        for (int i = 0; i < 500 && licenceIdles == 0; ++i) {
            Pump(20);
        }
        EXPECT_GT(licenceIdles, 0);
        wizard.GoToPortPage();
        wizard.port.SetMessageHandler(kWmKickIdle, [&](std::intptr_t, std::intptr_t) {
            ++portIdles;
            return std::intptr_t{0};
        });
        licenceAfterLeaving = licenceIdles;
        for (int i = 0; i < 500 && portIdles == 0; ++i) {
            Pump(20);
        }
    });
    EXPECT_GT(portIdles, 0);
    EXPECT_EQ(licenceIdles, licenceAfterLeaving);
}

TEST(MasterDialogTest, WithoutAFirmwareImageThePackageIsUnknownAndNextStaysOff) {
    TestWizard wizard;
    wizard.master.SetPackages({}, {});
    wizard.Open();
    EXPECT_EQ(wizard.master.windowTitle(), "Veldra Firmware Upload Wizard - Unknown");
    EXPECT_TRUE(wizard.master.targetTypes.empty());
    wizard.GoToPortPage();
    Pump();
    EXPECT_FALSE(IsEnabled(wizard.master, kIdWizNext));
}

} // namespace
} // namespace quillon::test
