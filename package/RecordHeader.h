#pragma once

#include <cstddef>
#include <cstdint>

namespace quillon {

inline constexpr std::size_t kRecordHeaderSize = 14;
inline constexpr std::size_t kBlockSize = 32;

// Bits of the type field.
inline constexpr std::uint16_t kDescriptorFlag = 0x8000; // plain text entries, never sent
inline constexpr std::uint16_t kReplyFlag = 0x4000;      // the device sends a completion reply
inline constexpr std::uint16_t kCodeMask = 0x3FFF;

// Record kinds (full type values).
inline constexpr std::uint16_t kModuleDescriptor = 0x8000;
inline constexpr std::uint16_t kLoaderDescriptor = 0x8001;
inline constexpr std::uint16_t kFirstDataRecord = 0x4001; // data record n is 0x4000 + n
inline constexpr std::uint16_t kModuleStartRecord = 0x7A05;
inline constexpr std::uint16_t kActivationBlock = 0x3A00;
inline constexpr std::uint16_t kInformationRequest = 0x3A02;
inline constexpr std::uint16_t kBaudRateRequest = 0x3A03;
inline constexpr std::uint16_t kLaunchRequest = 0x3A04;

// The fixed header in front of every record of a package. On disk it is 14 bytes, all
// fields unsigned little-endian, in this order; the payload of blocks x 32 bytes follows.
struct RecordHeader {
    std::uint16_t size = 0;   // header size, always kRecordHeaderSize in a sound package
    std::uint16_t type = 0;   // kDescriptorFlag | kReplyFlag | record code
    std::uint16_t blocks = 0; // payload length in kBlockSize units
    std::uint32_t parameter = 0;
    std::uint32_t replyTimeout = 0; // ms per byte of a completion reply (kReplyFlag only)

    std::size_t PayloadSize() const { return std::size_t{blocks} * kBlockSize; }
    std::uint16_t Code() const { return static_cast<std::uint16_t>(type & kCodeMask); }
    bool IsDescriptor() const { return (type & kDescriptorFlag) != 0; }
    bool ExpectsReply() const { return (type & kReplyFlag) != 0; }
};

// Reads a header from 14 bytes at `bytes` (the caller guarantees they are there).
inline RecordHeader DecodeRecordHeader(const std::uint8_t* bytes) {
    auto u16 = [bytes](std::size_t at) {
        return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
    };
    auto u32 = [bytes](std::size_t at) {
        return static_cast<std::uint32_t>(bytes[at]) |
               (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
               (static_cast<std::uint32_t>(bytes[at + 2]) << 16) |
               (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
    };
    RecordHeader header;
    header.size = u16(0);
    header.type = u16(2);
    header.blocks = u16(4);
    header.parameter = u32(6);
    header.replyTimeout = u32(10);
    return header;
}

// Writes a header as 14 bytes at `out`.
inline void EncodeRecordHeader(const RecordHeader& header, std::uint8_t* out) {
    auto put16 = [out](std::size_t at, std::uint16_t value) {
        out[at] = static_cast<std::uint8_t>(value & 0xFFu);
        out[at + 1] = static_cast<std::uint8_t>(value >> 8);
    };
    auto put32 = [out](std::size_t at, std::uint32_t value) {
        for (std::size_t i = 0; i < 4; ++i) {
            out[at + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu);
        }
    };
    put16(0, header.size);
    put16(2, header.type);
    put16(4, header.blocks);
    put32(6, header.parameter);
    put32(10, header.replyTimeout);
}

} // namespace quillon
