#pragma once

#include "package/VersionDescriptor.h"

#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// Takes the text lines of one device information list into a descriptor. An empty list
// stores the placeholder ("Unknown" for the bootloader, "Unavailable" for the firmware);
// otherwise each line's tags are applied in the order vers, prod, bild, time, so a
// version line clears what earlier lines of the same list had set.
void ApplyDeviceLines(const std::vector<std::string>& lines, VersionDescriptor& descriptor,
                      const char* placeholderWhenEmpty);

// Decodes the board identification module's reply line into a board type ID: the last
// two characters are dropped, the rest read as two-digit hexadecimal character codes and
// joined by ";"; a code of 0 ends the ID. A line that cannot be decoded (shorter than two
// characters, longer than the device's 64-character buffer, an odd number of digits, a
// non-hexadecimal digit, or nothing before the end mark) gives "Unavailable": a value
// that never matches a target pattern, so such a board is refused rather than guessed.
std::string DecodeBoardTypeId(std::string_view line);

inline constexpr const char* kUnknownText = "Unknown";
inline constexpr const char* kUnavailableText = "Unavailable";

} // namespace quillon
