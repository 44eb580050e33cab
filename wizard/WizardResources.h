#pragma once

#include <QPixmap>
#include <QSize>
#include <string_view>

namespace quillon {

// Resource ids of the wizard's own assets.
inline constexpr int kIdLicenceResource = 143; // type LICENSE
inline constexpr int kIdSidePicture = 135;     // bitmap beside every page

// Registers the wizard's resources with the resource system (once; any thread).
void EnsureWizardResources();

// The bytes of the licence agreement exactly as shipped (plain ASCII, CR LF line
// breaks, no terminating zero), read in place from the program's resources. Empty when
// the resource is missing.
std::string_view LicenceText();

// A bitmap resource drawn at the given size in pixels; an empty pixmap for an unknown id.
QPixmap LoadBitmapResource(int id, const QSize& size);

} // namespace quillon
