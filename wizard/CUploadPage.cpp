#include "wizard/CUploadPage.h"

namespace quillon {

CUploadPage::CUploadPage() : CNewWizPage(kTemplateId) {
}

} // namespace quillon
