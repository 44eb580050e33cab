#include "wizard/CChoosePortPage.h"

#include "link/PortName.h"
#include "package/CInvalidFileError.h"
#include "platform/SerialPortDiscovery.h"
#include "platform/SerialTypes.h"
#include "wizard/CMasterDlg.h"
#include "wizard/CPortListModel.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalBlocker>
#include <algorithm>
#include <cassert>
#include <cerrno>

namespace quillon {

namespace {

QString FromLatin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

CChoosePortPage::CChoosePortPage() : CNewWizPage(kTemplateId) {
    SetDiscoveryRoots({});
    SetMessageHandler(kWmKickIdle, [this](std::intptr_t, std::intptr_t) {
        OnKickIdle();
        return std::intptr_t{0};
    });
}

void CChoosePortPage::SetPortFinder(PortFinder finder) {
    discover_ = [finder = std::move(finder)] {
        std::vector<SerialPortInfo> ports;
        for (const std::string& name : finder ? finder() : std::vector<std::string>{}) {
            SerialPortInfo port;
            port.devicePath = name;
            port.mayOpen = true;
            ports.push_back(std::move(port));
        }
        return ports;
    };
}

void CChoosePortPage::SetDiscoveryRoots(DiscoveryRoots roots) {
    std::filesystem::path dev = roots.dev;
    // The list needs no holders, and leaving them out keeps a refresh to a few small reads.
    SetPortDiscovery(
        [roots = std::move(roots)] { return DiscoverSerialPorts(roots, HolderScan::kWithout); },
        std::move(dev));
}

void CChoosePortPage::SetPortDiscovery(Discovery discovery, std::filesystem::path devFolder) {
    discover_ = std::move(discovery);
    devFolder_ = std::move(devFolder);
}

QString CChoosePortPage::DescriptionOf(const SerialPortInfo& port) {
    if (port.kind.empty()) {
        return {}; // a bare name, nothing known about it
    }
    QString text = QString::fromStdString(PortDescription(port));
    if (!port.mayOpen) {
        const bool permission = port.accessError == EACCES || port.accessError == EPERM;
        text +=
            permission ? QStringLiteral(" (no permission)") : QStringLiteral(" (not available)");
    }
    return text;
}

void CChoosePortPage::RefreshPortList() {
    if (GetDlgItemAs<QComboBox>(kIdPortCombo) == nullptr || !discover_) {
        return;
    }
    // A look the worker may still be taking is older than this one.
    if (scanner_) {
        scanner_->Discard();
    }
    ShowPorts(discover_());
}

void CChoosePortPage::RequestRescan() {
    if (scanner_ && discover_) {
        scanner_->Request(discover_);
    }
}

void CChoosePortPage::ShowPorts(const std::vector<SerialPortInfo>& ports) {
    auto* combo = GetDlgItemAs<QComboBox>(kIdPortCombo);
    if (combo == nullptr) {
        return;
    }
    ++scanCount_;
    std::vector<std::pair<QString, QString>> entries;
    for (const SerialPortInfo& port : ports) {
        entries.emplace_back(QString::fromStdString(port.devicePath), DescriptionOf(port));
    }
    if (entries == shown_ && refreshCount_ > 0) {
        return; // nothing changed: leave the list (and an open drop-down) alone
    }
    shown_ = entries;
    ++refreshCount_;

    // What the user typed stays as it is, cursor included.
    QLineEdit* edit = combo->lineEdit();
    const QString text = combo->currentText();
    const int cursor = edit != nullptr ? edit->cursorPosition() : 0;
    {
        const QSignalBlocker blocker(combo);
        combo->clear();
        for (const auto& [name, description] : entries) {
            const int index = AddComboString(kIdPortCombo, name);
            combo->setItemData(index, description, CPortListModel::kDescriptionRole);
        }
        // The drop-down opens on the entry of the port in the field, if listed.
        const int current = combo->findData(text, Qt::EditRole, Qt::MatchFixedString);
        if (current >= 0) {
            combo->setCurrentIndex(current);
        }
        combo->setEditText(text);
    }
    if (edit != nullptr) {
        edit->setCursorPosition(cursor);
    }
    // The field is narrow: the drop-down is as wide as its longest entry but stays on the
    // page; what is still too long is shortened in the middle, keeping the serial number.
    QAbstractItemView* view = combo->view();
    view->setTextElideMode(Qt::ElideMiddle);
    const int wanted = view->sizeHintForColumn(0) + view->verticalScrollBar()->sizeHint().width();
    const int margin = MapDialogRect(QRect(0, 0, 7, 0)).width();
    const int room = std::max(combo->width(), width() - combo->x() - margin);
    view->setMinimumWidth(std::min(wanted, room));
}

CMasterDlg& CChoosePortPage::Master() const {
    CMasterDlg* master = CMasterDlg::Of(this);
    assert(master != nullptr && "the port page runs inside the master dialog");
    return *master;
}

QString CChoosePortPage::PortText() const {
    return GetDlgItemText(kIdPortCombo);
}

void CChoosePortPage::TakePortName() {
    // Port names are file names: kept as UTF-8.
    Master().selectedPort = PortText().toStdString();
}

QString CChoosePortPage::PackageVersionText() const {
    const CMasterDlg* master = CMasterDlg::Of(this);
    if (master == nullptr) {
        return {};
    }
    const VersionDescriptor& package = master->packageFirmware;
    const QString text = FromLatin1(package.text);
    if (!package.product.empty() &&
        text.compare(QLatin1String("Unknown"), Qt::CaseInsensitive) != 0) {
        return FromLatin1(package.product) + QStringLiteral(" v.") + text;
    }
    return text;
}

bool CChoosePortPage::OnInitDialog() {
    CNewWizPage::OnInitDialog();
    if (auto* combo = GetDlgItemAs<QComboBox>(kIdPortCombo)) {
        combo->setModel(new CPortListModel(combo));
    }
    shown_.clear();
    refreshCount_ = 0;
    scanner_ = std::make_unique<CPortScanWorker>(
        [this](const std::vector<SerialPortInfo>& ports) { ShowPorts(ports); });
    watch_ = std::make_unique<CDeviceFolderWatch>([this] { RequestRescan(); });
    // The saved name stands in the field whether or not it is listed.
    SetDlgItemText(kIdPortCombo, QString::fromStdString(Master().selectedPort));
    RefreshPortList();
    return true;
}

void CChoosePortPage::OnDestroy() {
    watch_.reset();
    scanner_.reset();
    CNewWizPage::OnDestroy();
}

void CChoosePortPage::DoDataExchange(bool save) {
    CNewWizPage::DoDataExchange(save);
    ExchangeCheck(save, kIdSlowMode, slowMode_);
    if (!save) {
        SetDlgItemText(kIdNewFirmwareVersion, PackageVersionText());
    }
}

void CChoosePortPage::OnPageEnter() {
    CMasterDlg& master = Master();
    TakePortName();
    // Coming back from a later page: the port is chosen again, so let go of it.
    if (master.Link().IsOpen()) {
        master.Link().Close();
    }
    master.EnableNext(!PortText().isEmpty());
    // Adapters may have come or gone while another page was shown.
    RefreshPortList();
    if (watch_) {
        watch_->Start(devFolder_, watchMode_);
    }
    try {
        VersionDescriptor description;
        master.ReadImageDescription(description);
        master.packageFirmware = description;
    } catch (const CInvalidFileError&) {
        // A damaged image keeps the previous description; without target board types
        // Next stays off on idle.
    }
    UpdateData(false);
}

bool CChoosePortPage::OnPageLeave() {
    if (watch_) {
        watch_->Stop();
    }
    if (scanner_) {
        scanner_->Discard();
    }
    TakePortName();
    UpdateData(true);
    Master().SetSlowMode(slowMode_);
    return true;
}

int CChoosePortPage::OnPageNext() {
    CMasterDlg& master = Master();
    TakePortName();
    CFWUplSerialEx& link = master.Link();
    if (!link.IsOpen() && link.Open(master.selectedPort, kQueueSize, kQueueSize, true) != kOk) {
        MessageBox(QStringLiteral("Selected COM port could not be opened."),
                   MessageBoxKind::kWarningOk,
                   QString::fromStdString(DescribeOpenFailure(
                       link.GetLastSystemError(), DevicePathForPort(master.selectedPort))));
        return -1;
    }
    // The device side decides whether the line works; these answers change nothing.
    link.ConfigureLine(kBaudRate, 8, kParityNone, kStopBitsOne);
    link.ConfigureHandshake(kHandshakeOff);
    link.SetEventMask(kEventMask);
    return 0;
}

void CChoosePortPage::OnCommand(int id, Notify code) {
    if (id == kIdPortCombo && code == Notify::kEditUpdate) {
        Master().EnableNext(!PortText().isEmpty());
        return;
    }
    CNewWizPage::OnCommand(id, code);
}

void CChoosePortPage::OnKickIdle() {
    const CMasterDlg& master = Master();
    Master().EnableNext(!PortText().isEmpty() && !master.targetTypes.empty());
}

} // namespace quillon
