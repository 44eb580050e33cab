#pragma once

#include "wizard/CNewWizPage.h"

namespace quillon {

// The device detection page: asks for the device to be powered up and detects it.
//
// Threads: the UI thread only.
class CConnectPage : public CNewWizPage {
public:
    static constexpr int kTemplateId = 140;

    CConnectPage();
};

} // namespace quillon
