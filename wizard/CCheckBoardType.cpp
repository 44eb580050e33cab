#include "wizard/CCheckBoardType.h"

#include "wizard/CMasterDlg.h"

#include <QMouseEvent>
#include <QWidget>
#include <cassert>

namespace quillon {

namespace {

QString FromLatin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ProductAndVersion(const VersionDescriptor& version) {
    return version.product + " " + version.text;
}

} // namespace

CCheckBoardType::CCheckBoardType() : CNewWizPage(kTemplateId) {
}

CMasterDlg& CCheckBoardType::Master() const {
    CMasterDlg* master = CMasterDlg::Of(this);
    assert(master != nullptr && "the information page runs inside the master dialog");
    return *master;
}

bool CCheckBoardType::OnInitDialog() {
    CNewWizPage::OnInitDialog();
    tip_.owner = this;
    tip_.font = font();
    tip_.textColor = QColor(0, 0, 0);
    tip_.textAlignment = kTipAlignLeft | kTipAlignTop;
    // The texts and the picture are not interactive: the page itself follows the mouse
    // over them, as it needs to for the tips.
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    setMouseTracking(true);
    return true;
}

void CCheckBoardType::DoDataExchange(bool save) {
    CNewWizPage::DoDataExchange(save);
    // The fields only ever show the core's values.
    if (save || !HasWindow()) {
        return;
    }
    CMasterDlg& master = Master();
    std::string value = master.boardTypeId;
    ExchangeText(false, kIdBoardTypeId, value);
    value = master.deviceBootloader.text;
    ExchangeText(false, kIdBootloaderVersion, value);
    value = ProductAndVersion(master.deviceFirmware);
    ExchangeText(false, kIdCurrentFirmware, value);
    value = master.targetBoardText;
    ExchangeText(false, kIdTargetBoardIds, value);
    value = master.minimumBootloader.text;
    ExchangeText(false, kIdMinimumBootloader, value);
    value = ProductAndVersion(master.packageFirmware);
    ExchangeText(false, kIdNewFirmware, value);
}

void CCheckBoardType::OnCtlColor(QWidget* control, int id, CtlColorType type, CtlColors& colors) {
    CNewWizPage::OnCtlColor(control, id, type, colors);
    if (type == CtlColorType::kEdit) {
        colors.text = QColor(0, 0, 0);
    } else if (type == CtlColorType::kStatic) {
        if (id == kIdMismatchWarning) {
            colors.text = highlight_ ? QColor(255, 0, 0) : QColor(0, 0, 0);
        } else if (id == kIdPackageHeading || id == kIdDeviceHeading) {
            colors.text = QColor(0, 0, 192);
        } else {
            colors.text = QColor(0, 0, 0);
        }
        colors.textBackground = QColor(0xFF, 0xFF, 0xFF);
    }
}

void CCheckBoardType::OnPageEnter() {
    CMasterDlg& master = Master();
    master.EnableNext(false);

    outcome_ = AssessCompatibility(master);
    highlight_ = outcome_.highlight;
    switch (outcome_.outcome) {
    case CompatibilityOutcome::Refuse:
    case CompatibilityOutcome::Warn: {
        const QString message = FromLatin1(outcome_.message);
        const bool repeated = GetDlgItemText(kIdMismatchWarning) == message;
        SetDlgItemText(kIdMismatchWarning, message);
        ShowDlgItem(kIdMismatchWarning, true);
        ShowDlgItem(kIdContinueHint, false);
        if (repeated) {
            // A text that did not change is not announced by itself: say it again.
            AnnounceDlgItem(kIdMismatchWarning);
        }
        break;
    }
    case CompatibilityOutcome::Accept:
        ShowDlgItem(kIdContinueHint, true);
        ShowDlgItem(kIdMismatchWarning, false);
        break;
    }
    master.EnableNext(outcome_.nextEnabled);

    UpdateData(false);
    DescribeFields();
    UpdateCtlColors();
    if (QWidget* warning = GetDlgItem(kIdMismatchWarning)) {
        warning->update();
    }

    // The upload relies on the bootloader staying active while the user reads; after a
    // refusal too, in case the user goes back and detects again without a power cycle.
    master.StartActivationWorker(nullptr, true);
}

bool CCheckBoardType::OnPageLeave() {
    CMasterDlg& master = Master();
    master.StopActivationWorker(kLeavePolls);
    UpdateData(false);
    return true;
}

int CCheckBoardType::OnPageBack() {
    CMasterDlg& master = Master();
    // Back skips detection: the port selection page, where it all starts again.
    const int target = master.GetActivePageIndex() - 2;
    if (target < 0) {
        return 0;
    }
    master.ActivatePageAt(target);
    return -1;
}

int CCheckBoardType::OnPageNext() {
    return 0;
}

QString CCheckBoardType::TipTextOf(int field) const {
    const CMasterDlg& master = *CMasterDlg::Of(this);
    switch (field) {
    case kIdCurrentFirmware:
        return FromLatin1(master.deviceFirmware.buildStamp);
    case kIdNewFirmware:
        return FromLatin1(master.packageFirmware.buildStamp);
    case kIdBootloaderVersion: {
        const VersionDescriptor& bootloader = master.deviceBootloader;
        return FromLatin1(bootloader.product + "\n" + bootloader.text + "\n" +
                          bootloader.buildStamp);
    }
    case kIdTargetBoardIds: {
        // One pattern is shown whole in the field; a tip only lists several.
        if (master.targetTypes.size() < 2) {
            return {};
        }
        std::string text;
        for (const std::string& type : master.targetTypes) {
            if (!text.empty()) {
                text += '\n';
            }
            text += type;
        }
        return FromLatin1(text);
    }
    default:
        return {};
    }
}

QString CCheckBoardType::TipTextAt(const QPoint& point, int& field) const {
    field = 0;
    for (int id : {kIdCurrentFirmware, kIdNewFirmware, kIdBootloaderVersion, kIdTargetBoardIds}) {
        const QWidget* widget = GetDlgItem(id);
        if (widget != nullptr && widget->geometry().contains(point)) {
            field = id;
            return TipTextOf(id);
        }
    }
    return {};
}

void CCheckBoardType::DescribeFields() {
    for (int id : {kIdCurrentFirmware, kIdNewFirmware, kIdBootloaderVersion, kIdTargetBoardIds}) {
        if (QWidget* widget = GetDlgItem(id)) {
            widget->setAccessibleDescription(TipTextOf(id));
        }
    }
}

void CCheckBoardType::OnMouseMove(const QPoint& point) {
    if (!HasWindow() || CMasterDlg::Of(this) == nullptr) {
        return;
    }
    int field = 0;
    const QString text = TipTextAt(point, field);
    if (field == 0 || text.isEmpty()) {
        return;
    }
    const QRect area = GetDlgItem(field)->geometry();
    tip_.windowRect = QRect(area.topLeft(), QSize(0, 0));
    tip_.hotRect = area;
    tip_.textOrigin = area.topLeft() + QPoint(2, 2);
    tip_.text = text;
    CToolTip::ShowTip(this, tip_);
}

void CCheckBoardType::mouseMoveEvent(QMouseEvent* event) {
    OnMouseMove(event->position().toPoint());
    CNewWizPage::mouseMoveEvent(event);
}

} // namespace quillon
