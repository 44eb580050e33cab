#include "wizard/CConnectPage.h"

#include "package/CInvalidFileError.h"
#include "upload/IMessageSink.h"
#include "upload/UploadTexts.h"
#include "wizard/CMasterDlg.h"
#include "wizard/DialogUnits.h"

#include <QTimer>
#include <QWidget>
#include <cassert>

namespace quillon {

CConnectPage::CConnectPage() : CNewWizPage(kTemplateId) {
    SetMessageHandler(kMsgBootloaderActivated, [this](std::intptr_t, std::intptr_t) {
        OnBootloaderActivated();
        return std::intptr_t{0};
    });
    SetMessageHandler(kMsgDeviceIdentified, [this](std::intptr_t entry, std::intptr_t) {
        OnDeviceIdentified(entry);
        return std::intptr_t{0};
    });
    SetMessageHandler(kMsgLineLost, [this](std::intptr_t, std::intptr_t) {
        OnLineLost();
        return std::intptr_t{0};
    });
}

CConnectPage::~CConnectPage() {
    // Still set only while the page window exists, and with it the master dialog.
    DetachSink();
}

CMasterDlg& CConnectPage::Master() const {
    CMasterDlg* master = CMasterDlg::Of(this);
    assert(master != nullptr && "the detection page runs inside the master dialog");
    return *master;
}

bool CConnectPage::OnInitDialog() {
    CNewWizPage::OnInitDialog();
    titleFont_ = PixelFont(QStringLiteral("MS Sans Serif"), 12, true);
    if (QWidget* title = GetDlgItem(kIdDetectTitle)) {
        title->setFont(titleFont_);
        title->update();
    }
    savedTitle_ = GetDlgItemText(kIdDetectTitle);
    savedBody_ = GetDlgItemText(kIdDetectBody);
    return true;
}

void CConnectPage::DoDataExchange(bool save) {
    // The title and the body are reached by their ids; nothing else is exchanged.
    CNewWizPage::DoDataExchange(save);
}

void CConnectPage::OnCtlColor(QWidget* control, int id, CtlColorType type, CtlColors& colors) {
    CNewWizPage::OnCtlColor(control, id, type, colors);
    if (type == CtlColorType::kStatic && id == kIdDetectTitle) {
        colors.text = highlight_ ? QColor(255, 0, 0) : QColor(0, 0, 0);
        colors.textBackground = QColor(0xFF, 0xFF, 0xFF);
    }
}

void CConnectPage::SetHighlight(bool on) {
    highlight_ = on;
    UpdateCtlColors();
}

void CConnectPage::OnPageEnter() {
    CMasterDlg& master = Master();
    ++entry_;
    awaitingDevice_ = false;
    master.ResetDeviceData();

    SetHighlight(false);
    master.EnableNext(false);
    ShowDlgItem(kIdDetectBody, true);
    SetDlgItemText(kIdDetectTitle, savedTitle_);
    SetDlgItemText(kIdDetectBody, savedBody_);

    bool noBlocks = true;
    try {
        noBlocks = master.CollectActivationBlocks();
    } catch (const CInvalidFileError& error) {
        const std::string& name = error.FileName();
        const std::string text = texts::InvalidFileText(name);
        MessageBox(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())),
                   MessageBoxKind::kWarningOk);
        // Nothing can be sent without the package: the wizard, and with it the program,
        // ends.
        master.EndDialog(kExitInvalidPackage);
        return;
    }
    if (noBlocks) {
        ShowProblem(texts::kInvalidUtility);
        return;
    }

    sink_ = &master.SinkFor(*this);
    awaitingDevice_ = true;
    master.StartActivationWorker(sink_, false);
}

void CConnectPage::OnBootloaderActivated() {
    // A report that outlived its entry (the user went back meanwhile) changes nothing.
    if (!awaitingDevice_ || !IsActive()) {
        return;
    }
    awaitingDevice_ = false;
    CMasterDlg& master = Master();

    SetHighlight(true);
    ShowDlgItem(kIdDetectBody, false);
    SetDlgItemText(kIdDetectTitle, QString::fromLatin1(texts::kActivated));
    master.EnableNext(true);

    // A silent or babbling device can take the better part of a minute to give up on:
    // the window must not wait for it.
    identifying_ = true;
    nextPending_ = false;
    master.StartIdentificationWorker(sink_, static_cast<std::intptr_t>(entry_));
}

void CConnectPage::OnDeviceIdentified(std::intptr_t entry) {
    if (!identifying_ || entry != static_cast<std::intptr_t>(entry_) || !IsActive()) {
        return;
    }
    identifying_ = false;
    CMasterDlg& master = Master();
    // The report is the worker's last act: this only joins it.
    master.StopIdentificationWorker(kLeavePolls);
    if (master.LineLost()) {
        // What was read before the line went is incomplete: no verdict is given on it.
        nextPending_ = false;
        master.EnableNext(false);
        ShowProblem(texts::kLineLost);
        return;
    }
    if (nextPending_) {
        // The user asked to go on before the device had been read; now it has.
        nextPending_ = false;
        MoveOn();
        return;
    }

    const std::uint64_t current = entry_;
    QTimer::singleShot(advanceDelay_, this, [this, current] {
        // Only the entry that found the device moves on, and only while the user is still
        // looking at it.
        if (current == entry_) {
            MoveOn();
        }
    });
}

void CConnectPage::MoveOn() {
    CNewWizDialog* frame = Frame();
    if (!HasWindow() || !IsActive() || frame == nullptr || frame->GetActivePage() != this) {
        return;
    }
    frame->ActivateNextPage();
}

int CConnectPage::OnPageNext() {
    if (identifying_) {
        // Leaving now would judge a half-read device; the move follows the report.
        nextPending_ = true;
        return -1;
    }
    return 0;
}

void CConnectPage::OnLineLost() {
    if (!awaitingDevice_ || !IsActive()) {
        return;
    }
    // The worker has ended: no device can answer on a port that is gone. Back leads to
    // the port page, which lets go of the port and opens it afresh.
    awaitingDevice_ = false;
    ShowProblem(texts::kLineLost);
}

void CConnectPage::ShowProblem(const char* text) {
    SetHighlight(true);
    ShowDlgItem(kIdDetectBody, true);
    SetDlgItemText(kIdDetectTitle, QString::fromLatin1(texts::kProblemTitle));
    SetDlgItemText(kIdDetectBody, QString::fromLatin1(text));
}

bool CConnectPage::OnPageLeave() {
    awaitingDevice_ = false;
    identifying_ = false;
    nextPending_ = false;
    ++entry_;
    // Leaving is never refused: a worker that does not end in time is left to end at its
    // next look at the stop request (the core joins it before the next one starts). The
    // identification is cut short: its waits on the device are interrupted.
    CMasterDlg& master = Master();
    master.StopIdentificationWorker(kLeavePolls);
    master.StopActivationWorker(kLeavePolls);
    return true;
}

void CConnectPage::OnDestroy() {
    DetachSink();
    CNewWizPage::OnDestroy();
}

void CConnectPage::DetachSink() {
    if (sink_ != nullptr) {
        sink_->Detach();
        sink_ = nullptr;
    }
}

} // namespace quillon
