#include "WizardTestSupport.h"
#include "platform/PseudoTerminal.h"
#include "platform/SerialPortDiscovery.h"
#include "tests/support/FakeSerialTree.h"
#include "wizard/CPortListModel.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace quillon::test {
namespace {

const QString kCannotOpen = QStringLiteral("Selected COM port could not be opened.");

QStringList Items(const CDialog& page) {
    QStringList items;
    auto* combo = page.GetDlgItemAs<QComboBox>(kIdPortCombo);
    for (int i = 0; combo != nullptr && i < combo->count(); ++i) {
        items << combo->itemText(i);
    }
    return items;
}

// What the list shows for each entry (the edit role, Items above, is the bare name).
QStringList Labels(const CDialog& page) {
    QStringList labels;
    auto* combo = page.GetDlgItemAs<QComboBox>(kIdPortCombo);
    for (int i = 0; combo != nullptr && i < combo->count(); ++i) {
        labels << combo->itemData(i, Qt::DisplayRole).toString();
    }
    return labels;
}

QString Dev(const testing::FakeSerialTree& tree, const char* name) {
    return QString::fromStdString((tree.Dev() / name).string());
}

testing::FakeUsbIdentity Adapter(const char* location, const char* serial) {
    testing::FakeUsbIdentity usb;
    usb.location = location;
    usb.serial = serial;
    return usb;
}

TEST(PortPageListTest, EachPortSaysWhatItIsAndTheFieldKeepsThePlainName) {
    testing::FakeSerialTree tree;
    tree.AddUsbSerial("ttyUSB0", testing::FakeUsbIdentity{});
    tree.AddAcm("ttyACM0", {"2341", "0043", "Arduino", "Uno \x1b\xff", "", "", "cdc_acm", "3-2"});
    tree.AddUart("ttyS0", 4);
    tree.AddUart("ttyS1", 0);
    tree.AddUsbSerial("ttyUSB1", Adapter("1-1.4", "GONE"), false); // no device node
    TestWizard wizard;
    wizard.port.SetDiscoveryRoots(tree.Roots());
    wizard.master.selectedPort = "COM1";
    wizard.Open();
    wizard.GoToPortPage();

    EXPECT_EQ(Items(wizard.port), (QStringList{Dev(tree, "ttyACM0"), Dev(tree, "ttyS0"),
                                               Dev(tree, "ttyUSB0"), Dev(tree, "ttyUSB1")}));
    EXPECT_EQ(Labels(wizard.port),
              (QStringList{Dev(tree, "ttyACM0") + " \u2014 Uno \\x1B\\xFF (Arduino)",
                           Dev(tree, "ttyS0") + " \u2014 built-in serial port",
                           Dev(tree, "ttyUSB0") + " \u2014 FT232R USB UART (FTDI), serial A1B2C3D4",
                           Dev(tree, "ttyUSB1") +
                               " \u2014 FT232R USB UART (FTDI), serial GONE (not available)"}));
    EXPECT_EQ(wizard.port.GetDlgItemText(kIdPortCombo), "COM1");

    // Picking an entry with the keyboard puts the bare name into the field, and that is
    // what the page hands on and the settings keep.
    auto* combo = wizard.port.GetDlgItemAs<QComboBox>(kIdPortCombo);
    ASSERT_NE(combo, nullptr);
    combo->lineEdit()->setFocus();
    combo->setCurrentIndex(0);
    QTest::keyClick(combo, Qt::Key_Down);
    QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(wizard.port.GetDlgItemText(kIdPortCombo), Dev(tree, "ttyUSB0"));
    Click(wizard.master, kIdWizBack);
    EXPECT_EQ(wizard.master.selectedPort, Dev(tree, "ttyUSB0").toStdString());
}

TEST(PortPageListTest, APortThisUserMayNotOpenIsMarked) {
    SerialPortInfo port;
    port.kind = "usb-serial";
    port.product = "FT232R USB UART";
    port.mayOpen = false;
    port.accessError = EACCES;
    EXPECT_EQ(CChoosePortPage::DescriptionOf(port), "FT232R USB UART (no permission)");
    port.accessError = EPERM;
    EXPECT_EQ(CChoosePortPage::DescriptionOf(port), "FT232R USB UART (no permission)");
    port.accessError = ENOENT;
    EXPECT_EQ(CChoosePortPage::DescriptionOf(port), "FT232R USB UART (not available)");
    port.mayOpen = true;
    port.accessError = 0;
    EXPECT_EQ(CChoosePortPage::DescriptionOf(port), "FT232R USB UART");
    port.kind.clear(); // a bare name from elsewhere
    EXPECT_EQ(CChoosePortPage::DescriptionOf(port), "");
}

// Plugging and pulling adapters while the page is shown, with either way of noticing it.
struct WatchCase {
    const char* label;
    CDeviceFolderWatch::Mode mode;
};

void PrintTo(const WatchCase& watch, std::ostream* out) {
    *out << watch.label;
}

class PortPageRefreshTest : public ::testing::TestWithParam<WatchCase> {};

TEST_P(PortPageRefreshTest, TheListFollowsPlugAndUnplugAndKeepsWhatTheUserTyped) {
    testing::FakeSerialTree tree;
    tree.AddUsbSerial("ttyUSB0", testing::FakeUsbIdentity{});
    TestWizard wizard;
    wizard.port.SetDiscoveryRoots(tree.Roots());
    wizard.port.SetWatchMode(GetParam().mode);
    wizard.Open();
    wizard.GoToPortPage();
    ASSERT_NE(wizard.port.Watch(), nullptr);
    EXPECT_TRUE(wizard.port.Watch()->IsWatching());
    EXPECT_EQ(wizard.port.Watch()->ActiveMode(), GetParam().mode);
    EXPECT_EQ(Items(wizard.port), QStringList{Dev(tree, "ttyUSB0")});
    wizard.TypePort("/dev/ttyU");
    auto* combo = wizard.port.GetDlgItemAs<QComboBox>(kIdPortCombo);
    combo->lineEdit()->setCursorPosition(5);

    // Plugged in: the new adapter appears with its by-id name made a moment later.
    tree.AddUsbSerial("ttyUSB1", Adapter("1-1.3", "B7"));
    tree.AddByIdLink("usb-FTDI_FT232R_USB_UART_B7-if00-port0", "../../ttyUSB1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Items(wizard.port).size() == 2; }, 10000))
        << Items(wizard.port).join(", ").toStdString();
    EXPECT_EQ(Labels(wizard.port).back(),
              Dev(tree, "ttyUSB1") + " \u2014 FT232R USB UART (FTDI), serial B7");
    EXPECT_EQ(wizard.port.GetDlgItemText(kIdPortCombo), "/dev/ttyU");
    EXPECT_EQ(combo->lineEdit()->cursorPosition(), 5);
    EXPECT_TRUE(IsEnabled(wizard.master, kIdWizNext));

    // Pulled out while the drop-down is open.
    combo->showPopup();
    tree.Remove("ttyUSB0");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Items(wizard.port).size() == 1; }, 10000));
    EXPECT_EQ(Items(wizard.port), QStringList{Dev(tree, "ttyUSB1")});
    combo->hidePopup();
    tree.Remove("ttyUSB1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Items(wizard.port).isEmpty(); }, 10000));
    EXPECT_EQ(wizard.port.GetDlgItemText(kIdPortCombo), "/dev/ttyU");

    // Away from the page nothing is watched; coming back finds what changed meanwhile.
    Click(wizard.master, kIdWizBack);
    EXPECT_FALSE(wizard.port.Watch()->IsWatching());
    tree.AddAcm("ttyACM3", testing::FakeUsbIdentity{});
    Click(wizard.master, kIdWizNext);
    EXPECT_EQ(Items(wizard.port), QStringList{Dev(tree, "ttyACM3")});
    EXPECT_TRUE(wizard.port.Watch()->IsWatching());
}

TEST_P(PortPageRefreshTest, ChangesElsewhereInTheDeviceFolderLeaveTheListAlone) {
    testing::FakeSerialTree tree;
    tree.AddUsbSerial("ttyUSB0", testing::FakeUsbIdentity{});
    TestWizard wizard;
    wizard.port.SetDiscoveryRoots(tree.Roots());
    wizard.port.SetWatchMode(GetParam().mode);
    wizard.Open();
    wizard.GoToPortPage();
    const int rebuilds = wizard.port.RefreshCount();
    const int scans = wizard.port.ScanCount();
    // Something that is no serial port comes: looked at, but the list is not rebuilt (an
    // open drop-down would jump).
    testing::FakeSerialTree::WriteFile(tree.Dev() / "loop0", "");
    tree.AddVirtual("tty5");
    ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.port.ScanCount() > scans; }, 10000));
    EXPECT_EQ(wizard.port.RefreshCount(), rebuilds);
    EXPECT_EQ(Items(wizard.port), QStringList{Dev(tree, "ttyUSB0")});
}

INSTANTIATE_TEST_SUITE_P(Watch, PortPageRefreshTest,
                         ::testing::Values(WatchCase{"Inotify", CDeviceFolderWatch::Mode::kInotify},
                                           WatchCase{"RescanTimer",
                                                     CDeviceFolderWatch::Mode::kRescanTimer}),
                         [](const ::testing::TestParamInfo<WatchCase>& param) {
                             return std::string(param.param.label);
                         });

// A discovery whose looks off the UI thread can be held at a gate; each look takes its
// answer before it waits, as a slow scan of the device folder would.
class HeldDiscovery {
public:
    void Set(std::vector<std::string> names, bool held) {
        {
            const std::lock_guard lock(mutex_);
            names_ = std::move(names);
            held_ = held;
        }
        gate_.notify_all();
    }
    void Hold(bool held) {
        {
            const std::lock_guard lock(mutex_);
            held_ = held;
        }
        gate_.notify_all();
    }
    bool Waiting() const { return waiting_.load(); }

    CChoosePortPage::Discovery Function() {
        return [this] {
            std::unique_lock lock(mutex_);
            std::vector<SerialPortInfo> ports;
            for (const std::string& name : names_) {
                ports.emplace_back().devicePath = name;
            }
            if (std::this_thread::get_id() != ui_) {
                waiting_ = held_;
                gate_.wait_for(lock, std::chrono::seconds(20), [this] { return !held_; });
                waiting_ = false;
            }
            return ports;
        };
    }

private:
    const std::thread::id ui_ = std::this_thread::get_id();
    std::mutex mutex_;
    std::condition_variable gate_;
    std::vector<std::string> names_;
    bool held_ = false;
    std::atomic<bool> waiting_{false};
};

TEST(PortPageRescanTest, ASlowLookRunsBesideTheWindowAndALateAnswerNeverReplacesANewerList) {
    HeldDiscovery discovery;
    discovery.Set({"/dev/ttyUSB0"}, false);
    TestWizard wizard;
    wizard.port.SetPortDiscovery(discovery.Function(), "/nonexistent");
    wizard.port.SetWatchMode(CDeviceFolderWatch::Mode::kRescanTimer);
    wizard.Open();
    wizard.GoToPortPage();
    EXPECT_EQ(Items(wizard.port), QStringList{"/dev/ttyUSB0"});

    // A rescan held up: the window goes on taking keys, and the list follows once the
    // look ends.
    discovery.Set({"/dev/ttyUSB1"}, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return discovery.Waiting(); }, 10000))
        << "no rescan off the UI thread";
    wizard.TypePort("COM7");
    EXPECT_EQ(wizard.port.GetDlgItemText(kIdPortCombo), "COM7");
    EXPECT_EQ(Items(wizard.port), QStringList{"/dev/ttyUSB0"});
    discovery.Hold(false);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Items(wizard.port).size() == 1 && Items(wizard.port)[0] == "/dev/ttyUSB1"; },
        10000));

    // A look taken before the page was left and entered again answers after the fresh
    // list of the entry: it is dropped, not shown over it.
    discovery.Hold(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return discovery.Waiting(); }, 10000));
    Click(wizard.master, kIdWizBack);
    discovery.Set({"/dev/ttyACM0"}, true);
    Click(wizard.master, kIdWizNext);
    EXPECT_EQ(Items(wizard.port), QStringList{"/dev/ttyACM0"});
    const int rebuilds = wizard.port.RefreshCount();
    const int scans = wizard.port.ScanCount();
    discovery.Hold(false);
    // Results arrive in order: once a later look has been shown, the late one has been
    // dealt with too.
    ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.port.ScanCount() > scans; }, 10000));
    EXPECT_EQ(wizard.port.RefreshCount(), rebuilds);
    EXPECT_EQ(Items(wizard.port), QStringList{"/dev/ttyACM0"});
}

TEST(PortDiscoveryTest, OffersUsbAcmAndBuiltInPortsWithAKnownUart) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    namespace fs = std::filesystem;
    const fs::path sys = root.path().toStdString();
    const fs::path tty = sys / "class" / "tty";
    const fs::path buses = sys / "bus";
    for (const char* bus : {"usb-serial", "usb", "amba", "pnp"}) {
        fs::create_directories(buses / bus);
    }
    auto port = [&](const char* name, const char* bus, const char* type) {
        fs::create_directories(tty / name / "device");
        if (bus != nullptr) {
            fs::create_directory_symlink(buses / bus, tty / name / "device" / "subsystem");
        }
        if (type != nullptr) {
            QFile file(QString::fromStdString((tty / name / "type").string()));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(type);
        }
    };
    port("ttyUSB0", "usb-serial", nullptr);
    port("ttyACM1", "usb", nullptr);
    port("ttyS0", "pnp", "4\n");
    port("ttyS1", "pnp", "0\n");   // a placeholder without a UART
    port("ttyS2", "pnp", nullptr); // nothing known either
    port("ttyAMA0", "amba", nullptr);
    port("ttyXRUSB0", "usb-serial", nullptr);
    fs::create_directories(tty / "tty0"); // a virtual terminal: no device
    fs::create_directories(tty / "ptmx");

    std::vector<std::string> found = FindSerialPorts(tty, "/dev");
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"/dev/ttyACM1", "/dev/ttyS0", "/dev/ttyUSB0",
                                               "/dev/ttyXRUSB0"}));
    EXPECT_TRUE(FindSerialPorts(sys / "missing", "/dev").empty());
}

TEST(PortDiscoveryTest, ExplainsWhyAPortCouldNotBeOpened) {
    EXPECT_NE(DescribeOpenFailure(EACCES, "/dev/ttyS0").find("\"dialout\" group"),
              std::string::npos);
    EXPECT_NE(DescribeOpenFailure(EBUSY, "/dev/ttyS0").find("in use"), std::string::npos);
    EXPECT_NE(DescribeOpenFailure(ENOENT, "/dev/ttyS9").find("no port /dev/ttyS9"),
              std::string::npos);
    EXPECT_NE(DescribeOpenFailure(ENOTTY, "/tmp/x").find("not a serial port"), std::string::npos);
    EXPECT_FALSE(DescribeOpenFailure(EIO, "/dev/ttyS0").empty());
}

TEST(PortPageTest, ListsThePortsInTextOrderAndShowsTheSavedNameEvenWhenUnlisted) {
    TestWizard wizard;
    wizard.port.SetPortFinder([] {
        return std::vector<std::string>{"COM2", "COM10", "COM1", "/dev/ttyUSB0"};
    });
    wizard.master.selectedPort = "/dev/ttyACM7";
    wizard.Open();
    wizard.GoToPortPage();
    EXPECT_EQ(Items(wizard.port), (QStringList{"/dev/ttyUSB0", "COM1", "COM10", "COM2"}));
    EXPECT_EQ(wizard.port.GetDlgItemText(kIdPortCombo), "/dev/ttyACM7");
    EXPECT_FALSE(wizard.port.IsDlgButtonChecked(kIdSlowMode));
    EXPECT_TRUE(IsEnabled(wizard.master, kIdWizNext));
    EXPECT_TRUE(IsEnabled(wizard.master, kIdWizBack));

    // The list is built once: coming back does not add the ports again.
    Click(wizard.master, kIdWizBack);
    Click(wizard.master, kIdWizNext);
    EXPECT_EQ(Items(wizard.port).size(), 4);
}

TEST(PortPageTest, NextFollowsTheTextAsItIsTypedAndOnIdleTheFirmwaresTargets) {
    TestWizard wizard;
    wizard.Open();
    wizard.GoToPortPage();
    ASSERT_FALSE(wizard.master.targetTypes.empty());
    wizard.TypePort("");
    EXPECT_FALSE(IsEnabled(wizard.master, kIdWizNext)); // at once, not on idle
    Pump();
    EXPECT_FALSE(IsEnabled(wizard.master, kIdWizNext));
    wizard.TypePort("C");
    EXPECT_TRUE(IsEnabled(wizard.master, kIdWizNext));
    Pump();
    EXPECT_TRUE(IsEnabled(wizard.master, kIdWizNext));

    // Without target board types, idle takes Next away again.
    wizard.master.targetTypes.clear();
    Pump();
    EXPECT_FALSE(IsEnabled(wizard.master, kIdWizNext));
    wizard.TypePort("CO");
    EXPECT_TRUE(IsEnabled(wizard.master, kIdWizNext));
    Pump();
    EXPECT_FALSE(IsEnabled(wizard.master, kIdWizNext));
}

TEST(PortPageTest, AnUnopenablePortGivesTheMessageWithTheReasonAndStays) {
    TestWizard wizard;
    wizard.Open();
    wizard.GoToPortPage();
    // The default name on a machine without that port.
    wizard.TypePort("/dev/quillon-no-such-port");
    {
        RealBoxAnswerer boxes;
        Click(wizard.master, kIdWizNext);
        ASSERT_EQ(boxes.Seen().size(), 1u);
        EXPECT_EQ(boxes.Seen()[0].caption, "Quillon");
        EXPECT_EQ(boxes.Seen()[0].text, kCannotOpen);
        EXPECT_EQ(boxes.Seen()[0].icon, QMessageBox::Warning);
        EXPECT_TRUE(boxes.Seen()[0].informative.contains("no port /dev/quillon-no-such-port"))
            << boxes.Seen()[0].informative.toStdString();
    }
    EXPECT_EQ(wizard.ActiveId(), CChoosePortPage::kTemplateId);
    EXPECT_FALSE(wizard.master.Link().IsOpen());
    EXPECT_EQ(wizard.master.selectedPort, "/dev/quillon-no-such-port");
    EXPECT_FALSE(wizard.connect.IsCreated());
}

TEST(PortPageTest, NextOpensThePortAt19200AndComingBackClosesIt) {
    PseudoTerminal device;
    ASSERT_EQ(device.Open(), 0);
    TestWizard wizard;
    wizard.Open();
    wizard.GoToPortPage();
    wizard.TypePort(QString::fromStdString(device.SlavePath()));
    MessageBoxRecorder boxes;

    Click(wizard.master, kIdWizNext);
    EXPECT_TRUE(boxes.Requests().empty());
    EXPECT_EQ(wizard.ActiveId(), CConnectPage::kTemplateId);
    ASSERT_TRUE(wizard.master.Link().IsOpen());
    EXPECT_EQ(wizard.master.Link().GetBaudRate(), 19200);
    EXPECT_EQ(wizard.master.Link().GetDataBits(), 8);
    EXPECT_EQ(wizard.master.Link().GetParity(), 0);
    EXPECT_EQ(wizard.master.Link().GetStopBits(), 0);
    EXPECT_EQ(wizard.master.Link().GetHandshake(), 0);
    EXPECT_EQ(wizard.master.Link().GetEventMask(), 0xC1u);
    EXPECT_EQ(device.SlaveBaudRate(), 19200u);

    Click(wizard.master, kIdWizBack);
    EXPECT_EQ(wizard.ActiveId(), CChoosePortPage::kTemplateId);
    EXPECT_FALSE(wizard.master.Link().IsOpen());

    // The line was left at another speed; Next sets 19200 again.
    Click(wizard.master, kIdWizNext);
    ASSERT_TRUE(wizard.master.Link().IsOpen());
    wizard.master.Link().ConfigureLine(115200, 8, 0, 0);
    Click(wizard.master, kIdWizBack);
    Click(wizard.master, kIdWizNext);
    ASSERT_TRUE(wizard.master.Link().IsOpen());
    EXPECT_EQ(wizard.master.Link().GetBaudRate(), 19200);
    EXPECT_EQ(device.SlaveBaudRate(), 19200u);
    EXPECT_TRUE(boxes.Requests().empty());
}

TEST(PortPageTest, APortHeldByAnotherProgramIsReportedAsInUse) {
    PseudoTerminal device;
    ASSERT_EQ(device.Open(), 0);
    CFWUplSerialEx holder;
    ASSERT_EQ(holder.Open(device.SlavePath(), 2048, 2048, true), kOk);
    TestWizard wizard;
    wizard.Open();
    wizard.GoToPortPage();
    wizard.TypePort(QString::fromStdString(device.SlavePath()));
    MessageBoxRecorder boxes;
    Click(wizard.master, kIdWizNext);
    ASSERT_EQ(boxes.Requests().size(), 1u);
    EXPECT_EQ(boxes.Requests()[0].text, kCannotOpen);
    EXPECT_TRUE(boxes.Requests()[0].detail.contains("in use"))
        << boxes.Requests()[0].detail.toStdString();
    EXPECT_EQ(wizard.ActiveId(), CChoosePortPage::kTemplateId);
    holder.Close();
    Click(wizard.master, kIdWizNext);
    EXPECT_EQ(wizard.ActiveId(), CConnectPage::kTemplateId);
}

TEST(PortPageTest, SlowModeAndThePortNameAreTakenWhenThePageIsLeft) {
    TestWizard wizard;
    wizard.port.SetSlowMode(true);
    wizard.Open();
    wizard.GoToPortPage();
    EXPECT_TRUE(wizard.port.IsDlgButtonChecked(kIdSlowMode));
    Click(wizard.port, kIdSlowMode);
    wizard.TypePort("ttyUSB4");
    EXPECT_TRUE(wizard.port.SlowMode()); // not before the page is left
    Click(wizard.master, kIdWizBack);
    EXPECT_FALSE(wizard.port.SlowMode());
    EXPECT_FALSE(wizard.master.SlowMode());
    EXPECT_EQ(wizard.master.selectedPort, "ttyUSB4");
    Click(wizard.master, kIdWizNext);
    Click(wizard.port, kIdSlowMode);
    wizard.master.DestroyWindow(); // closing the wizard leaves the page too
    EXPECT_TRUE(wizard.port.SlowMode());
    EXPECT_TRUE(wizard.master.SlowMode());
}

TEST(PortPageTest, TheHiddenFieldsCarryThePackageVersion) {
    TestWizard wizard;
    wizard.Open();
    wizard.GoToPortPage();
    EXPECT_FALSE(wizard.port.GetDlgItem(kIdNewFirmwareLabel)->isVisible());
    EXPECT_FALSE(wizard.port.GetDlgItem(kIdNewFirmwareVersion)->isVisible());
    const VersionDescriptor& package = wizard.master.packageFirmware;
    ASSERT_FALSE(package.product.empty());
    EXPECT_EQ(wizard.port.GetDlgItemText(kIdNewFirmwareVersion).toStdString(),
              package.product + " v." + package.text);

    wizard.master.packageFirmware.product.clear();
    wizard.port.UpdateData(false);
    EXPECT_EQ(wizard.port.GetDlgItemText(kIdNewFirmwareVersion).toStdString(), package.text);
    wizard.master.packageFirmware.product = "KOLM";
    wizard.master.packageFirmware.text = "UNKNOWN";
    wizard.port.UpdateData(false);
    EXPECT_EQ(wizard.port.GetDlgItemText(kIdNewFirmwareVersion), "UNKNOWN");
}

} // namespace
} // namespace quillon::test
