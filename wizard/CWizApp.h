#pragma once

#include "wizard/CWizAppCommandLineInfo.h"

#include <memory>
#include <string>
#include <vector>

namespace quillon {

class CChoosePortPage;
class CCheckBoardType;
class CConnectPage;
class CLicensePage;
class CMasterDlg;
class CUploadPage;

// The application: loads the saved settings and the command line, runs the master dialog
// with its five pages, saves the settings again. One InitInstance is one run of the
// wizard; the QApplication must exist before it.
//
// Threads: the UI thread only.
class CWizApp {
public:
    // The command-line arguments without the program name.
    explicit CWizApp(std::vector<std::string> arguments);
    ~CWizApp();
    CWizApp(const CWizApp&) = delete;
    CWizApp& operator=(const CWizApp&) = delete;

    // Runs the whole wizard and always answers false: there is nothing left to run after
    // it. A damaged embedded package raises CInvalidFileError.
    bool InitInstance();

    // What the program ends with: 0, or kExitInvalidPackage when the wizard gave up on a
    // damaged utility package.
    int ExitCode() const { return exitCode_; }

    const CWizAppCommandLineInfo& CommandLineInfo() const { return commandLineInfo_; }
    // The dialog and the port page while InitInstance runs; null before and after.
    CMasterDlg* MasterDialog() const { return master_.get(); }
    CChoosePortPage* PortPage() const { return portPage_.get(); }

private:
    void DestroyObjects();

    std::vector<std::string> arguments_;
    CWizAppCommandLineInfo commandLineInfo_;
    int exitCode_ = 0;
    std::unique_ptr<CMasterDlg> master_;
    std::unique_ptr<CLicensePage> licensePage_;
    std::unique_ptr<CChoosePortPage> portPage_;
    std::unique_ptr<CConnectPage> connectPage_;
    std::unique_ptr<CCheckBoardType> checkBoardTypePage_;
    std::unique_ptr<CUploadPage> uploadPage_;
};

} // namespace quillon
