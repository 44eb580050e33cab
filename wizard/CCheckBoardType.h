#pragma once

#include "upload/CompatibilityDecision.h"
#include "wizard/CNewWizPage.h"
#include "wizard/CToolTip.h"

#include <QPoint>

class QMouseEvent;

namespace quillon {

class CMasterDlg;

// Control ids of the device information page.
inline constexpr int kIdBoardTypeId = 1027;
inline constexpr int kIdBootloaderVersion = 1028;
inline constexpr int kIdCurrentFirmware = 1029;
inline constexpr int kIdNewFirmware = 1031;
inline constexpr int kIdVerifyHint = 1032;
inline constexpr int kIdMismatchWarning = 1033;
inline constexpr int kIdContinueHint = 1034;
inline constexpr int kIdMinimumBootloader = 1036;
inline constexpr int kIdPackageHeading = 1037;
inline constexpr int kIdDeviceHeading = 1040;
inline constexpr int kIdTargetBoardIds = 1041;

// The device information page: shows what detection found next to what the embedded
// package targets, takes the compatibility decision from the core's data, says why an
// upload may not go ahead (in red) and enables Next only when it may. While it is shown
// the core's keep-alive worker keeps the bootloader awake. Hovering the version and
// target fields shows a tip with the details. Back returns to the port selection page.
//
// Threads: every handler runs on the UI thread; the keep-alive worker reports nothing.
class CCheckBoardType : public CNewWizPage {
public:
    static constexpr int kTemplateId = 138;
    // How long leaving waits for the keep-alive worker, in 100 ms polls.
    static constexpr int kLeavePolls = 501;

    CCheckBoardType();

    void OnPageEnter() override;
    bool OnPageLeave() override;
    int OnPageBack() override;
    int OnPageNext() override;

    // The outcome of the last assessment.
    const CompatibilityResult& Outcome() const { return outcome_; }
    bool IsHighlighted() const { return highlight_; }
    // Opens the tip of the field under the point (page coordinates), if it has one.
    void OnMouseMove(const QPoint& point);

protected:
    bool OnInitDialog() override;
    void DoDataExchange(bool save) override;
    void OnCtlColor(QWidget* control, int id, CtlColorType type, CtlColors& colors) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    CMasterDlg& Master() const;
    QString TipTextAt(const QPoint& point, int& field) const;
    // What the tip of that field shows (empty when it shows none).
    QString TipTextOf(int field) const;
    // The tips' texts are the fields' accessible descriptions: the keyboard reaches them.
    void DescribeFields();

    TipSpec tip_;
    bool highlight_ = false;
    CompatibilityResult outcome_;
};

} // namespace quillon
