#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// A package manifest: the readable source from which the package builder makes a package
// in the record container format. Line-based; see kManifestSyntax for the grammar.
//
// Threads: used by the single-threaded builder program and tests; no shared state.
class CManifest {
public:
    // One manifest "record" line, expanded by the builder into `count` records.
    struct Record {
        int line = 0;           // where it stands in the manifest
        std::uint16_t type = 0; // type of the first record
        std::uint16_t step = 0; // added to the type for each further record
        std::uint16_t blocks = 0;
        std::uint32_t parameter = 0;
        std::uint32_t replyTimeout = 0;
        std::uint32_t count = 1;
        std::vector<std::string> entries; // descriptor entries, in order
    };

    // Parses the whole text. False with a message "line N: ..." on the first error.
    bool Parse(std::string_view text);

    const std::vector<Record>& Records() const { return records_; }
    std::uint64_t Seed() const { return seed_; }
    std::optional<std::uint64_t> ExpectedSize() const { return expectedSize_; }
    std::optional<std::uint64_t> ExpectedRecords() const { return expectedRecords_; }
    const std::string& Error() const { return error_; }

    // The grammar, as the builder's --help and the manifests' headers describe it.
    static const char* const kManifestSyntax;

private:
    bool Fail(int line, const std::string& message);
    bool ParseLine(int line, std::string_view text);

    std::vector<Record> records_;
    std::uint64_t seed_ = 0;
    bool seedSeen_ = false;
    std::optional<std::uint64_t> expectedSize_;
    std::optional<std::uint64_t> expectedRecords_;
    std::string error_;
};

} // namespace quillon
