#include "wizard/CNewWizPage.h"

#include "wizard/DialogUnits.h"

#include <QLabel>
#include <QPainter>
#include <QPen>

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

QWidget* CNewWizPage::FirstInputControl() const {
    for (QWidget* widget = nextInFocusChain(); widget != this && isAncestorOf(widget);
         widget = widget->nextInFocusChain()) {
        if ((widget->focusPolicy() & Qt::TabFocus) != 0 && widget->isVisibleTo(this) &&
            widget->isEnabled() && widget->focusProxy() == nullptr &&
            dynamic_cast<QLabel*>(widget) == nullptr) {
            return widget;
        }
    }
    return nullptr;
}

void CNewWizPage::paintEvent(QPaintEvent* event) {
    CDialog::paintEvent(event);
    if (!hasFocus()) {
        return;
    }
    // A line round the part of the page right of the side picture, clear of its controls
    // (the style's focus frame would tint the whole page). Shown as the style shows focus:
    // once the keyboard has moved it.
    if (!testAttribute(Qt::WA_KeyboardFocusChange) &&
        !window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        return;
    }
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(MapDialogRect(QRect(QPoint(110, 3), QPoint(317, 190))));
}

void CNewWizPage::focusInEvent(QFocusEvent* event) {
    CDialog::focusInEvent(event);
    update();
}

void CNewWizPage::focusOutEvent(QFocusEvent* event) {
    CDialog::focusOutEvent(event);
    update();
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
