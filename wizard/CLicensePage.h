#pragma once

#include "wizard/CNewWizPage.h"

#include <QFont>
#include <string>

namespace quillon {

// Control ids of the licence agreement page.
inline constexpr int kIdLicenceHeading = 1018;
inline constexpr int kIdLicenceText = 1017;
inline constexpr int kIdAccept = 1011;
inline constexpr int kIdDecline = 1012;

// The licence agreement page: welcomes the user, shows the agreement the program carries
// and lets the wizard go on only once "I accept the agreement" is chosen.
//
// Threads: the UI thread only.
class CLicensePage : public CNewWizPage {
public:
    static constexpr int kTemplateId = 136;

    CLicensePage();

    // The agreement exactly as shipped (CR LF line breaks).
    const std::string& AgreementText() const { return agreement_; }

    bool OnPageLeave() override { return true; }
    void OnPageEnter() override {}
    int OnPageNext() override;

protected:
    bool OnInitDialog() override;
    void DoDataExchange(bool save) override;

private:
    std::string agreement_;
    QFont headingFont_;
};

} // namespace quillon
