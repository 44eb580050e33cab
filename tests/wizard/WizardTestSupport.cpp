#include "WizardTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace quillon::test {

int RunModal(CDialog& dialog, const std::function<void()>& script) {
    QTimer::singleShot(0, &dialog, [&dialog, &script] {
        script();
        if (dialog.isVisible()) {
            dialog.EndDialog(kIdCancel);
        }
    });
    return dialog.DoModal();
}

void Click(CDialog& dialog, int id) {
    auto* button = dynamic_cast<QAbstractButton*>(dialog.GetDlgItem(id));
    ASSERT_NE(button, nullptr) << "no button " << id;
    QTest::mouseClick(button, Qt::LeftButton);
}

bool IsEnabled(const CDialog& dialog, int id) {
    const QWidget* widget = dialog.GetDlgItem(id);
    return widget != nullptr && widget->isEnabled();
}

void Pump(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

MessageBoxRecorder::MessageBoxRecorder(int answer) : answer_(answer) {
    previous_ = SetMessageBoxHook([this](const MessageBoxRequest& request) {
        requests_.push_back(request);
        return answer_;
    });
}

MessageBoxRecorder::~MessageBoxRecorder() {
    SetMessageBoxHook(previous_);
}

QStringList MessageBoxRecorder::Texts() const {
    QStringList texts;
    for (const MessageBoxRequest& request : requests_) {
        texts << request.text;
    }
    return texts;
}

RealBoxAnswerer::RealBoxAnswerer(std::function<void()> beforeAnswer) : timer_(new QTimer) {
    timer_->setInterval(10);
    QObject::connect(timer_, &QTimer::timeout, [this, beforeAnswer] {
        auto* box = dynamic_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        seen_.push_back({box->windowTitle(), box->text(), box->informativeText(),
                         static_cast<int>(box->icon())});
        if (beforeAnswer) {
            beforeAnswer();
        }
        QAbstractButton* button = box->defaultButton();
        if (button == nullptr && !box->buttons().isEmpty()) {
            button = box->buttons().front();
        }
        if (button != nullptr) {
            button->click();
        }
    });
    timer_->start();
}

RealBoxAnswerer::~RealBoxAnswerer() {
    delete timer_;
}

} // namespace quillon::test
