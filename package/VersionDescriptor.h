#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

// Every version the program handles: the device's bootloader and firmware, the package
// firmware, the minimum bootloader, and each descriptor of the packages. Parsed from a
// text such as "VERS:1.4.6" and ordered by orderKey alone.
//
// Threads: a plain value with no shared state; whoever holds a copy owns it.
struct VersionDescriptor {
    static constexpr std::int32_t kUnset = -1;

    std::string text; // the version text without any "TAG:" prefix
    std::int32_t major = kUnset;
    std::int32_t minor = kUnset;
    std::int32_t revision = kUnset;
    std::int32_t build = kUnset; // thousands split of the third number (1.4.6012: 12)
    std::string product;
    std::string buildStamp;
    std::int32_t recordCount = 0; // package descriptors: the records that belong to it
    std::int32_t recordIndex = 0; // package descriptors: its record number
    std::int32_t timeStamp = 0;
    std::int64_t orderKey = -1; // major x 2^42 + minor x 2^21 + revision

    // Every number unset, strings other than text empty. The text stays.
    void Reset();
    // Resets, keeps `value` as the text and parses it. True for a parsed version and for
    // the placeholders "Unknown" and "Unavailable" (any case), which leave it unset.
    bool SetText(std::string_view value);

    bool IsLess(const VersionDescriptor& other) const;
    bool IsLessOrEqual(const VersionDescriptor& other) const;
    bool IsGreater(const VersionDescriptor& other) const;
    bool IsGreaterOrEqual(const VersionDescriptor& other) const;
    bool IsEqual(const VersionDescriptor& other) const;

    // The ordering key of three parsed numbers. Each part is sign-extended; where the sum
    // does not fit 64 bits it saturates, so a huge version never wraps below a small one.
    static std::int64_t MakeOrderKey(std::int32_t major, std::int32_t minor, std::int32_t revision);
};

} // namespace quillon
