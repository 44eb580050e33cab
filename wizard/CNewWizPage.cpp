#include "wizard/CNewWizPage.h"

#include "wizard/DialogUnits.h"

namespace quillon {

CNewWizPage::CNewWizPage(int templateId, QWidget* parent) : CDialog(templateId, parent) {
}

bool CNewWizPage::OnPageCreated() {
    return true;
}

void CNewWizPage::OnPageDestroying() {
}

bool CNewWizPage::OnPageLeave() {
    return true;
}

void CNewWizPage::OnPageEnter() {
}

bool CNewWizPage::OnPageCancel() {
    return true;
}

int CNewWizPage::OnPageBack() {
    return 0;
}

int CNewWizPage::OnPageNext() {
    return 0;
}

bool CNewWizPage::OnPageFinish() {
    return true;
}

bool CNewWizPage::OnInitDialog() {
    CDialog::OnInitDialog();
    titleFont_ = PixelFont(QStringLiteral("MS Sans Serif"), 16, true);
    backgroundBrush_ = QColor(0xFF, 0xFF, 0xFF);
    UpdateCtlColors();
    return true;
}

void CNewWizPage::DoDataExchange(bool /*save*/) {
}

void CNewWizPage::OnCtlColor(QWidget* /*control*/, int /*id*/, CtlColorType type,
                             CtlColors& colors) {
    switch (type) {
    case CtlColorType::kEdit:
    case CtlColorType::kListBox:
    case CtlColorType::kButton:
    case CtlColorType::kScrollBar:
    case CtlColorType::kStatic:
        colors.text = QColor(0, 0, 0);
        colors.textBackground = QColor(0xFF, 0xFF, 0xFF);
        break;
    case CtlColorType::kDialog:
        break;
    }
    // Before initialisation the brush does not exist yet; the style's colours stand.
    if (backgroundBrush_.isValid()) {
        colors.brush = backgroundBrush_;
    }
}

} // namespace quillon
