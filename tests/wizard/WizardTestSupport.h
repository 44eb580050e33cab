#pragma once

#include "wizard/CCheckBoardType.h"
#include "wizard/CChoosePortPage.h"
#include "wizard/CConnectPage.h"
#include "wizard/CDialog.h"
#include "wizard/CLicensePage.h"
#include "wizard/CMasterDlg.h"
#include "wizard/CUploadPage.h"
#include "wizard/MessageBox.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace quillon::test {

// Runs the dialog modally and plays the script inside its event loop, the way a user
// would act on it. If the script leaves the dialog open, it is ended with Cancel so the
// test cannot hang. Returns DoModal's result.
int RunModal(CDialog& dialog, const std::function<void()>& script);

// Clicks the dialog's control with that id (a button, radio button or check box).
void Click(CDialog& dialog, int id);
bool IsEnabled(const CDialog& dialog, int id);

// Runs the event loop for a moment, waiting for events as the application's loop does.
void Pump(int milliseconds = 20);

// Answers every message box without showing it, records what was asked.
class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(int answer = kIdOk);
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    const std::vector<MessageBoxRequest>& Requests() const { return requests_; }
    QStringList Texts() const;
    void SetAnswer(int answer) { answer_ = answer; }

private:
    std::vector<MessageBoxRequest> requests_;
    int answer_;
    MessageBoxHook previous_;
};

// What a real message box showed before the watcher pressed its default button.
struct SeenBox {
    QString caption;
    QString text;
    QString informative;
    int icon = 0; // QMessageBox::Icon
};

// Watches for real message boxes while alive and presses each one's default (or only)
// button, recording what they showed.
class RealBoxAnswerer {
public:
    // beforeAnswer runs when a box is found, before its button is pressed.
    explicit RealBoxAnswerer(std::function<void()> beforeAnswer = {});
    ~RealBoxAnswerer();
    RealBoxAnswerer(const RealBoxAnswerer&) = delete;
    RealBoxAnswerer& operator=(const RealBoxAnswerer&) = delete;

    const std::vector<SeenBox>& Seen() const { return seen_; }

private:
    std::vector<SeenBox> seen_;
    class QTimer* timer_;
};

// The master dialog with the five pages in the application's order, shown modelessly with
// the idle notification on, so a test can click through it step by step.
class TestWizard {
public:
    TestWizard();
    ~TestWizard();
    TestWizard(const TestWizard&) = delete;
    TestWizard& operator=(const TestWizard&) = delete;

    void Open();
    int ActiveId() const;
    // Accepts the licence and goes on to the port page.
    void GoToPortPage();
    // Replaces the text of the port page's combo box the way a user does it.
    void TypePort(const QString& text);

    CMasterDlg master;
    CLicensePage licence;
    CChoosePortPage port;
    CConnectPage connect;
    CCheckBoardType information;
    CUploadPage upload;
};

} // namespace quillon::test
