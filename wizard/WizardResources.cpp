#include "wizard/WizardResources.h"

#include "wizard/SidePicture.h"

#include <QResource>

// Resources compiled into a static library are registered only when asked for; the
// registration function is declared outside any namespace, hence this helper.
static void RegisterWizardResources() {
    Q_INIT_RESOURCE(quillon_wizard);
}

namespace quillon {

void EnsureWizardResources() {
    static const bool registered = (RegisterWizardResources(), true);
    (void)registered;
}

std::string_view LicenceText() {
    EnsureWizardResources();
    // Stored uncompressed, so the resource's bytes can be used where they lie.
    const QResource resource(QStringLiteral(":/quillon/wizard/LICENSE/143"));
    if (!resource.isValid() || resource.compressionAlgorithm() != QResource::NoCompression) {
        return {};
    }
    return {reinterpret_cast<const char*>(resource.data()),
            static_cast<std::size_t>(resource.size())};
}

QPixmap LoadBitmapResource(int id, const QSize& size) {
    if (id == kIdSidePicture && !size.isEmpty()) {
        return RenderSidePicture(size);
    }
    return {};
}

} // namespace quillon
