#pragma once

#include "wizard/CNewWizPage.h"

namespace quillon {

// The upload page: transfers the firmware and shows its progress.
//
// Threads: the UI thread only.
class CUploadPage : public CNewWizPage {
public:
    static constexpr int kTemplateId = 139;

    CUploadPage();
};

} // namespace quillon
