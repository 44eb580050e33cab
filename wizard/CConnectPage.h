#pragma once

#include "wizard/CNewWizPage.h"

#include <QFont>
#include <QString>
#include <chrono>
#include <cstdint>

namespace quillon {

class CMasterDlg;
class CPostingMessageSink;

// Control ids of the device detection page.
inline constexpr int kIdDetectTitle = 1043;
inline constexpr int kIdDetectBody = 1042;

// What the wizard ends with when its utility package cannot be read.
inline constexpr int kExitInvalidPackage = -10;

// The device detection page: asks for the device to be powered up, keeps sending
// activation blocks on the core's activation worker until the bootloader answers, then
// reads the device's versions and board type ID into the core on the core's
// identification worker and moves on to the device information page by itself half a
// second after that. The window keeps working meanwhile: Back and Close end the
// identification at once, and Next pressed during it is carried out as soon as the device
// has been read (never on a half-read device). A utility package without activation
// blocks is reported on the page; one whose records cannot be read ends the wizard with
// kExitInvalidPackage; a port that hangs up before or during the identification is
// reported on the page, which then stays.
//
// Threads: every handler runs on the UI thread. The workers only post
// kMsgBootloaderActivated, kMsgLineLost or kMsgDeviceIdentified through the page's sink,
// which the page detaches before its window goes; the page reads the device data only
// after the identification worker has been joined.
class CConnectPage : public CNewWizPage {
public:
    static constexpr int kTemplateId = 140;
    // How long leaving waits for the worker, in 100 ms polls.
    static constexpr int kLeavePolls = 101;
    static constexpr std::chrono::milliseconds kDefaultAdvanceDelay{500};

    CConnectPage();
    ~CConnectPage() override;

    void OnPageEnter() override;
    bool OnPageLeave() override;
    int OnPageNext() override;

    // While set, the title is drawn in red.
    bool IsHighlighted() const { return highlight_; }
    // From the bootloader's answer until the device has been read.
    bool IsIdentifying() const { return identifying_; }
    // How long the identified device stays on show before the wizard moves on.
    void SetAdvanceDelay(std::chrono::milliseconds delay) { advanceDelay_ = delay; }

protected:
    bool OnInitDialog() override;
    void DoDataExchange(bool save) override;
    void OnDestroy() override;
    void OnCtlColor(QWidget* control, int id, CtlColorType type, CtlColors& colors) override;

private:
    CMasterDlg& Master() const;
    void SetHighlight(bool on);
    void OnBootloaderActivated();
    void OnDeviceIdentified(std::intptr_t entry);
    void OnLineLost();
    void MoveOn();
    // "Problem Encountered!" in red over the given explanation.
    void ShowProblem(const char* text);
    void DetachSink();

    QFont titleFont_;
    QString savedTitle_;
    QString savedBody_;
    bool highlight_ = false;
    // Set while this entry's worker may still report the device; a late report from an
    // entry the user has left is ignored.
    bool awaitingDevice_ = false;
    // Set from the bootloader's answer until the identification worker has reported.
    bool identifying_ = false;
    // Next was pressed while the device was being read.
    bool nextPending_ = false;
    // Counts the entries, so that a pending move belongs to the entry that scheduled it.
    std::uint64_t entry_ = 0;
    std::chrono::milliseconds advanceDelay_ = kDefaultAdvanceDelay;
    CPostingMessageSink* sink_ = nullptr;
};

} // namespace quillon
