#include "package/CEncImageFile.h"

#include "package/CInvalidFileError.h"
#include "package/DescriptorEntry.h"
#include "package/VersionDescriptor.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace quillon {

bool CEncImageFile::BuildIndex() {
    offsets_.clear();
    std::array<std::uint8_t, kRecordHeaderSize> bytes{};
    for (;;) {
        const std::uint64_t start = GetPosition();
        const std::size_t got = Read(bytes.data(), bytes.size());
        if (got == 0) {
            return true;
        }
        if (got < bytes.size() || start > std::numeric_limits<std::uint32_t>::max()) {
            return false;
        }
        offsets_.push_back(static_cast<std::uint32_t>(start));
        const RecordHeader header = DecodeRecordHeader(bytes.data());
        Seek(static_cast<std::int64_t>(header.PayloadSize()), SeekOrigin::Current);
    }
}

std::uint32_t CEncImageFile::GetRecordOffset(int n) const {
    if (n < 0 || n >= GetRecordCount()) {
        return 0;
    }
    return offsets_[static_cast<std::size_t>(n)];
}

bool CEncImageFile::ReadHeader(int n, RecordHeader& header) {
    if (n < 0 || n >= GetRecordCount()) {
        return false;
    }
    std::array<std::uint8_t, kRecordHeaderSize> bytes{};
    Seek(offsets_[static_cast<std::size_t>(n)], SeekOrigin::Begin);
    if (Read(bytes.data(), bytes.size()) < bytes.size()) {
        throw CInvalidFileError(GetFileName());
    }
    const RecordHeader read = DecodeRecordHeader(bytes.data());
    if (read.size != kRecordHeaderSize) {
        throw CInvalidFileError(GetFileName());
    }
    header = read;
    return true;
}

int CEncImageFile::FindRecord(int start, std::uint16_t code) {
    RecordHeader header;
    for (int n = std::max(start, 0); n < GetRecordCount(); ++n) {
        ReadHeader(n, header);
        if (header.Code() == (code & kCodeMask)) {
            return n;
        }
    }
    return -1;
}

Status CEncImageFile::ReadPayload(int n, std::uint8_t* buffer, std::size_t size) {
    RecordHeader header;
    if (!ReadHeader(n, header)) {
        return kEFail;
    }
    const std::size_t length = header.PayloadSize();
    if (size < length || (buffer == nullptr && length > 0)) {
        return kEFail;
    }
    for (std::size_t done = 0; done < length; done += kBlockSize) {
        const std::size_t got = Read(buffer + done, kBlockSize);
        if (got < kBlockSize) {
            // The package ends inside this payload: what is missing reads as zeros.
            std::memset(buffer + done + got, 0, length - done - got);
            break;
        }
    }
    return kOk;
}

std::vector<std::string> CEncImageFile::ReadEntries(int n) {
    std::vector<std::string> entries;
    RecordHeader header;
    if (!ReadHeader(n, header) || header.blocks == 0) {
        return entries;
    }
    std::vector<std::uint8_t> payload(header.PayloadSize());
    if (ReadPayload(n, payload.data(), payload.size()) != kOk) {
        return entries;
    }
    const auto* begin = reinterpret_cast<const char*>(payload.data());
    const std::string_view all(begin, payload.size());
    std::size_t pos = 0;
    while (pos < all.size() && all[pos] != '\0') {
        const std::size_t end = std::min(all.find('\0', pos), all.size());
        entries.emplace_back(all.substr(pos, end - pos));
        pos = end + 1;
    }
    return entries;
}

int CEncImageFile::FindDescriptor(int start, std::uint16_t type, VersionDescriptor& descriptor) {
    RecordHeader header;
    for (int n = std::max(start, 0); n < GetRecordCount(); ++n) {
        ReadHeader(n, header);
        if (header.type != type) {
            continue;
        }
        VersionDescriptor read;
        for (const std::string& entry : ReadEntries(n)) {
            if (HasTag(entry, kTagProduct)) {
                read.product = TagValue(entry);
            }
            if (HasTag(entry, kTagBuildStamp)) {
                read.buildStamp = TagValue(entry);
            }
            if (HasTag(entry, kTagVersion)) {
                read.SetText(entry);
            }
            if (HasTag(entry, kTagTime)) {
                read.timeStamp = ParseDecimal(TagValue(entry));
            }
        }
        read.recordIndex = n;
        read.recordCount = static_cast<std::int32_t>(
            std::min<std::uint32_t>(header.parameter, std::numeric_limits<std::int32_t>::max()));
        descriptor = std::move(read);
        return n;
    }
    return -1;
}

int CEncImageFile::FindModuleDescriptor(int start, VersionDescriptor& descriptor) {
    return FindDescriptor(start, kModuleDescriptor, descriptor);
}

int CEncImageFile::FindLoaderDescriptor(int start, VersionDescriptor& descriptor) {
    return FindDescriptor(start, kLoaderDescriptor, descriptor);
}

int CEncImageFile::CollectTargetTypes(int start, std::vector<std::string>& list) {
    RecordHeader header;
    for (int n = std::max(start, 0); n < GetRecordCount(); ++n) {
        ReadHeader(n, header);
        if (header.type != kModuleDescriptor) {
            continue;
        }
        for (const std::string& entry : ReadEntries(n)) {
            if (HasTag(entry, kTagTargetType)) {
                list.push_back(TagValue(entry));
            }
        }
        return n;
    }
    return -1;
}

} // namespace quillon
