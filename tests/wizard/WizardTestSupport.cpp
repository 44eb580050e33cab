#include "WizardTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
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

TestWizard::TestWizard() {
    master.AddPage(licence, CLicensePage::kTemplateId);
    master.AddPage(port, CChoosePortPage::kTemplateId);
    master.AddPage(connect, CConnectPage::kTemplateId);
    master.AddPage(information, CCheckBoardType::kTemplateId);
    master.AddPage(upload, CUploadPage::kTemplateId);
    master.selectedPort = "COM1";
    port.SetPortFinder([] { return std::vector<std::string>{}; });
}

TestWizard::~TestWizard() {
    master.DestroyWindow();
}

void TestWizard::Open() {
    ASSERT_TRUE(master.Create());
    master.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&master));
    master.SetIdleNotification(true);
}

int TestWizard::ActiveId() const {
    const CNewWizPage* page = master.GetActivePage();
    return page == nullptr ? 0 : page->TemplateId();
}

void TestWizard::GoToPortPage() {
    Click(licence, kIdAccept);
    Click(master, kIdWizNext);
    ASSERT_EQ(ActiveId(), CChoosePortPage::kTemplateId);
}

void TestWizard::TypePort(const QString& text) {
    auto* combo = port.GetDlgItemAs<QComboBox>(kIdPortCombo);
    ASSERT_NE(combo, nullptr);
    QLineEdit* edit = combo->lineEdit();
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    if (!text.isEmpty()) {
        QTest::keyClicks(edit, text);
    }
}

} // namespace quillon::test
