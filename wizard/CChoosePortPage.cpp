#include "wizard/CChoosePortPage.h"

#include "link/PortName.h"
#include "package/CInvalidFileError.h"
#include "platform/SerialPortDiscovery.h"
#include "platform/SerialTypes.h"
#include "wizard/CMasterDlg.h"

#include <cassert>

namespace quillon {

namespace {

QString FromLatin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

CChoosePortPage::CChoosePortPage()
    : CNewWizPage(kTemplateId), portFinder_([] { return FindSerialPorts(); }) {
    SetMessageHandler(kWmKickIdle, [this](std::intptr_t, std::intptr_t) {
        OnKickIdle();
        return std::intptr_t{0};
    });
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
    if (portFinder_) {
        for (const std::string& port : portFinder_()) {
            AddComboString(kIdPortCombo, QString::fromStdString(port));
        }
    }
    // The saved name stands in the field whether or not it is listed.
    SetDlgItemText(kIdPortCombo, QString::fromStdString(Master().selectedPort));
    return true;
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
