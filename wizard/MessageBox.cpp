#include "wizard/MessageBox.h"

#include <QFontMetrics>
#include <QMessageBox>
#include <algorithm>
#include <utility>

namespace quillon {

namespace {

// Touched on the UI thread only.
MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}

// The texts break their lines where they mean to; the box is made wide enough for the
// longest of them (within reason) so that it does not break them again.
void KeepLinesWhole(QMessageBox& box, const QString& text) {
    constexpr int kWidestLine = 440;
    const QFontMetrics metrics(box.font());
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        widest = std::max(widest, metrics.horizontalAdvance(line));
    }
    box.setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label { min-width: %1px; }")
                          .arg(std::min(widest + 2, kWidestLine)));
}

void SetUpBox(QMessageBox& box, const MessageBoxRequest& request) {
    box.setWindowTitle(request.caption);
    box.setText(request.text);
    box.setTextFormat(Qt::PlainText);
    KeepLinesWhole(box, request.text);
    if (!request.detail.isEmpty()) {
        box.setInformativeText(request.detail);
    }
    if (request.kind == MessageBoxKind::kQuestionYesNo) {
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        // The safe answer is the default and has the focus: a stray Return or Space keeps
        // things as they are (the interrupt question's Yes leaves a device without
        // firmware), as every desktop does for such a question.
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setIcon(QMessageBox::Warning);
        box.setStandardButtons(QMessageBox::Ok);
    }
}

int ShowRealBox(const MessageBoxRequest& request) {
    QMessageBox box(request.parent);
    SetUpBox(box, request);
    const int answer = box.exec();
    if (request.kind == MessageBoxKind::kQuestionYesNo) {
        return answer == QMessageBox::Yes ? kIdYes : kIdNo;
    }
    return kIdOk;
}

} // namespace

int ShowMessageBox(QWidget* parent, const QString& text, MessageBoxKind kind,
                   const QString& detail) {
    const MessageBoxRequest request{parent, QString::fromLatin1(kAppName), text, detail, kind};
    if (Hook()) {
        return Hook()(request);
    }
    return ShowRealBox(request);
}

QMessageBox* OpenMessageBox(QWidget* parent, const QString& text, MessageBoxKind kind,
                            const QString& detail) {
    const MessageBoxRequest request{parent, QString::fromLatin1(kAppName), text, detail, kind};
    if (Hook()) {
        Hook()(request);
        return nullptr;
    }
    auto* box = new QMessageBox(parent);
    SetUpBox(*box, request);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return box;
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
    return std::exchange(Hook(), std::move(hook));
}

} // namespace quillon
