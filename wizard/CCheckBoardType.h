#pragma once

#include "wizard/CNewWizPage.h"

namespace quillon {

// The device information page: shows what was detected next to what the package targets.
//
// Threads: the UI thread only.
class CCheckBoardType : public CNewWizPage {
public:
    static constexpr int kTemplateId = 138;

    CCheckBoardType();
};

} // namespace quillon
