#pragma once

#include "package/CEncImageFile.h"
#include "package/VersionDescriptor.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Whether the embedded package fits the connected device: board type IDs against target
// board type patterns, the minimum bootloader, firmware versions, the choice of a
// device-side module and the module variant names. Pure functions of their arguments.
//
// Board type ID: one-character fields separated by ";", e.g. "0;4;1;7;Y;3;5".
// Pattern: fields separated by ";", each a "," list of items; an item is one character,
// "*" (any character) or "c1-c2" (an inclusive range, compared as signed bytes).
namespace quillon {

// Walks pattern and ID a field at a time. Malformed patterns or IDs never match.
bool MatchBoardType(std::string_view pattern, std::string_view boardTypeId);

// Appends ";N" to the one with fewer fields until both have as many, so a missing
// trailing field counts as "N".
void EqualizeFieldCounts(std::string& pattern, std::string& boardTypeId);

// Tests every pattern (on padded copies) against the ID; each match is swapped to index
// 0, so with several matches the last one ends first. True when any pattern matched.
bool SelectTargetBoardType(std::vector<std::string>& list, std::string_view boardTypeId);

// "Unknown" for an empty list; else entry 0, followed by " ... " and the byte 0xBB when
// more entries follow.
std::string TargetBoardIdsText(const std::vector<std::string>& list);

// The text of the lowest version among the utility package's loader descriptors whose
// product equals the device bootloader's product (ignoring case); empty when none does.
std::string GetMinimumBootloaderVersion(CEncImageFile& utility,
                                        const VersionDescriptor& deviceBootloader);

// The device bootloader is not lower than the minimum and has the same major number.
bool IsBootloaderSufficient(const VersionDescriptor& deviceBootloader,
                            const VersionDescriptor& minimum);

// The device already runs this firmware or a newer one: it reported one (text not
// "Unavailable"), with the same build and product, at least the package's version.
bool IsSameOrNewerFirmware(const VersionDescriptor& deviceFirmware,
                           const VersionDescriptor& packageFirmware);

struct ModuleLocation {
    CEncImageFile* package = nullptr;
    int descriptorIndex = -1;
    // As FindModuleDescriptor() read it: recordCount is the number of data records.
    VersionDescriptor descriptor;
};

// The module called `name` (ignoring case) that suits the device bootloader: the utility
// package is searched first, then the firmware image. A module counts when the loader
// descriptor of the bootloader's product that governs it asks for no higher version and
// the same major number, or when no loader descriptor of that product comes before it.
std::optional<ModuleLocation> FindSuitableModule(std::string_view name,
                                                 const VersionDescriptor& deviceBootloader,
                                                 CEncImageFile& utility, CEncImageFile& firmware);

struct ModuleNames {
    std::string flash;
    std::string crc;
};

// "FlashMod" and "FwCRCMod", each followed by the ID's seventh field (character 12) when
// the ID has one and it is not "N".
ModuleNames ModuleVariantNames(std::string_view boardTypeId);

} // namespace quillon
