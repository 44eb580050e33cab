#include "wizard/CMasterDlg.h"

#include "QuillonVersion.h"
#include "resources/EmbeddedResources.h"
#include "wizard/CChoosePortPage.h"
#include "wizard/CNewWizPage.h"
#include "wizard/SidePicture.h"

#include <QIcon>

namespace quillon {

namespace {

constexpr int kMasterTemplate = 131;
constexpr const char* kPublisher = "Copyright (C) Veldra Pty. Ltd.";
constexpr const char* kUtilityPackageName = "Utility.bin";

} // namespace

CMasterDlg::CMasterDlg(QWidget* parent) : CNewWizDialog(kMasterTemplate, parent) {
    // The idle notification goes on to whichever page is shown.
    SetMessageHandler(kWmKickIdle, [this](std::intptr_t wParam, std::intptr_t lParam) {
        if (CNewWizPage* page = GetActivePage()) {
            page->SendMessage(kWmKickIdle, wParam, lParam);
        }
        return std::intptr_t{0};
    });
}

CMasterDlg::~CMasterDlg() {
    // Pages and workers must be gone before the core goes: close the window first.
    DestroyWindow();
}

void CMasterDlg::SetPackages(std::span<const std::uint8_t> utility,
                             std::span<const std::uint8_t> firmware) {
    utility_ = utility;
    firmware_ = firmware;
}

CMasterDlg* CMasterDlg::Of(const CNewWizPage* page) {
    return page == nullptr ? nullptr : dynamic_cast<CMasterDlg*>(page->Frame());
}

bool CMasterDlg::OnInitDialog() {
    SetPlaceholderId(kIdPagePlaceholder);
    setWindowIcon(QIcon(RenderAppIcon(64)));

    // The port page's slow-mode flag is what the transfer reads.
    if (const auto* portPage = dynamic_cast<const CChoosePortPage*>(GetPageAt(1))) {
        SetSlowMode(portPage->SlowMode());
    }

    versionText_ = QStringLiteral("Version %1.%2.%3 (Build %4)\n%5")
                       .arg(kVersionMajor)
                       .arg(kVersionMinor)
                       .arg(kVersionPatch)
                       .arg(kVersionBuild)
                       .arg(QLatin1String(kPublisher));

    // Messages about a damaged utility package name it as the user knows it.
    UtilityPackage().SetFilePath(kUtilityPackageName);
    // A damaged package raises CInvalidFileError here; it ends the program (main).
    LoadPackages(utility_.value_or(EmbeddedResources::UtilityPackage()),
                 firmware_.value_or(EmbeddedResources::FirmwareImage()));

    const std::string suffix = TitleSuffix();
    setWindowTitle(windowTitle() + QStringLiteral(" - ") +
                   QString::fromLatin1(suffix.data(), static_cast<qsizetype>(suffix.size())));

    CNewWizDialog::OnInitDialog();
    UpdateData(false);
    return true;
}

void CMasterDlg::DoDataExchange(bool save) {
    CNewWizDialog::DoDataExchange(save);
    if (!save) {
        SetDlgItemText(kIdVersionText, versionText_);
    }
}

} // namespace quillon
