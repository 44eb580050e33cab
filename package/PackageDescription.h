#pragma once

#include "package/CEncImageFile.h"
#include "package/VersionDescriptor.h"

#include <string>
#include <vector>

namespace quillon {

// The firmware image's description: reset, then for every module descriptor in record
// order the first "vers" entry replaces the whole description (so it empties product,
// build stamp and time) and "prod", "bild" and "time" entries fill their fields.
// recordIndex and recordCount stay 0. Raises CInvalidFileError like ReadHeader().
void ReadImageDescription(CEncImageFile& image, VersionDescriptor& out);

// Empties the list, then appends the target board type patterns of the image's first
// module descriptor in stored order.
void CollectImageTargetTypes(CEncImageFile& image, std::vector<std::string>& list);

} // namespace quillon
