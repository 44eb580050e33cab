#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The tag rules shared by package descriptor entries and the device's reply lines.
namespace quillon {

// Tag names as searched for, in lower case.
inline constexpr std::string_view kTagVersion = "vers";
inline constexpr std::string_view kTagProduct = "prod";
inline constexpr std::string_view kTagBuildStamp = "bild";
inline constexpr std::string_view kTagTime = "time";
inline constexpr std::string_view kTagTargetType = "tgty";

// ASCII lower case; bytes outside A-Z (including those above 0x7F) stay as they are, so
// the result never depends on the locale.
std::string ToLowerAscii(std::string_view text);
// Equal ignoring ASCII case.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// True when a lower-case copy of the entry contains `lowerTag` anywhere.
bool HasTag(std::string_view entry, std::string_view lowerTag);
// The entry as stored after its first ":"; the whole entry when it has none.
std::string TagValue(std::string_view entry);
// Decimal conversion: optional leading blanks (space, tab, CR, LF, VT, FF) and one sign,
// then digits up to the first other character. 0 when there are no digits. A value that
// does not fit saturates at INT32_MIN or INT32_MAX.
std::int32_t ParseDecimal(std::string_view text);

} // namespace quillon
