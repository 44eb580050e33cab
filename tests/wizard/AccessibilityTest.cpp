// Keyboard and screen-reader access, page by page: the role and name assistive technology
// gets for each control, where the focus lands on arrival, the Tab order, Return as Next
// wherever the focus is, the announced texts and the interrupt question's default (No).
// The end-to-end check over AT-SPI is tests/a11y/keyboard-check.

#include "wizard/Accessibility.h"

#include "DeviceWizard.h"
#include "upload/UploadTexts.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <chrono>
#include <gtest/gtest.h>
#include <utility>

namespace quillon::test {
namespace {

using namespace std::chrono_literals;

constexpr int kPane = 0; // the page itself

// What assistive technology gets for one control of a page.
struct Seen {
    int id;
    QAccessible::Role role;
    QString name;
    QString value = {}; // checked when not null
};

QAccessibleInterface* Iface(QWidget* widget) {
    return QAccessible::queryAccessibleInterface(widget);
}

void ExpectSeen(CDialog& page, const std::vector<Seen>& table) {
    for (const Seen& row : table) {
        QWidget* widget = row.id == kPane ? &page : page.GetDlgItem(row.id);
        ASSERT_NE(widget, nullptr) << row.id;
        QAccessibleInterface* iface = Iface(widget);
        EXPECT_EQ(iface->role(), row.role) << row.id;
        EXPECT_EQ(iface->text(QAccessible::Name), row.name) << row.id;
        if (!row.value.isNull()) {
            EXPECT_EQ(iface->text(QAccessible::Value), row.value) << row.id;
        }
    }
    // Every control the page lists has a name of its own, none is only its value, and the
    // side picture (a decoration) is not listed.
    QAccessibleInterface* pane = Iface(&page);
    for (int i = 0; i < pane->childCount(); ++i) {
        QAccessibleInterface* child = pane->child(i);
        EXPECT_NE(child->role(), QAccessible::Graphic);
        const QString name = child->text(QAccessible::Name);
        if (child->state().focusable || child->role() == QAccessible::ProgressBar) {
            EXPECT_FALSE(name.isEmpty()) << child->role();
            EXPECT_NE(name, child->text(QAccessible::Value)) << name.toStdString();
        }
    }
}

// The names Tab visits from the focus on arrival until it is back there.
QStringList TabRound() {
    QStringList names;
    QWidget* start = QApplication::focusWidget();
    QWidget* widget = start;
    for (int i = 0; i < 20 && widget != nullptr; ++i) {
        names << Iface(widget)->text(QAccessible::Name);
        QTest::keyClick(widget, Qt::Key_Tab);
        widget = QApplication::focusWidget();
        if (widget == start) {
            break;
        }
    }
    return names;
}

void Key(int key) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    QTest::keyClick(focus, static_cast<Qt::Key>(key));
}

void Activate(CMasterDlg& master) {
    master.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&master));
}

// Records which live texts were announced, with the name assistive technology reads.
class Announcements {
public:
    Announcements() {
        previous_ = SetAnnouncementHook([this](const QWidget& label) {
            const QAccessibleInterface* iface = Iface(const_cast<QWidget*>(&label));
            if (iface->role() == QAccessible::Notification) {
                texts << iface->text(QAccessible::Name);
            }
        });
    }
    ~Announcements() { SetAnnouncementHook(previous_); }
    Announcements(const Announcements&) = delete;
    Announcements& operator=(const Announcements&) = delete;
    QStringList texts;

private:
    AnnouncementHook previous_;
};

TEST(AccessibilityTest, LicencePage) {
    TestWizard wizard;
    wizard.Open();
    Activate(wizard.master);
    CLicensePage& page = wizard.licence;
    ExpectSeen(page, {
                         {kPane, QAccessible::Pane, "Welcome to the Veldra Firmware Upload Wizard"},
                         {kIdLicenceText, QAccessible::EditableText, "Licence agreement"},
                         {kIdAccept, QAccessible::RadioButton, "I accept the agreement"},
                         {kIdDecline, QAccessible::RadioButton, "I do not accept the agreement"},
                     });
    EXPECT_EQ(QApplication::focusWidget(), page.GetDlgItem(kIdLicenceText));
    EXPECT_EQ(TabRound(),
              (QStringList{"Licence agreement", "I accept the agreement", "Next >", "Close"}));

    // Return is Next from the text: refused while the agreement is declined.
    MessageBoxRecorder boxes;
    Key(Qt::Key_Return);
    EXPECT_EQ(boxes.Requests().size(), 1u);
    // Tab to the acceptance, Space, Return: the port page, focus in its field.
    Key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), page.GetDlgItem(kIdAccept));
    Key(Qt::Key_Space);
    Key(Qt::Key_Return);
    EXPECT_EQ(wizard.ActiveId(), CChoosePortPage::kTemplateId);
    EXPECT_EQ(QApplication::focusWidget(), wizard.port.GetDlgItem(kIdPortCombo));
}

TEST(AccessibilityTest, PortPage) {
    TestWizard wizard;
    const QString missing = "/nonexistent/ttyQUILLON";
    wizard.master.selectedPort = missing.toStdString();
    wizard.port.SetPortFinder([] { return std::vector<std::string>{"/dev/ttyQUILLON0"}; });
    wizard.Open();
    Activate(wizard.master);
    wizard.GoToPortPage();
    CChoosePortPage& page = wizard.port;
    const QString heading =
        "Choose the serial port of the computer the Veldra device is connected to.";
    ExpectSeen(page, {
                         {kPane, QAccessible::Pane, heading},
                         {kIdPortCombo, QAccessible::ComboBox, "Serial port", missing},
                         {kIdSlowMode, QAccessible::CheckBox, "Slow mode"},
                     });
    auto* combo = page.GetDlgItemAs<QComboBox>(kIdPortCombo);
    EXPECT_EQ(Iface(combo->lineEdit())->text(QAccessible::Name), "Serial port");
    const auto labels = Iface(combo)->relations(QAccessible::Label);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels[0].first->text(QAccessible::Name), heading);

    // Clicked on, Next has the focus; the page takes it back on arrival.
    EXPECT_EQ(QApplication::focusWidget(), combo);
    EXPECT_EQ(TabRound(), (QStringList{"Serial port", "Slow mode", "< Back", "Next >", "Close"}));

    // Back in the field by Tab (its text selected whole), Return is Next and keeps the name
    // (the completer would put the listed port in); on Back too. The port cannot be opened:
    // the message says that Next ran.
    MessageBoxRecorder boxes;
    Key(Qt::Key_Return);
    EXPECT_EQ(combo->currentText(), missing);
    wizard.master.GetDlgItem(kIdWizBack)->setFocus();
    Key(Qt::Key_Return);
    EXPECT_EQ(boxes.Texts(), QStringList(2, "Selected COM port could not be opened."));
    EXPECT_EQ(wizard.ActiveId(), CChoosePortPage::kTemplateId);
    // With Next disabled Return does nothing; Space still acts on the focused Back.
    wizard.TypePort("");
    ASSERT_FALSE(IsEnabled(wizard.master, kIdWizNext));
    Key(Qt::Key_Return);
    EXPECT_EQ(boxes.Requests().size(), 2u);
    EXPECT_EQ(wizard.ActiveId(), CChoosePortPage::kTemplateId);
    wizard.master.GetDlgItem(kIdWizBack)->setFocus();
    Key(Qt::Key_Space);
    EXPECT_EQ(wizard.ActiveId(), CLicensePage::kTemplateId);
    EXPECT_EQ(QApplication::focusWidget(), wizard.licence.GetDlgItem(kIdLicenceText));
}

TEST(AccessibilityTest, DetectionPage) {
    DevSimScenario scenario = FastScenario();
    scenario.powerUpDelay = 2s;
    DeviceWizard run(scenario);
    run.wizard.Open();
    Activate(run.wizard.master);
    Announcements announced;
    run.OpenAtPortPage();
    Key(Qt::Key_Return);
    ASSERT_EQ(run.wizard.ActiveId(), CConnectPage::kTemplateId);
    CConnectPage& page = run.wizard.connect;
    ExpectSeen(page,
               {
                   {kPane, QAccessible::Pane, "Please power up the device now."},
                   {kIdDetectTitle, QAccessible::Notification, "Please power up the device now."},
               });
    // No input here: the page itself has the focus, Back and Close come after it.
    EXPECT_EQ(QApplication::focusWidget(), &page);
    EXPECT_EQ(TabRound(), (QStringList{"Please power up the device now.", "< Back", "Close"}));

    // The automatic move puts the focus into the information page.
    ASSERT_TRUE(run.WaitForPage(CCheckBoardType::kTemplateId));
    EXPECT_TRUE(announced.texts.contains(QString::fromLatin1(texts::kActivated)));
    EXPECT_EQ(QApplication::focusWidget(), &run.wizard.information);
}

TEST(AccessibilityTest, InformationPage) {
    DevSimScenario scenario = FastScenario();
    scenario.firmwareVersion = "1.4.6"; // as the package: the warning
    DeviceWizard run(scenario);
    run.wizard.Open();
    Activate(run.wizard.master);
    Announcements announced;
    run.DetectDevice();
    CCheckBoardType& page = run.wizard.information;
    ExpectSeen(page,
               {
                   {kPane, QAccessible::Pane,
                    "Please verify the following information and decide whether you wish to "
                    "proceed."},
                   {kIdBoardTypeId, QAccessible::StaticText, "Board type ID: 0;4;1;7;Y;3;5"},
                   {kIdBootloaderVersion, QAccessible::StaticText, "Bootloader version: 1.1.1"},
                   {kIdNewFirmware, QAccessible::StaticText, "New firmware version: KOLM 1.4.6"},
               });
    const QString warning = run.Text(page, kIdMismatchWarning);
    ASSERT_TRUE(warning.startsWith("The current firmware version"));
    EXPECT_EQ(Iface(page.GetDlgItem(kIdMismatchWarning))->role(), QAccessible::Notification);
    EXPECT_TRUE(announced.texts.contains(warning.simplified()));
    // The complete target board list, which the mouse gets as a tip, is the description.
    EXPECT_EQ(Iface(page.GetDlgItem(kIdTargetBoardIds))->text(QAccessible::Description),
              "0;0,4;0,1;0,7;*;*;N,5\n1;0;0,1;0,7;*;*;N,5\n4,7;0-3;0-7;0,7;Y;*;N,5");

    EXPECT_EQ(QApplication::focusWidget(), &page);
    const QStringList order = TabRound();
    ASSERT_EQ(order.size(), 11);
    EXPECT_EQ(order[1], "Board type ID: 0;4;1;7;Y;3;5");
    EXPECT_TRUE(order[6].startsWith("New firmware version"));
    EXPECT_EQ(order[7], warning.simplified());
    EXPECT_EQ(order.mid(8), (QStringList{"< Back", "Next >", "Close"}));
}

TEST(AccessibilityTest, UploadPage) {
    DevSimScenario scenario = FastScenario();
    scenario.programmingTime = 50ms; // long enough to ask the question meanwhile
    DeviceWizard run(scenario);
    run.wizard.Open();
    Activate(run.wizard.master);
    Announcements announced;
    run.DetectDevice();
    Key(Qt::Key_Return);
    ASSERT_EQ(run.wizard.ActiveId(), CUploadPage::kTemplateId);
    CUploadPage& page = run.wizard.upload;
    // The page takes the focus once its activation has been handled, which a loaded
    // machine may deliver a little after the page change.
    EXPECT_TRUE(WaitUntil([&] { return QApplication::focusWidget() == &page; }));
    ASSERT_TRUE(WaitUntil([&] { return run.Text(page, kIdUploadPercent) != "0% Complete"; }));
    ExpectSeen(page, {{kPane, QAccessible::Pane, run.Text(page, kIdUploadStatus)},
                      {kIdUploadProgress, QAccessible::ProgressBar, "Upload progress",
                       run.Text(page, kIdUploadPercent)}});

    // Escape: the interrupt question, No focused and the default; taking it goes on.
    RealBoxAnswerer boxes([] {
        const auto* box = static_cast<QMessageBox*>(QApplication::activeModalWidget());
        // The box's own focus child: the window system may activate the box a moment later.
        EXPECT_EQ(box->focusWidget(), static_cast<QWidget*>(box->button(QMessageBox::No)));
    });
    Key(Qt::Key_Escape);
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].text, QString::fromLatin1(CUploadPage::kInterruptQuestion));
    EXPECT_TRUE(run.wizard.master.isVisible());

    const QString succeeded = QString::fromLatin1(texts::kTransferSucceeded);
    ASSERT_TRUE(WaitUntil([&] { return run.Text(page, kIdUploadStatus) == succeeded; }));
    EXPECT_TRUE(announced.texts.contains(succeeded));
    EXPECT_EQ(Iface(&page)->text(QAccessible::Name), succeeded);
}

} // namespace
} // namespace quillon::test
