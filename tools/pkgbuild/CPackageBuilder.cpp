#include "tools/pkgbuild/CPackageBuilder.h"

#include "package/RecordHeader.h"

#include <cstring>
#include <set>

namespace quillon {

namespace {

// SplitMix64: a small, well-mixed generator whose output is the same on every platform.
std::uint64_t NextRandom(std::uint64_t& state) {
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

} // namespace

std::vector<std::uint8_t> CPackageBuilder::GeneratePayload(std::uint64_t seed,
                                                           std::uint64_t recordIndex,
                                                           std::size_t length) {
    // Each record has its own stream, derived from the seed and its position.
    // Odd multiplier and xor keep the map from position to state one-to-one, and the
    // generator's step is one-to-one too, so payloads of different records always differ.
    std::uint64_t seedState = seed;
    const std::uint64_t base = NextRandom(seedState);
    std::uint64_t state = base ^ (recordIndex * 0xD1B54A32D192ED03ull);
    std::vector<std::uint8_t> payload(length);
    for (std::size_t i = 0; i < length; i += 8) {
        const std::uint64_t word = NextRandom(state);
        for (std::size_t k = 0; k < 8 && i + k < length; ++k) {
            payload[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
        }
    }
    return payload;
}

bool CPackageBuilder::Fail(const std::string& message) {
    error_ = message;
    return false;
}

bool CPackageBuilder::Build(const CManifest& manifest, std::vector<std::uint8_t>& out) {
    error_.clear();
    out.clear();
    std::set<std::vector<std::uint8_t>> payloads;
    std::uint64_t recordIndex = 0;
    for (const CManifest::Record& record : manifest.Records()) {
        const std::string where = "line " + std::to_string(record.line) + ": ";
        const std::size_t length = std::size_t{record.blocks} * kBlockSize;
        for (std::uint32_t k = 0; k < record.count; ++k, ++recordIndex) {
            RecordHeader header;
            header.size = kRecordHeaderSize;
            header.type = static_cast<std::uint16_t>(record.type + k * record.step);
            header.blocks = record.blocks;
            header.parameter = record.parameter;
            header.replyTimeout = record.replyTimeout;

            std::vector<std::uint8_t> payload;
            if (header.IsDescriptor()) {
                payload.assign(length, 0);
                std::size_t used = 0;
                for (const std::string& entry : record.entries) {
                    used += entry.size() + 1;
                    if (used + 1 > length) {
                        return Fail(where + "the entries and the closing empty entry need " +
                                    "more than the record's " + std::to_string(length) + " bytes");
                    }
                    std::memcpy(payload.data() + used - entry.size() - 1, entry.data(),
                                entry.size());
                }
                if (record.entries.empty() && length == 0) {
                    return Fail(where + "a descriptor needs at least one block");
                }
            } else {
                payload = GeneratePayload(manifest.Seed(), recordIndex, length);
                if (!payload.empty() && !payloads.insert(payload).second) {
                    return Fail(where + "two generated payloads are equal; choose another seed");
                }
            }
            const std::size_t at = out.size();
            out.resize(at + kRecordHeaderSize);
            EncodeRecordHeader(header, out.data() + at);
            out.insert(out.end(), payload.begin(), payload.end());
        }
    }
    if (manifest.ExpectedSize() && *manifest.ExpectedSize() != out.size()) {
        return Fail("the package has " + std::to_string(out.size()) + " bytes, expected " +
                    std::to_string(*manifest.ExpectedSize()));
    }
    if (manifest.ExpectedRecords() && *manifest.ExpectedRecords() != recordIndex) {
        return Fail("the package has " + std::to_string(recordIndex) + " records, expected " +
                    std::to_string(*manifest.ExpectedRecords()));
    }
    return true;
}

} // namespace quillon
