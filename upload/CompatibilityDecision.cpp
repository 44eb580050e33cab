#include "upload/CompatibilityDecision.h"

#include "upload/BoardMatching.h"
#include "upload/CUploadCore.h"

namespace quillon {

namespace {

CompatibilityResult Refuse(const char* message) {
    return {CompatibilityOutcome::Refuse, message, true, false};
}

} // namespace

CompatibilityResult AssessCompatibility(CUploadCore& core) {
    core.CollectImageTargetTypes(core.targetTypes);
    bool boardMatches = false;
    if (core.targetTypes.empty()) {
        core.targetBoardText = "Unknown";
    } else {
        boardMatches = SelectTargetBoardType(core.targetTypes, core.boardTypeId);
        core.targetBoardText = TargetBoardIdsText(core.targetTypes);
    }
    core.minimumBootloader.SetText(core.GetMinimumBootloaderVersion());

    if (!boardMatches) {
        return Refuse(texts::kBoardNotSuitable);
    }
    if (!IsBootloaderSufficient(core.deviceBootloader, core.minimumBootloader)) {
        return Refuse(texts::kBootloaderTooOld);
    }
    if (IsSameOrNewerFirmware(core.deviceFirmware, core.packageFirmware)) {
        return {CompatibilityOutcome::Warn, texts::kSameOrNewerFirmware, true, true};
    }
    CUploadCore::Lines unused;
    if (core.RunModule(false, core.flashModuleName, unused, nullptr) != kOk) {
        return Refuse(texts::kFlashModuleNotSuitable);
    }
    if (core.RunModule(false, core.crcModuleName, unused, nullptr) != kOk) {
        return Refuse(texts::kCrcModuleNotSuitable);
    }
    return {CompatibilityOutcome::Accept, "", false, true};
}

} // namespace quillon
