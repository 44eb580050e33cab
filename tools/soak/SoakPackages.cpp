#include "tools/soak/SoakPackages.h"

#include "package/CEncImageFile.h"
#include "package/RecordHeader.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace quillon {

namespace {

constexpr std::size_t kParameterAt = 6;
constexpr std::size_t kReplyTimeoutAt = 10;

void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu);
    }
}

// Lowers every reply timeout above `limit` in a copy of the package.
bool ShortenTimeouts(std::vector<std::uint8_t>& bytes, std::uint32_t limit) {
    CEncImageFile file;
    file.Attach(bytes.data(), bytes.size());
    if (!file.BuildIndex()) {
        return false;
    }
    for (int n = 0; n < file.GetRecordCount(); ++n) {
        RecordHeader header{};
        if (!file.ReadHeader(n, header)) {
            return false;
        }
        if (header.replyTimeout > limit) {
            Put32(bytes, file.GetRecordOffset(n) + kReplyTimeoutAt, limit);
        }
    }
    return true;
}

} // namespace

SoakPackages MakeSoakPackages(std::span<const std::uint8_t> utility,
                              std::span<const std::uint8_t> image, int imageRecords,
                              std::uint32_t replyTimeoutMs, std::uint32_t startupTimeoutMs) {
    SoakPackages result;
    CEncImageFile source;
    source.Attach(image);
    RecordHeader descriptor{};
    if (!source.BuildIndex() || source.GetRecordCount() < 2 || !source.ReadHeader(0, descriptor) ||
        descriptor.type != kModuleDescriptor) {
        return {};
    }
    const int available = source.GetRecordCount() - 1;
    const int kept = std::clamp(imageRecords, 1, available);
    const std::size_t end =
        kept + 1 < source.GetRecordCount() ? source.GetRecordOffset(kept + 1) : image.size();
    result.image.assign(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(end));
    Put32(result.image, kParameterAt, static_cast<std::uint32_t>(kept));

    // The entries end at the first empty one; the new one goes there.
    const std::size_t payloadAt = source.GetRecordOffset(0) + kRecordHeaderSize;
    const std::size_t payloadEnd = payloadAt + descriptor.PayloadSize();
    std::size_t at = payloadAt;
    const auto begin = result.image.begin();
    while (at < payloadEnd && result.image[at] != 0) {
        const auto zero = std::find(begin + static_cast<std::ptrdiff_t>(at),
                                    begin + static_cast<std::ptrdiff_t>(payloadEnd), 0);
        at = static_cast<std::size_t>(zero - begin) + 1;
    }
    const std::string entry = "TIME:" + std::to_string(startupTimeoutMs);
    if (at + entry.size() + 2 > payloadEnd) {
        return {};
    }
    std::memcpy(&result.image[at], entry.c_str(), entry.size() + 1);
    result.image[at + entry.size() + 1] = 0;

    result.utility.assign(utility.begin(), utility.end());
    if (!ShortenTimeouts(result.utility, replyTimeoutMs) ||
        !ShortenTimeouts(result.image, replyTimeoutMs)) {
        return {};
    }
    result.imageRecords = kept;
    result.replyTimeoutMs = replyTimeoutMs;
    result.startupTimeoutMs = startupTimeoutMs;
    return result;
}

} // namespace quillon
