#include "wizard/CWizApp.h"

#include "platform/Utf8Path.h"
#include "wizard/CCheckBoardType.h"
#include "wizard/CChoosePortPage.h"
#include "wizard/CConnectPage.h"
#include "wizard/CLicensePage.h"
#include "wizard/CMasterDlg.h"
#include "wizard/CUploadPage.h"
#include "wizard/MessageBox.h"
#include "wizard/WizardSettings.h"

#include <QCoreApplication>
#include <filesystem>
#include <system_error>

namespace quillon {

CWizApp::CWizApp(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {
}

CWizApp::~CWizApp() {
    DestroyObjects();
}

void CWizApp::DestroyObjects() {
    // Pages first, in the reverse order of their creation, then the dialog.
    uploadPage_.reset();
    checkBoardTypePage_.reset();
    connectPage_.reset();
    portPage_.reset();
    licensePage_.reset();
    master_.reset();
}

bool CWizApp::InitInstance() {
    master_ = std::make_unique<CMasterDlg>();
    licensePage_ = std::make_unique<CLicensePage>();
    portPage_ = std::make_unique<CChoosePortPage>();
    connectPage_ = std::make_unique<CConnectPage>();
    checkBoardTypePage_ = std::make_unique<CCheckBoardType>();
    uploadPage_ = std::make_unique<CUploadPage>();

    QCoreApplication::setApplicationName(QString::fromLatin1(kAppName));
    QCoreApplication::setOrganizationName(QStringLiteral("Veldra"));

    const WizardSettings saved = LoadWizardSettings();
    master_->selectedPort = saved.port;
    portPage_->SetSlowMode(saved.slow);

    commandLineInfo_ = CWizAppCommandLineInfo();
    CWizAppCommandLineInfo::ParseCommandLine(arguments_, commandLineInfo_);
    if (!commandLineInfo_.LogFilePath().empty()) {
        std::error_code error;
        const std::filesystem::path full =
            std::filesystem::absolute(PathFromUtf8(commandLineInfo_.LogFilePath()), error);
        if (!error) {
            master_->SetLogPath(Utf8FromPath(full));
        }
    }

    master_->AddPage(*licensePage_, CLicensePage::kTemplateId);
    master_->AddPage(*portPage_, CChoosePortPage::kTemplateId);
    master_->AddPage(*connectPage_, CConnectPage::kTemplateId);
    master_->AddPage(*checkBoardTypePage_, CCheckBoardType::kTemplateId);
    master_->AddPage(*uploadPage_, CUploadPage::kTemplateId);

    exitCode_ = 0;
    try {
        if (master_->DoModal() == kExitInvalidPackage) {
            exitCode_ = kExitInvalidPackage;
        }
    } catch (...) {
        // The settings are saved however the run ends.
        SaveWizardSettings({master_->selectedPort, portPage_->SlowMode()});
        DestroyObjects();
        throw;
    }

    SaveWizardSettings({master_->selectedPort, portPage_->SlowMode()});
    DestroyObjects();
    return false;
}

} // namespace quillon
