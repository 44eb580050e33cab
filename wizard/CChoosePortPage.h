#pragma once

#include "platform/SerialPortDiscovery.h"
#include "wizard/CDeviceFolderWatch.h"
#include "wizard/CNewWizPage.h"
#include "wizard/CPortScanWorker.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
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
// after it find it open. Every arrival closes it again. The list says what each port is
// and follows adapters plugged in or pulled out while the page is shown; the edit field
// only ever holds the plain port name.
//
// Threads: the UI thread, but for the discovery of the rescans, which runs on the scan
// worker and reports back here.
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

    // Where the offered ports come from: the system's serial ports by default, the
    // discovery under other roots (a faked tree), or plain names without descriptions.
    using PortFinder = std::function<std::vector<std::string>()>;
    void SetPortFinder(PortFinder finder);
    void SetDiscoveryRoots(DiscoveryRoots roots);
    // Any source of described ports; devFolder is the folder watched for plugging.
    using Discovery = std::function<std::vector<SerialPortInfo>()>;
    void SetPortDiscovery(Discovery discovery, std::filesystem::path devFolder);
    // How plugging is noticed while the page is shown (inotify unless told otherwise).
    void SetWatchMode(CDeviceFolderWatch::Mode mode) { watchMode_ = mode; }
    const CDeviceFolderWatch* Watch() const { return watch_.get(); }

    // The text an entry of the list shows for a port: its name, what it is, and whether
    // this user may not open it.
    static QString DescriptionOf(const SerialPortInfo& port);
    // Rebuilds the list from a fresh discovery when the ports changed, keeping the text
    // and cursor of the edit field: at once when the page is entered, and by itself while
    // it is shown, where the discovery runs on a worker (it must then be safe to call from
    // another thread).
    void RefreshPortList();
    // How often the ports were looked for, and how often the list was rebuilt because
    // they had changed (tests wait for these).
    int ScanCount() const { return scanCount_; }
    int RefreshCount() const { return refreshCount_; }

    // The text shown in the hidden "New firmware version" field.
    QString PackageVersionText() const;

    bool OnPageLeave() override;
    void OnPageEnter() override;
    int OnPageNext() override;

protected:
    bool OnInitDialog() override;
    void OnDestroy() override;
    void DoDataExchange(bool save) override;
    void OnCommand(int id, Notify code) override;

private:
    CMasterDlg& Master() const;
    QString PortText() const;
    void TakePortName();
    void OnKickIdle();
    void RequestRescan();
    void ShowPorts(const std::vector<SerialPortInfo>& ports);

    bool slowMode_ = false;
    Discovery discover_;
    std::filesystem::path devFolder_{"/dev"};
    CDeviceFolderWatch::Mode watchMode_ = CDeviceFolderWatch::Mode::kInotify;
    std::unique_ptr<CPortScanWorker> scanner_; // before the watch that asks it to look
    std::unique_ptr<CDeviceFolderWatch> watch_;
    std::vector<std::pair<QString, QString>> shown_; // name and description per entry
    int scanCount_ = 0;
    int refreshCount_ = 0;
};

} // namespace quillon
