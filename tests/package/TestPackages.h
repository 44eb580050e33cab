#pragma once

#include "package/RecordHeader.h"

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

// Packages made byte by byte for the tests, and the reference packages built from the
// manifests in resources/.
namespace quillon::test {

using Bytes = std::vector<std::uint8_t>;

// Appends one record; the payload is `fill` bytes (or the given bytes, zero-padded or cut
// to the block count).
inline void AppendRecord(Bytes& out, std::uint16_t type, std::uint16_t blocks,
                         std::uint32_t parameter = 0, std::uint32_t replyTimeout = 0,
                         const Bytes& payload = {}, std::uint16_t size = kRecordHeaderSize) {
    RecordHeader header;
    header.size = size;
    header.type = type;
    header.blocks = blocks;
    header.parameter = parameter;
    header.replyTimeout = replyTimeout;
    const std::size_t at = out.size();
    out.resize(at + kRecordHeaderSize);
    EncodeRecordHeader(header, out.data() + at);
    Bytes body(header.PayloadSize(), 0);
    for (std::size_t i = 0; i < body.size() && i < payload.size(); ++i) {
        body[i] = payload[i];
    }
    out.insert(out.end(), body.begin(), body.end());
}

// Entries each followed by a zero byte, then the closing empty entry.
inline Bytes Entries(std::initializer_list<std::string> entries, bool close = true) {
    Bytes bytes;
    for (const std::string& entry : entries) {
        bytes.insert(bytes.end(), entry.begin(), entry.end());
        bytes.push_back(0);
    }
    if (close) {
        bytes.push_back(0);
    }
    return bytes;
}

inline std::uint16_t BlocksFor(const Bytes& payload) {
    return static_cast<std::uint16_t>((payload.size() + kBlockSize - 1) / kBlockSize);
}

inline void AppendDescriptor(Bytes& out, std::uint16_t type,
                             std::initializer_list<std::string> entries,
                             std::uint32_t parameter = 0) {
    const Bytes payload = Entries(entries);
    AppendRecord(out, type, BlocksFor(payload), parameter, 0, payload);
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    Bytes bytes;
    char c = 0;
    while (in.get(c)) {
        bytes.push_back(static_cast<std::uint8_t>(c));
    }
    return bytes;
}

#ifdef QUILLON_REFERENCE_FIRMWARE
inline const Bytes& ReferenceFirmware() {
    static const Bytes bytes = ReadFile(QUILLON_REFERENCE_FIRMWARE);
    return bytes;
}
inline const Bytes& ReferenceUtility() {
    static const Bytes bytes = ReadFile(QUILLON_REFERENCE_UTILITY);
    return bytes;
}
#endif

} // namespace quillon::test
