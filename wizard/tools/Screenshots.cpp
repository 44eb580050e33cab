// Renders the master dialog with each page, in its main states, into PNG files so the
// look can be reviewed without a display: quillon-screenshots <output folder>. The pages
// are driven as a user drives them, against simulated devices on pseudo-terminals; the
// few states no simulated device can bring about are set up in the core's data.

#include "package/RecordHeader.h"
#include "platform/PseudoTerminal.h"
#include "platform/SerialPortDiscovery.h"
#include "resources/EmbeddedResources.h"
#include "tests/support/FakeSerialTree.h"
#include "tools/devsim/CDeviceSimulator.h"
#include "tools/devsim/DevSimScenario.h"
#include "upload/DeviceIdentification.h"
#include "wizard/CCheckBoardType.h"
#include "wizard/CChoosePortPage.h"
#include "wizard/CConnectPage.h"
#include "wizard/CLicensePage.h"
#include "wizard/CMasterDlg.h"
#include "wizard/CToolTip.h"
#include "wizard/CUploadPage.h"
#include "wizard/MessageBox.h"
#include "wizard/SidePicture.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace {

using namespace quillon;
using namespace std::chrono_literals;

QString g_folder;
int g_failures = 0;

void Pump(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until the condition holds; complains when it never does.
bool WaitFor(const std::function<bool()>& condition, const char* what, int timeoutMs = 60000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) {
            std::fprintf(stderr, "quillon-screenshots: gave up waiting for %s\n", what);
            ++g_failures;
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

void Write(const QPixmap& image, const QString& name) {
    const QString path = g_folder + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!image.save(path)) {
        std::fprintf(stderr, "quillon-screenshots: cannot write %s\n", qPrintable(path));
        ++g_failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

// The window as it looks, with the pop-ups that lie over it (tips, message boxes) drawn
// where they are on the screen.
QPixmap Composite(QWidget& base, const std::vector<QWidget*>& above) {
    QPixmap image = base.grab();
    QPainter painter(&image);
    const QPoint origin = base.mapToGlobal(QPoint(0, 0));
    for (QWidget* window : above) {
        if (window != nullptr && window->isVisible()) {
            painter.drawPixmap(window->mapToGlobal(QPoint(0, 0)) - origin, window->grab());
        }
    }
    return image;
}

void Save(QWidget& widget, const QString& name, const std::vector<QWidget*>& above = {}) {
    Pump(50);
    Write(Composite(widget, above), name);
}

void Click(CDialog& dialog, int id) {
    if (auto* button = dynamic_cast<QAbstractButton*>(dialog.GetDlgItem(id))) {
        button->click();
    }
}

// Shows the real message box a click brings up, saves it, then answers it with the given
// button (its default button when none is given).
void ClickAndCaptureBox(CDialog& dialog, int id, const QString& name,
                        std::optional<QMessageBox::StandardButton> answer = std::nullopt) {
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&timer, &name, &dialog, answer] {
        auto* box = dynamic_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        timer.stop();
        Save(*box, name);
        Save(*dialog.window(), name + QStringLiteral("-over-wizard"), {box});
        QAbstractButton* button = answer ? box->button(*answer) : box->defaultButton();
        if (button == nullptr) {
            button = box->buttons().front();
        }
        button->click();
    });
    timer.start();
    Click(dialog, id);
}

QString TextOf(const CDialog& page, int id) {
    return page.GetDlgItemText(id);
}

DevSimScenario QuickDevice() {
    DevSimScenario scenario;
    scenario.pacing = false;
    return scenario;
}

// The wizard with its five pages, as the application puts it together.
struct Wizard {
    Wizard() {
        portPage.SetPortFinder([] {
            return std::vector<std::string>{"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyACM0"};
        });
        master.selectedPort = "/dev/ttyUSB0";
        master.AddPage(licence, CLicensePage::kTemplateId);
        master.AddPage(portPage, CChoosePortPage::kTemplateId);
        master.AddPage(connect, CConnectPage::kTemplateId);
        master.AddPage(information, CCheckBoardType::kTemplateId);
        master.AddPage(upload, CUploadPage::kTemplateId);
    }
    ~Wizard() { master.DestroyWindow(); }
    Wizard(const Wizard&) = delete;
    Wizard& operator=(const Wizard&) = delete;

    int ActiveId() const {
        const CNewWizPage* page = master.GetActivePage();
        return page == nullptr ? 0 : page->TemplateId();
    }
    bool WaitForPage(int id, const char* what) {
        return WaitFor([this, id] { return ActiveId() == id; }, what);
    }
    void UsePort(const std::string& path) {
        portPage.SetDlgItemText(kIdPortCombo, QString::fromStdString(path));
        master.EnableNext(true);
    }

    CMasterDlg master;
    CLicensePage licence;
    CChoosePortPage portPage;
    CConnectPage connect;
    CCheckBoardType information;
    CUploadPage upload;
};

// Simulated devices, kept until the end so their ports stay valid.
std::vector<std::unique_ptr<CDeviceSimulator>> g_devices;

CDeviceSimulator& NewDevice(const DevSimScenario& scenario) {
    g_devices.push_back(std::make_unique<CDeviceSimulator>(scenario));
    if (g_devices.back()->Start() != kOk) {
        std::fprintf(stderr, "quillon-screenshots: the device simulator did not start\n");
        ++g_failures;
    }
    return *g_devices.back();
}

// From the port page through detection to the information page, with the device given.
bool DetectOn(Wizard& wizard, const DevSimScenario& scenario, const char* what) {
    wizard.UsePort(NewDevice(scenario).SlavePath());
    Click(wizard.master, kIdWizNext);
    return wizard.WaitForPage(CCheckBoardType::kTemplateId, what);
}

// Shows the information page again as it judges the core's data now.
void Reassess(Wizard& wizard) {
    wizard.master.ActivatePageAt(3);
}

void TheWholeRoad(Wizard& wizard) {
    CMasterDlg& master = wizard.master;
    Save(master, QStringLiteral("01-licence"));
    ClickAndCaptureBox(master, kIdWizNext, QStringLiteral("02-licence-refused"));
    Click(wizard.licence, kIdAccept);
    if (auto* text = wizard.licence.GetDlgItemAs<QPlainTextEdit>(kIdLicenceText)) {
        text->verticalScrollBar()->setValue(text->verticalScrollBar()->maximum() / 2);
    }
    Save(master, QStringLiteral("03-licence-accepted"));

    Click(master, kIdWizNext);
    Save(master, QStringLiteral("04-port"));
    wizard.portPage.SetDlgItemText(kIdPortCombo, QStringLiteral("/dev/ttyNOSUCH7"));
    ClickAndCaptureBox(master, kIdWizNext, QStringLiteral("05-port-open-failed"));

    // A device that is still switched off: the page waits for it.
    DevSimScenario first = QuickDevice();
    first.poweredAtStart = false;
    CDeviceSimulator& device = NewDevice(first);
    wizard.UsePort(device.SlavePath());
    Click(master, kIdWizNext);
    Save(master, QStringLiteral("06-detection-waiting"));

    wizard.connect.SetAdvanceDelay(3s);
    device.PowerOn();
    if (WaitFor([&] { return TextOf(wizard.connect, kIdDetectTitle) == "Bootloader activated..."; },
                "the activated bootloader")) {
        Save(master, QStringLiteral("07-detection-activated"));
    }
    if (!wizard.WaitForPage(CCheckBoardType::kTemplateId, "the information page")) {
        return;
    }
    Save(master, QStringLiteral("08-information-accepted"));

    // The tip of the target board types, with the cursor resting on the field.
    QWidget* targets = wizard.information.GetDlgItem(kIdTargetBoardIds);
    const QPoint hover = targets->geometry().center();
    QPoint cursor = wizard.information.mapToGlobal(hover);
    CToolTip::SetCursorSource([&cursor] { return cursor; });
    wizard.information.OnMouseMove(hover);
    if (WaitFor([] { return CToolTip::Current() != nullptr && CToolTip::Current()->Reveal() >= 1; },
                "the tip")) {
        Save(master, QStringLiteral("09-information-tip"), {CToolTip::Current()});
    }
    cursor = QPoint(-100, -100);
    WaitFor([] { return CToolTip::Current() == nullptr; }, "the tip to go");

    Click(master, kIdWizNext);
    if (WaitFor(
            [&] {
                QString text = TextOf(wizard.upload, kIdUploadPercent);
                text.chop(QStringLiteral("% Complete").size());
                return text.toInt() >= 40;
            },
            "the upload's progress")) {
        Save(master, QStringLiteral("10-upload-progress"));
        ClickAndCaptureBox(master, kIdCancel, QStringLiteral("11-upload-close-question"),
                           QMessageBox::No);
    }
    if (WaitFor([&] { return !wizard.upload.IsTransferRunning(); }, "the upload's end")) {
        Save(master, QStringLiteral("12-upload-succeeded"));
    }

    // The other outcomes of the information page, each with a device of its own.
    Click(master, kIdWizBack);
    DevSimScenario same = QuickDevice();
    same.firmwareVersion = "1.4.6";
    same.firmwareBuild = "May 15 2006 16:01:56";
    if (DetectOn(wizard, same, "the warning")) {
        Save(master, QStringLiteral("13-information-warned"));
    }
    Click(master, kIdWizBack);
    DevSimScenario foreign = QuickDevice();
    foreign.boardTypeId = "9;9;9;9;Y;3;5";
    if (DetectOn(wizard, foreign, "the unsuitable board")) {
        Save(master, QStringLiteral("14-information-refused-board"));
    }
    Click(master, kIdWizBack);
    DevSimScenario older = QuickDevice();
    older.bootloaderVersion = "1.0.10";
    if (DetectOn(wizard, older, "the missing flash module")) {
        Save(master, QStringLiteral("16-information-refused-flash"));
        // No shipped module needs more than the minimum bootloader, so a device reporting
        // an older one cannot have its board read: shown from the core's data.
        ApplyDeviceLines({"VERS:1.0.9", "PROD:Tovrin", "BILD:Jun 02 2006 10:11:12"},
                         master.deviceBootloader, kUnknownText);
        master.flashModuleName = "FlashMod5";
        Reassess(wizard);
        Save(master, QStringLiteral("15-information-refused-bootloader"));
        // Every shipped flash module variant has its CRC module: likewise.
        ApplyDeviceLines({"VERS:1.1.1", "PROD:Tovrin"}, master.deviceBootloader, kUnknownText);
        master.crcModuleName = "FwCRCMod7";
        Reassess(wizard);
        Save(master, QStringLiteral("17-information-refused-crc"));
    }

    // A device whose CRC check fails: the error box over the failed transfer.
    Click(master, kIdWizBack);
    DevSimScenario failing = QuickDevice();
    failing.crcVerdict = DevSimCrcVerdict::Bad;
    if (DetectOn(wizard, failing, "the failing device")) {
        Click(master, kIdWizNext);
        if (WaitFor([&] { return !wizard.upload.IsTransferRunning(); }, "the failed upload")) {
            const std::vector<QMessageBox*> boxes = wizard.upload.OpenErrorBoxes();
            std::vector<QWidget*> above(boxes.begin(), boxes.end());
            Save(master, QStringLiteral("18-upload-failed"), above);
            if (!boxes.empty()) {
                Save(*boxes.front(), QStringLiteral("19-upload-failed-box"));
                boxes.front()->button(QMessageBox::Ok)->click();
            }
            Save(master, QStringLiteral("20-upload-failed-after-box"));
        }
    }
    master.EndDialog(kIdCancel);
}

// A wizard on another utility package, opened and taken to the detection page.
void DamagedUtility(const std::vector<std::uint8_t>& utility, const QString& name,
                    const std::string& port, bool expectBox) {
    Wizard wizard;
    wizard.master.SetPackages(utility, EmbeddedResources::FirmwareImage());
    wizard.master.Create();
    wizard.master.show();
    Click(wizard.licence, kIdAccept);
    Click(wizard.master, kIdWizNext);
    wizard.UsePort(port);
    if (expectBox) {
        ClickAndCaptureBox(wizard.master, kIdWizNext, name);
    } else {
        Click(wizard.master, kIdWizNext);
        Save(wizard.master, name);
    }
}

// The port page on a machine with several adapters (a faked sysfs tree read by the real
// discovery; the names are shown as under /dev), then with one more plugged in while the
// list is open.
void DescribedPorts() {
    testing::FakeSerialTree tree;
    tree.AddUart("ttyS0", 4);
    tree.AddUart("ttyS1", 0);
    tree.AddUsbSerial("ttyUSB0", testing::FakeUsbIdentity{});
    tree.AddByIdLink("usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0", "../../ttyUSB0");
    tree.AddAcm("ttyACM0", {"2341", "0043", "Arduino (www.arduino.cc)", "Arduino Uno",
                            "75833353035351E0C1E1", "", "cdc_acm", "3-2"});
    tree.AddUsbSerial("ttyUSB1",
                      {"10c4", "ea60", "Silicon Labs", "CP2102 USB to UART Bridge Controller",
                       "0001", "", "cp210x", "1-1.4"},
                      false); // its node is missing: marked as not available
    const DiscoveryRoots roots = tree.Roots();

    Wizard wizard;
    wizard.portPage.SetPortDiscovery(
        [roots] {
            std::vector<SerialPortInfo> ports = DiscoverSerialPorts(roots, HolderScan::kWithout);
            for (SerialPortInfo& port : ports) {
                port.devicePath = "/dev/" + port.name;
            }
            return ports;
        },
        roots.dev);
    wizard.master.selectedPort = "/dev/ttyUSB0";
    wizard.master.Create();
    wizard.master.show();
    Click(wizard.licence, kIdAccept);
    Click(wizard.master, kIdWizNext);
    auto* combo = wizard.portPage.GetDlgItemAs<QComboBox>(kIdPortCombo);
    if (combo == nullptr) {
        ++g_failures;
        return;
    }
    combo->showPopup();
    QWidget* popup = combo->view()->window();
    Save(wizard.master, QStringLiteral("23-port-described"), {popup});

    const int before = wizard.portPage.RefreshCount();
    tree.AddUsbSerial("ttyUSB2", {"0403", "6015", "FTDI", "FT230X Basic UART", "DK0F9XQ2", "",
                                  "ftdi_sio", "1-1.3"});
    tree.AddByIdLink("usb-FTDI_FT230X_Basic_UART_DK0F9XQ2-if00-port0", "../../ttyUSB2");
    if (WaitFor([&] { return wizard.portPage.RefreshCount() > before && combo->count() == 5; },
                "the plugged-in adapter")) {
        combo->hidePopup();
        combo->showPopup();
        Save(wizard.master, QStringLiteral("24-port-after-hotplug"), {combo->view()->window()});
    }
    combo->hidePopup();
}

void WriteU16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value & 0xFF);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication application(argc, argv);
    g_folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    if (!QDir().mkpath(g_folder)) {
        std::fprintf(stderr, "quillon-screenshots: cannot create %s\n", qPrintable(g_folder));
        return 1;
    }

    const QString icon = g_folder + QStringLiteral("/00-icon.png");
    if (RenderAppIcon(64).save(icon)) {
        std::printf("%s\n", qPrintable(icon));
    }

    {
        Wizard wizard;
        QTimer::singleShot(0, &wizard.master, [&wizard] { TheWholeRoad(wizard); });
        wizard.master.DoModal();
    }

    // The utility package's two faults, each in a wizard of its own.
    PseudoTerminal port;
    if (port.Open() != 0) {
        std::fprintf(stderr, "quillon-screenshots: no pseudo-terminal\n");
        return 1;
    }
    const std::span<const std::uint8_t> shipped = EmbeddedResources::UtilityPackage();
    std::vector<std::uint8_t> noBlocks(shipped.begin(), shipped.end());
    for (std::size_t at = 0; at + kRecordHeaderSize <= noBlocks.size();) {
        if ((noBlocks[at + 2] | (noBlocks[at + 3] << 8)) == kActivationBlock) {
            WriteU16(noBlocks, at + 2, kActivationBlock + 1);
        }
        at += kRecordHeaderSize +
              static_cast<std::size_t>(noBlocks[at + 4] | (noBlocks[at + 5] << 8)) * 32;
    }
    DamagedUtility(noBlocks, QStringLiteral("21-detection-problem"), port.SlavePath(), false);
    std::vector<std::uint8_t> broken(shipped.begin(), shipped.end());
    WriteU16(broken, 0, 12);
    DamagedUtility(broken, QStringLiteral("22-detection-invalid-file"), port.SlavePath(), true);

    DescribedPorts();

    g_devices.clear();
    return g_failures == 0 ? 0 : 1;
}
