#pragma once

#include "tools/pkgbuild/CManifest.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// Makes the bytes of a package from a parsed manifest. Descriptor records carry their
// entries as zero-terminated texts, closed by an empty entry and zero-filled to the block
// boundary. Every other record gets payload bytes from a seeded generator: the same
// manifest always gives the same package, the bytes look enciphered, and no two payloads
// are equal (the device simulator tells records apart by their payloads).
//
// Threads: no shared state; one object per thread.
class CPackageBuilder {
public:
    // False with a message in Error() when the manifest cannot make a sound package.
    bool Build(const CManifest& manifest, std::vector<std::uint8_t>& out);
    const std::string& Error() const { return error_; }

    // The payload of the record at `recordIndex` (0-based position in the package) of a
    // package built with `seed`.
    static std::vector<std::uint8_t> GeneratePayload(std::uint64_t seed, std::uint64_t recordIndex,
                                                     std::size_t length);

private:
    bool Fail(const std::string& message);

    std::string error_;
};

} // namespace quillon
