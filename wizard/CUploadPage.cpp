#include "wizard/CUploadPage.h"

#include "upload/IMessageSink.h"
#include "upload/UploadProgress.h"
#include "wizard/CMasterDlg.h"
#include "wizard/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <algorithm>
#include <cassert>
#include <limits>

namespace quillon {

namespace {

QString TextOf(const char* text) {
    return text == nullptr ? QString() : QString::fromLatin1(text);
}

} // namespace

CUploadPage::CUploadPage() : CNewWizPage(kTemplateId) {
    const auto handle = [this](std::uint32_t message, auto handler) {
        SetMessageHandler(message, [handler](std::intptr_t wParam, std::intptr_t lParam) {
            handler(wParam, lParam);
            return std::intptr_t{0};
        });
    };
    handle(kMsgProgress,
           [this](std::intptr_t done, std::intptr_t total) { OnProgress(done, total); });
    handle(kMsgTransferStarted, [this](std::intptr_t, std::intptr_t) { OnTransferStarted(); });
    handle(kMsgSequenceEnded, [this](std::intptr_t, std::intptr_t) { OnSequenceEnded(); });
    handle(kMsgError,
           [this](std::intptr_t, std::intptr_t text) { OnErrorText(MessageText(text)); });
    handle(kMsgStatus,
           [this](std::intptr_t, std::intptr_t text) { OnStatusText(MessageText(text)); });
    handle(kMsgEnableBack, [this](std::intptr_t, std::intptr_t) { Master().EnableBack(true); });
}

CUploadPage::~CUploadPage() {
    // Still set only while the page window exists, and with it the master dialog.
    DetachSink();
    ShowWaitCursor(false);
}

CMasterDlg& CUploadPage::Master() const {
    CMasterDlg* master = CMasterDlg::Of(this);
    assert(master != nullptr && "the upload page runs inside the master dialog");
    return *master;
}

unsigned CUploadPage::Percentage(std::uint32_t done, std::uint32_t total) {
    return UploadPercent(done, total);
}

QString CUploadPage::PercentageText(unsigned percent) {
    return QStringLiteral("%1% Complete").arg(percent);
}

bool CUploadPage::OnInitDialog() {
    CNewWizPage::OnInitDialog();
    initialStatus_ = GetDlgItemText(kIdUploadStatus);
    if (auto* bar = GetDlgItemAs<QProgressBar>(kIdUploadProgress)) {
        bar->setValue(0);
        // Not drawn (the percentage beside it says it): its accessible value text.
        bar->setFormat(PercentageText(0));
    }
    return true;
}

void CUploadPage::OnPageEnter() {
    CMasterDlg& master = Master();
    SetDlgItemText(kIdUploadStatus, initialStatus_);
    backPending_ = false;
    sink_ = &master.SinkFor(*this);
    running_ = true;
    master.StartUpload(sink_);
}

void CUploadPage::OnProgress(std::intptr_t done, std::intptr_t total) {
    // The worker never reports an empty transfer; a total of 0 would mean nothing.
    if (total <= 0) {
        return;
    }
    const auto units = static_cast<std::uint32_t>(
        std::clamp<std::intptr_t>(done, 0, std::numeric_limits<std::uint32_t>::max()));
    const auto count = static_cast<std::uint32_t>(
        std::min<std::intptr_t>(total, std::numeric_limits<std::uint32_t>::max()));
    if (auto* bar = GetDlgItemAs<QProgressBar>(kIdUploadProgress)) {
        const int upper =
            static_cast<int>(std::min<std::uint32_t>(count, std::numeric_limits<int>::max()));
        if (bar->maximum() != upper || bar->minimum() != 0) {
            bar->setRange(0, upper);
        }
        bar->setFormat(PercentageText(Percentage(units, count)));
        bar->setValue(
            static_cast<int>(std::min<std::uint32_t>(units, static_cast<unsigned>(upper))));
    }
    SetDlgItemText(kIdUploadPercent, PercentageText(Percentage(units, count)));
}

void CUploadPage::OnTransferStarted() {
    ShowDlgItem(kIdUploadHint, false);
    OnProgress(0, 100);
    ShowWaitCursor(true);
    Master().EnableBack(false);
}

void CUploadPage::OnSequenceEnded() {
    running_ = false;
    ShowWaitCursor(false);
    QApplication::beep();
    Master().EnableBack(true);
    if (backPending_) {
        backPending_ = false;
        ReturnToPortPage();
    }
}

void CUploadPage::OnErrorText(const char* text) {
    // The box waits for the user; the worker and this page go on meanwhile.
    std::erase_if(errorBoxes_, [](const QPointer<QMessageBox>& box) { return box.isNull(); });
    if (QMessageBox* box = OpenMessageBox(window(), TextOf(text), MessageBoxKind::kWarningOk)) {
        errorBoxes_.emplace_back(box);
    }
}

void CUploadPage::OnStatusText(const char* text) {
    SetDlgItemText(kIdUploadStatus, TextOf(text));
}

std::vector<QMessageBox*> CUploadPage::OpenErrorBoxes() const {
    std::vector<QMessageBox*> boxes;
    for (const QPointer<QMessageBox>& entry : errorBoxes_) {
        QMessageBox* box = entry.data();
        if (box != nullptr && box->isVisible()) {
            boxes.push_back(box);
        }
    }
    return boxes;
}

void CUploadPage::ShowWaitCursor(bool on) {
    if (on == waitCursor_) {
        return;
    }
    waitCursor_ = on;
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

bool CUploadPage::OnPageCancel() {
    CMasterDlg& master = Master();
    if (!running_ || !master.IsUploadRunning()) {
        return true;
    }
    if (MessageBox(QString::fromLatin1(kInterruptQuestion), MessageBoxKind::kQuestionYesNo) !=
        kIdYes) {
        return false;
    }
    // The wait is bounded; a worker still busy after it has had its waits cut short and
    // only reaches the detached sink from now on. The core joins it before anything it
    // uses goes.
    master.AbortUpload();
    return true;
}

int CUploadPage::OnPageBack() {
    if (Master().GetActivePageIndex() < 3) {
        return -1;
    }
    // Back is offered as soon as the worker asks for it, a moment before it has ended;
    // the port must not be closed under it, so the move waits for its last message.
    if (running_ && Master().IsUploadRunning()) {
        backPending_ = true;
        return -1;
    }
    ReturnToPortPage();
    return -1;
}

void CUploadPage::ReturnToPortPage() {
    CMasterDlg& master = Master();
    const int active = master.GetActivePageIndex();
    if (active < 3 || master.GetActivePage() != this) {
        return;
    }
    // Detection and the information page are skipped; the port page closes the port as
    // it arrives, so the user starts over from the choice of port.
    master.ActivatePageAt(active - 3);
    ResetProgress();
}

void CUploadPage::ResetProgress() {
    if (auto* bar = GetDlgItemAs<QProgressBar>(kIdUploadProgress)) {
        bar->setFormat(PercentageText(0));
        bar->setValue(0);
    }
    SetDlgItemText(kIdUploadPercent, PercentageText(0));
}

void CUploadPage::OnDestroy() {
    DetachSink();
    ShowWaitCursor(false);
    for (const QPointer<QMessageBox>& box : errorBoxes_) {
        delete box.data();
    }
    errorBoxes_.clear();
    running_ = false;
    backPending_ = false;
    CNewWizPage::OnDestroy();
}

void CUploadPage::DetachSink() {
    if (sink_ != nullptr) {
        sink_->Detach();
        sink_ = nullptr;
    }
}

} // namespace quillon
