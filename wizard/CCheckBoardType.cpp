#include "wizard/CCheckBoardType.h"

namespace quillon {

CCheckBoardType::CCheckBoardType() : CNewWizPage(kTemplateId) {
}

} // namespace quillon
