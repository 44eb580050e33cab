#include "wizard/MessageBox.h"

#include <QMessageBox>
#include <utility>

namespace quillon {

namespace {

// Touched on the UI thread only.
MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}

int ShowRealBox(const MessageBoxRequest& request) {
    QMessageBox box(request.parent);
    box.setWindowTitle(request.caption);
    box.setText(request.text);
    box.setTextFormat(Qt::PlainText);
    if (!request.detail.isEmpty()) {
        box.setInformativeText(request.detail);
    }
    if (request.kind == MessageBoxKind::kQuestionYesNo) {
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? kIdYes : kIdNo;
    }
    box.setIcon(QMessageBox::Warning);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
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

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
    return std::exchange(Hook(), std::move(hook));
}

} // namespace quillon
