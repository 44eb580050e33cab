#include "resources/EmbeddedResources.h"

#include <QResource>
#include <QString>

// Resources compiled into a static library are registered only when asked for; the
// registration function is declared outside any namespace, hence this helper.
static void RegisterPackageResources() {
    Q_INIT_RESOURCE(quillon_packages);
}

namespace quillon {

namespace {

std::span<const std::uint8_t> Package(const char* path) {
    static const bool registered = (RegisterPackageResources(), true);
    (void)registered;
    const QResource resource(QString::fromLatin1(path));
    // Stored without compression, so data() is the package itself, in place.
    if (!resource.isValid() || resource.compressionAlgorithm() != QResource::NoCompression ||
        resource.data() == nullptr) {
        return {};
    }
    return {resource.data(), static_cast<std::size_t>(resource.size())};
}

} // namespace

std::span<const std::uint8_t> EmbeddedResources::FirmwareImage() {
    static const std::span<const std::uint8_t> bytes = Package(":/quillon/packages/firmware.bin");
    return bytes;
}

std::span<const std::uint8_t> EmbeddedResources::UtilityPackage() {
    static const std::span<const std::uint8_t> bytes = Package(":/quillon/packages/utility.bin");
    return bytes;
}

} // namespace quillon
