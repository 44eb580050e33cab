#include "wizard/CConnectPage.h"

namespace quillon {

CConnectPage::CConnectPage() : CNewWizPage(kTemplateId) {
}

} // namespace quillon
