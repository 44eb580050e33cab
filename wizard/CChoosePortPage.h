#pragma once

#include "wizard/CNewWizPage.h"

#include <functional>
#include <string>
#include <vector>

namespace quillon {

class CMasterDlg;

// Control ids of the port selection page.
inline constexpr int kIdPortCombo = 1021;
inline constexpr int kIdSlowMode = 1053;
inline constexpr int kIdNewFirmwareLabel = 1026;
inline constexpr int kIdNewFirmwareVersion = 1031;

// The port selection page: the user picks or types the serial port and may tick slow
// mode; Next opens and configures the port through the master dialog's link, so the pages
// after it find it open. Every arrival closes it again.
//
// Threads: the UI thread only.
class CChoosePortPage : public CNewWizPage {
public:
    static constexpr int kTemplateId = 137;
    static constexpr std::uint32_t kBaudRate = 19200;
    static constexpr std::uint32_t kQueueSize = 2048;
    static constexpr std::uint32_t kEventMask = 0xC1; // received data, break, line error

    CChoosePortPage();

    // Slow mode: the transfer stays at 19200 baud. Set from the saved setting before the
    // wizard runs, read back after it.
    bool SlowMode() const { return slowMode_; }
    void SetSlowMode(bool slow) { slowMode_ = slow; }

    // Where the offered ports come from (the system's serial ports by default).
    using PortFinder = std::function<std::vector<std::string>()>;
    void SetPortFinder(PortFinder finder) { portFinder_ = std::move(finder); }

    // The text shown in the hidden "New firmware version" field.
    QString PackageVersionText() const;

    bool OnPageLeave() override;
    void OnPageEnter() override;
    int OnPageNext() override;

protected:
    bool OnInitDialog() override;
    void DoDataExchange(bool save) override;
    void OnCommand(int id, Notify code) override;

private:
    CMasterDlg& Master() const;
    QString PortText() const;
    void TakePortName();
    void OnKickIdle();

    bool slowMode_ = false;
    PortFinder portFinder_;
};

} // namespace quillon
