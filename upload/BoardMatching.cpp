#include "upload/BoardMatching.h"

#include "package/DescriptorEntry.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

namespace quillon {

namespace {

constexpr char kUnavailable[] = "Unavailable";
constexpr std::size_t kVariantPosition = 12;

bool IsFieldEnd(std::string_view text, std::size_t at) {
    return at >= text.size() || text[at] == ';';
}

std::size_t CountFields(std::string_view text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), ';')) + 1;
}

// Scans one pattern field from `at` against the device character `d`. Leaves `at` on the
// ";" or the end that closes the field. False when the field is malformed.
bool ScanField(std::string_view pattern, std::size_t& at, char d, bool& hit) {
    const auto device = static_cast<signed char>(d);
    while (!IsFieldEnd(pattern, at)) {
        const char c = pattern[at++];
        if (at < pattern.size() && pattern[at] == '-') {
            ++at;
            if (at >= pattern.size()) {
                return false;
            }
            const char upper = pattern[at++];
            if (static_cast<signed char>(c) <= device &&
                device <= static_cast<signed char>(upper)) {
                hit = true;
            }
        } else if (c == '*' || c == d) {
            hit = true;
        }
        if (at < pattern.size() && pattern[at] == ',') {
            ++at;
        } else if (!IsFieldEnd(pattern, at)) {
            return false; // an item of more than one character
        }
    }
    return true;
}

} // namespace

bool MatchBoardType(std::string_view pattern, std::string_view boardTypeId) {
    if (boardTypeId.empty()) {
        return pattern.empty();
    }
    std::size_t p = 0;
    std::size_t i = 0;
    while (i < boardTypeId.size()) {
        if (p >= pattern.size()) {
            return false;
        }
        const char d = boardTypeId[i++];
        bool hit = false;
        if (!ScanField(pattern, p, d, hit) || !hit) {
            return false;
        }
        if (i < boardTypeId.size()) {
            if (boardTypeId[i] != ';') {
                return false; // an ID field of more than one character
            }
            ++i;
        }
        if (p < pattern.size()) {
            ++p; // ScanField stopped on the ";" that closes the field
        }
    }
    return p >= pattern.size();
}

void EqualizeFieldCounts(std::string& pattern, std::string& boardTypeId) {
    const std::size_t patternFields = CountFields(pattern);
    const std::size_t idFields = CountFields(boardTypeId);
    std::string& shorter = patternFields < idFields ? pattern : boardTypeId;
    const std::size_t missing =
        patternFields < idFields ? idFields - patternFields : patternFields - idFields;
    shorter.reserve(shorter.size() + 2 * missing);
    for (std::size_t k = 0; k < missing; ++k) {
        shorter += ";N";
    }
}

bool SelectTargetBoardType(std::vector<std::string>& list, std::string_view boardTypeId) {
    bool found = false;
    for (std::size_t k = 0; k < list.size(); ++k) {
        std::string pattern = list[k];
        std::string id(boardTypeId);
        EqualizeFieldCounts(pattern, id);
        if (MatchBoardType(pattern, id)) {
            found = true;
            if (k > 0) {
                std::swap(list[0], list[k]);
            }
        }
    }
    return found;
}

std::string TargetBoardIdsText(const std::vector<std::string>& list) {
    if (list.empty()) {
        return "Unknown";
    }
    std::string text = list.front();
    if (list.size() > 1) {
        text += " ... ";
        text += '\xBB';
    }
    return text;
}

std::string GetMinimumBootloaderVersion(CEncImageFile& utility,
                                        const VersionDescriptor& deviceBootloader) {
    std::optional<VersionDescriptor> lowest;
    VersionDescriptor loader;
    for (int n = utility.FindLoaderDescriptor(0, loader); n >= 0;
         n = utility.FindLoaderDescriptor(n + 1, loader)) {
        if (!EqualsIgnoreCase(loader.product, deviceBootloader.product)) {
            continue;
        }
        if (!lowest || loader.IsLess(*lowest)) {
            lowest = loader;
        }
    }
    return lowest ? lowest->text : std::string();
}

bool IsBootloaderSufficient(const VersionDescriptor& deviceBootloader,
                            const VersionDescriptor& minimum) {
    return !deviceBootloader.IsLess(minimum) && deviceBootloader.major == minimum.major;
}

bool IsSameOrNewerFirmware(const VersionDescriptor& deviceFirmware,
                           const VersionDescriptor& packageFirmware) {
    return deviceFirmware.text != kUnavailable && deviceFirmware.build == packageFirmware.build &&
           deviceFirmware.product == packageFirmware.product &&
           deviceFirmware.IsGreaterOrEqual(packageFirmware);
}

namespace {

std::optional<ModuleLocation> FindInPackage(std::string_view name,
                                            const VersionDescriptor& deviceBootloader,
                                            CEncImageFile& package) {
    int position = -1; // before the first record
    for (;;) {
        VersionDescriptor loader;
        int loaderIndex = package.FindLoaderDescriptor(position + 1, loader);
        while (loaderIndex >= 0 && !EqualsIgnoreCase(loader.product, deviceBootloader.product)) {
            loaderIndex = package.FindLoaderDescriptor(loaderIndex + 1, loader);
        }
        VersionDescriptor module;
        const int moduleIndex =
            package.FindModuleDescriptor((loaderIndex >= 0 ? loaderIndex : position) + 1, module);
        if (moduleIndex < 0) {
            return std::nullopt;
        }
        position = moduleIndex;
        if (!EqualsIgnoreCase(module.product, name)) {
            continue;
        }
        if (loaderIndex >= 0 &&
            (loader.IsGreater(deviceBootloader) || loader.major != deviceBootloader.major)) {
            continue;
        }
        return ModuleLocation{&package, moduleIndex, std::move(module)};
    }
}

} // namespace

std::optional<ModuleLocation> FindSuitableModule(std::string_view name,
                                                 const VersionDescriptor& deviceBootloader,
                                                 CEncImageFile& utility, CEncImageFile& firmware) {
    const std::array<CEncImageFile*, 2> packages{&utility, &firmware};
    for (CEncImageFile* package : packages) {
        if (auto found = FindInPackage(name, deviceBootloader, *package)) {
            return found;
        }
    }
    return std::nullopt;
}

ModuleNames ModuleVariantNames(std::string_view boardTypeId) {
    ModuleNames names{"FlashMod", "FwCRCMod"};
    if (boardTypeId.size() > kVariantPosition && boardTypeId[kVariantPosition] != 'N') {
        names.flash += boardTypeId[kVariantPosition];
        names.crc += boardTypeId[kVariantPosition];
    }
    return names;
}

} // namespace quillon
