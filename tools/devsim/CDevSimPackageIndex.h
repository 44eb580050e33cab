#pragma once

#include "package/RecordHeader.h"
#include "package/VersionDescriptor.h"
#include "tools/devsim/DevSimScenario.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillon {

// What the simulated device knows about the two packages: every record that can appear
// on the line (all but the descriptors), found by its payload bytes, and the modules the
// records belong to. The device cannot decipher anything, so a record is recognised only
// by being byte for byte one of the stored payloads; every payload of a sound package is
// distinct.
//
// Threads: immutable after construction; any thread may read it.
class CDevSimPackageIndex {
public:
    enum class Role : std::uint8_t { BoardId, Flash, Crc, Image, Other };

    struct Module {
        DevSimPackage package = DevSimPackage::Utility;
        int descriptorIndex = 0;
        std::string name;
        Role role = Role::Other;
        // The loader descriptor in front of the module (utility modules): the bootloader
        // product and the lowest version the module is made for.
        std::optional<VersionDescriptor> loader;
        std::vector<int> records; // indices into Records(), in package order
    };

    struct Record {
        DevSimRecordRef ref;
        RecordHeader header;
        std::vector<std::uint8_t> payload;
        int module = -1;    // index into Modules(), -1 for command records
        int ordinal = -1;   // position among the module's data records
        int imageSlot = -1; // position among the firmware image's data records
    };

    enum class Match : std::uint8_t {
        None,    // no payload starts with the bytes
        Partial, // the bytes are the beginning of at least one payload
        Complete // the bytes begin with the whole payload of `record`
    };
    struct MatchResult {
        Match match = Match::None;
        const Record* record = nullptr;
    };

    // Copies and indexes both packages. An unreadable record header raises
    // CInvalidFileError, as the package reader does.
    CDevSimPackageIndex(std::span<const std::uint8_t> utility, std::span<const std::uint8_t> image);

    // Judges the head of the received bytes. A whole payload at the head wins over a
    // longer payload that the head might still become; of two whole payloads the longer.
    MatchResult MatchHead(std::span<const std::uint8_t> bytes) const;

    const std::vector<Record>& Records() const { return m_records; }
    const std::vector<Module>& Modules() const { return m_modules; }
    const Record* Find(const DevSimRecordRef& ref) const;
    // The firmware image's data records in the order they are programmed.
    const std::vector<int>& ImageSlots() const { return m_imageSlots; }
    // Product, version and build stamp of the firmware image (its first module
    // descriptor).
    const VersionDescriptor& ImageDescription() const { return m_imageDescription; }
    // CRC-16 (CCITT, initial value 0xFFFF) over the image's data payloads in slot order:
    // what the check module reports when the flash holds the image.
    std::uint16_t ImageCrc() const { return m_imageCrc; }
    std::size_t LongestPayload() const { return m_longestPayload; }

    // "BrdIDMod record 1 of 2", "activation block", "baud-rate request 115200", ...
    std::string Describe(const Record& record) const;

    static Role RoleOfName(const std::string& name);

private:
    void AddPackage(DevSimPackage package, std::span<const std::uint8_t> bytes);

    std::vector<Record> m_records;
    std::vector<Module> m_modules;
    std::vector<int> m_imageSlots;
    std::vector<int> m_sortedByPayload; // record indices, payloads in ascending byte order
    std::vector<std::size_t> m_lengths; // the distinct payload lengths, longest first
    VersionDescriptor m_imageDescription;
    std::uint16_t m_imageCrc = 0xFFFF;
    std::size_t m_longestPayload = 0;
};

} // namespace quillon
