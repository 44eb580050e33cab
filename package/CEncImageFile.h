#pragma once

#include "package/CMemFile.h"
#include "package/RecordHeader.h"
#include "platform/StatusCodes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

struct VersionDescriptor;

// One package held in memory: a run of records (14-byte header, then blocks x 32 bytes
// of payload) from the first byte to the last, no file header, no padding. After
// Attach() and BuildIndex() every record is reached by its number through the offset
// table. Payloads other than descriptors are enciphered for the device and are handed
// out exactly as stored; only descriptor entries are read here.
//
// A header that cannot be read whole or whose size field is not 14 raises
// CInvalidFileError from ReadHeader() and from everything built on it. Nothing ever reads
// outside the attached bytes.
//
// Threads: no lock; every record operation seeks and reads the shared position, so one
// thread at a time (the owner hands the package to the upload worker while it runs).
class CEncImageFile : public CMemFile {
public:
    CEncImageFile() = default;

    // Indexes the records from the current position (right after Attach(): offset 0).
    // True when the bytes end at a record boundary or inside the last payload (or there
    // are none); false when 1 to 13 bytes are left for a header, with every complete
    // header before them indexed.
    bool BuildIndex();
    int GetRecordCount() const { return static_cast<int>(offsets_.size()); }
    // Byte offset of record n's header; 0 for a number out of range.
    std::uint32_t GetRecordOffset(int n) const;

    // False for a number out of range (nothing raised); true after a good read; raises
    // CInvalidFileError for a short header or a size field other than 14. Leaves the
    // position at the start of the payload.
    bool ReadHeader(int n, RecordHeader& header);
    // First record at or after `start` (negative counts as 0) whose code (type bits 0 to
    // 13) equals the code bits of `code`; -1 when none.
    int FindRecord(int start, std::uint16_t code);
    // Copies record n's whole payload into the buffer: kOk, or kEFail when the buffer is
    // smaller than blocks x 32 bytes or n is out of range (nothing copied then). Where a
    // damaged package ends inside the payload, the bytes present are copied and the rest
    // of the payload's length is filled with zeros.
    Status ReadPayload(int n, std::uint8_t* buffer, std::size_t size);

    // Descriptor readers. The first record at or after `start` (negative counts as 0)
    // whose type is exactly 0x8000 (module) or 0x8001 (loader): its entries are read
    // into `descriptor` (which starts afresh), with recordIndex = its number and
    // recordCount = its parameter. Returns its number, or -1 with `descriptor` untouched.
    int FindModuleDescriptor(int start, VersionDescriptor& descriptor);
    int FindLoaderDescriptor(int start, VersionDescriptor& descriptor);
    // The first module descriptor at or after `start`: appends the value of each of its
    // "tgty" entries, in stored order, and returns its number; -1 with `list` untouched.
    int CollectTargetTypes(int start, std::vector<std::string>& list);

    // The text entries of record n's payload (empty for a record without payload). The
    // entries end at the first empty one or at the end of the payload, whichever comes
    // first; a last entry without its zero byte ends with the payload.
    std::vector<std::string> ReadEntries(int n);

private:
    int FindDescriptor(int start, std::uint16_t type, VersionDescriptor& descriptor);

    std::vector<std::uint32_t> offsets_;
};

} // namespace quillon
