#include "wizard/CLicensePage.h"

#include "wizard/DialogUnits.h"
#include "wizard/WizardResources.h"

#include <QWidget>

namespace quillon {

CLicensePage::CLicensePage() : CNewWizPage(kTemplateId) {
}

bool CLicensePage::OnInitDialog() {
    const std::string_view text = LicenceText();
    agreement_.assign(text.begin(), text.end());

    CNewWizPage::OnInitDialog();

    headingFont_ = PixelFont(QStringLiteral("MS Sans Serif"), 12, true);
    if (QWidget* heading = GetDlgItem(kIdLicenceHeading)) {
        heading->setFont(headingFont_);
        heading->update();
    }
    CheckRadioButton(kIdAccept, kIdDecline, kIdDecline);
    return true;
}

void CLicensePage::DoDataExchange(bool save) {
    CNewWizPage::DoDataExchange(save);
    // The agreement only ever goes towards the control: it is read-only there.
    if (!save) {
        ExchangeText(save, kIdLicenceText, agreement_);
    }
}

int CLicensePage::OnPageNext() {
    if (IsDlgButtonChecked(kIdDecline)) {
        MessageBox(QStringLiteral("You cannot continue with the firmware upload unless you "
                                  "accept the license agreement."),
                   MessageBoxKind::kWarningOk);
        return -1;
    }
    return 0;
}

} // namespace quillon
