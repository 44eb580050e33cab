#pragma once

#include "wizard/CNewWizPage.h"

#include <QPointer>
#include <QString>
#include <cstdint>
#include <vector>

class QMessageBox;

namespace quillon {

class CMasterDlg;
class CPostingMessageSink;

// Control ids of the upload page.
inline constexpr int kIdUploadProgress = 1046;
inline constexpr int kIdUploadPercent = 1047;
inline constexpr int kIdUploadHint = 1048;
inline constexpr int kIdUploadStatus = 1049;

// The upload page: arriving starts the core's upload worker; the page shows what it
// reports (progress bar and percentage, status line, error boxes that block neither the
// worker nor the page), a wait cursor while the transfer runs and a beep when it ends.
// Close while the worker runs asks first and aborts it; Back leads straight to the port
// selection page for another attempt.
//
// Threads: every handler runs on the UI thread. The upload worker reports only through
// the page's sink (posted messages 2025 to 2030), which the page detaches before its
// window goes; the message texts are constants of the program.
class CUploadPage : public CNewWizPage {
public:
    static constexpr int kTemplateId = 139;
    static constexpr const char* kInterruptQuestion =
        "If you interrupt the upload process, the device will not be operational.\n\nAre you "
        "sure you want to interrupt the firmware upload process?\n";

    CUploadPage();
    ~CUploadPage() override;

    void OnPageEnter() override;
    bool OnPageCancel() override;
    int OnPageBack() override;

    // The whole-number percentage shown for `done` units of `total` (rounded down).
    static unsigned Percentage(std::uint32_t done, std::uint32_t total);
    static QString PercentageText(unsigned percent);
    // Error boxes opened by this run and not yet answered, oldest first.
    std::vector<QMessageBox*> OpenErrorBoxes() const;
    // From arrival until the worker's last message.
    bool IsTransferRunning() const { return running_; }

protected:
    bool OnInitDialog() override;
    void OnDestroy() override;

private:
    CMasterDlg& Master() const;
    void OnProgress(std::intptr_t done, std::intptr_t total);
    void OnTransferStarted();
    void OnSequenceEnded();
    void OnErrorText(const char* text);
    void OnStatusText(const char* text);
    void ShowWaitCursor(bool on);
    void ReturnToPortPage();
    void ResetProgress();
    void DetachSink();

    QString initialStatus_;
    bool running_ = false;
    bool waitCursor_ = false;
    // Back was pressed while the worker was still finishing; it moves once it has.
    bool backPending_ = false;
    std::vector<QPointer<QMessageBox>> errorBoxes_;
    CPostingMessageSink* sink_ = nullptr;
};

} // namespace quillon
