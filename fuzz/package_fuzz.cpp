// The package reader over arbitrary bytes: the record index, every header and payload
// read, the descriptor readers, the image description, and what the controller derives
// from a package (activation blocks, module search, minimum bootloader, compatibility).
// The invalid-file error is the reader's documented answer to a bad header; anything
// else (a crash, a read outside the bytes, undefined behaviour, a broken property) is a
// fault.

#include "FuzzCheck.h"
#include "package/CEncImageFile.h"
#include "package/CInvalidFileError.h"
#include "package/PackageDescription.h"
#include "package/VersionDescriptor.h"
#include "upload/BoardMatching.h"
#include "upload/CUploadCore.h"
#include "upload/CompatibilityDecision.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace {

using quillon::CEncImageFile;
using quillon::CInvalidFileError;
using quillon::RecordHeader;
using quillon::VersionDescriptor;

// Record operations on many thousands of tiny records would only measure the fuzzer's
// patience; the first records and the last ones are where the reader's edges are.
constexpr int kRecordsRead = 48;
constexpr std::size_t kLargePayload = 64 * 1024;

template <typename Operation> void Tolerating(Operation&& operation) {
    try {
        operation();
    } catch (const CInvalidFileError& error) {
        QUILLON_FUZZ_CHECK(error.Cause() == CInvalidFileError::kCause);
    }
}

// Compared with memcmp rather than byte by byte: the byte loop of the harness itself,
// instrumented for coverage, cost more than everything it checks.
bool AllZero(const std::uint8_t* data, std::size_t size) {
    static const std::array<std::uint8_t, 4096> zeros{};
    for (std::size_t at = 0; at < size; at += zeros.size()) {
        const std::size_t part = std::min(zeros.size(), size - at);
        if (std::memcmp(data + at, zeros.data(), part) != 0) {
            return false;
        }
    }
    return true;
}

bool Selected(int n, int count) {
    return n < kRecordsRead || n >= count - 4;
}

void ReadRecords(CEncImageFile& file, std::span<const std::uint8_t> bytes) {
    const int count = file.GetRecordCount();
    RecordHeader header{};
    QUILLON_FUZZ_CHECK(!file.ReadHeader(-1, header));
    QUILLON_FUZZ_CHECK(!file.ReadHeader(count, header));
    std::vector<std::uint8_t> buffer;
    for (int n = 0; n < count; ++n) {
        QUILLON_FUZZ_CHECK(file.GetRecordOffset(n) + quillon::kRecordHeaderSize <= bytes.size());
        if (!Selected(n, count)) {
            continue;
        }
        Tolerating([&] {
            if (!file.ReadHeader(n, header)) {
                return;
            }
            QUILLON_FUZZ_CHECK(header.size == quillon::kRecordHeaderSize);
            const std::size_t payload = header.PayloadSize();
            // A fuzzed header asks for up to 2 MiB; the first record says all there is to say
            // about those.
            if (payload > kLargePayload && n > 0) {
                return;
            }
            // One byte more than the payload: a reader that wrote past its length would
            // show here.
            buffer.assign(payload + 1, 0xA5);
            QUILLON_FUZZ_CHECK(file.ReadPayload(n, buffer.data(), payload + 1) == quillon::kOk);
            QUILLON_FUZZ_CHECK(buffer[payload] == 0xA5);
            const std::size_t start = file.GetRecordOffset(n) + quillon::kRecordHeaderSize;
            const std::size_t present =
                start < bytes.size() ? std::min(payload, bytes.size() - start) : 0;
            QUILLON_FUZZ_CHECK(present == 0 ||
                               std::memcmp(buffer.data(), bytes.data() + start, present) == 0);
            // Where the package ends inside the payload, the missing part reads as zeros.
            QUILLON_FUZZ_CHECK(AllZero(buffer.data() + present, payload - present));
            if (payload > 0) {
                QUILLON_FUZZ_CHECK(file.ReadPayload(n, buffer.data(), payload - 1) ==
                                   quillon::kEFail);
            }
            const std::vector<std::string> entries = file.ReadEntries(n);
            std::size_t total = 0;
            for (const std::string& entry : entries) {
                QUILLON_FUZZ_CHECK(!entry.empty());
                QUILLON_FUZZ_CHECK(entry.find('\0') == std::string::npos);
                total += entry.size() + 1;
            }
            QUILLON_FUZZ_CHECK(total <= payload + 1);
        });
        Tolerating([&] {
            const int found = file.FindRecord(n, header.type);
            QUILLON_FUZZ_CHECK(found == -1 || (found >= n && found < count));
        });
    }
}

void ReadDescriptors(CEncImageFile& file) {
    const int count = file.GetRecordCount();
    // Chained from each find to the next, so every descriptor is read once.
    Tolerating([&] {
        VersionDescriptor descriptor;
        for (int start = -3; start <= count;) {
            const int found = file.FindModuleDescriptor(start, descriptor);
            if (found < 0) {
                break;
            }
            QUILLON_FUZZ_CHECK(found >= std::max(start, 0) && found < count);
            QUILLON_FUZZ_CHECK(descriptor.recordIndex == found);
            start = found + 1;
        }
    });
    Tolerating([&] {
        VersionDescriptor descriptor;
        descriptor.product = "untouched";
        for (int start = -1; start <= count;) {
            const int found = file.FindLoaderDescriptor(start, descriptor);
            if (found < 0) {
                break;
            }
            QUILLON_FUZZ_CHECK(found >= std::max(start, 0) && found < count);
            start = found + 1;
        }
    });
    Tolerating([&] {
        std::vector<std::string> list{"kept"};
        for (int start = 0; start <= count;) {
            const std::size_t before = list.size();
            const int found = file.CollectTargetTypes(start, list);
            if (found < 0) {
                QUILLON_FUZZ_CHECK(list.size() == before);
                break;
            }
            start = found + 1;
        }
        QUILLON_FUZZ_CHECK(list.front() == "kept");
    });
    Tolerating([&] {
        VersionDescriptor description;
        quillon::ReadImageDescription(file, description);
        QUILLON_FUZZ_CHECK(description.recordIndex == 0 && description.recordCount == 0);
        std::vector<std::string> list{"emptied"};
        quillon::CollectImageTargetTypes(file, list);
        QUILLON_FUZZ_CHECK(std::find(list.begin(), list.end(), "emptied") == list.end() ||
                           count > 0);
    });
}

// The controller's own package work: the same bytes serve as both packages. One core
// serves every input (making one costs more than all the reading); each input attaches
// afresh, and nothing reads the previous input's bytes in between.
void ExerciseController(std::span<const std::uint8_t> bytes) {
    static quillon::CUploadCore core;
    try {
        core.LoadPackages(bytes, bytes);
    } catch (const CInvalidFileError&) {
        return;
    }
    Tolerating([&] {
        const bool none = core.CollectActivationBlocks();
        QUILLON_FUZZ_CHECK(none == core.activationBlocks.empty());
    });
    for (const char* product : {"Tovrin", "tovrin48", "KOLM"}) {
        Tolerating([&] {
            core.deviceBootloader.SetText("VERS:1.1.1");
            core.deviceBootloader.product = product;
            core.boardTypeId = "0;4;1;7;Y;3;5";
            const quillon::ModuleNames names = quillon::ModuleVariantNames(core.boardTypeId);
            core.flashModuleName = names.flash;
            core.crcModuleName = names.crc;
            (void)core.GetMinimumBootloaderVersion();
            const auto module = quillon::FindSuitableModule(
                "BrdIDMod", core.deviceBootloader, core.UtilityPackage(), core.FirmwareImage());
            if (module) {
                QUILLON_FUZZ_CHECK(module->descriptorIndex >= 0);
            }
            const quillon::CompatibilityResult result = quillon::AssessCompatibility(core);
            QUILLON_FUZZ_CHECK(result.nextEnabled ==
                               (result.outcome != quillon::CompatibilityOutcome::Refuse));
        });
    }
}

// The index as the container format defines it: headers back to back, each followed by
// blocks x 32 bytes, until fewer than 14 bytes are left.
void CheckIndex(CEncImageFile& file, std::span<const std::uint8_t> bytes, bool whole) {
    std::vector<std::size_t> offsets;
    std::size_t at = 0;
    while (bytes.size() - at >= quillon::kRecordHeaderSize) {
        offsets.push_back(at);
        const std::size_t blocks = bytes[at + 4] | (bytes[at + 5] << 8);
        at += quillon::kRecordHeaderSize + blocks * quillon::kBlockSize;
        if (at >= bytes.size()) {
            break;
        }
    }
    const bool expectWhole = at >= bytes.size() || bytes.size() - at == 0;
    QUILLON_FUZZ_CHECK(whole == expectWhole);
    QUILLON_FUZZ_CHECK(static_cast<std::size_t>(file.GetRecordCount()) == offsets.size());
    for (std::size_t n = 0; n < offsets.size(); ++n) {
        QUILLON_FUZZ_CHECK(file.GetRecordOffset(static_cast<int>(n)) == offsets[n]);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    CEncImageFile file;
    file.Attach(bytes);
    const bool whole = file.BuildIndex();
    const int count = file.GetRecordCount();
    QUILLON_FUZZ_CHECK(static_cast<std::size_t>(count) <= size / quillon::kRecordHeaderSize);
    if (size == 0) {
        QUILLON_FUZZ_CHECK(whole && count == 0);
    }
    CheckIndex(file, bytes, whole);
    ReadRecords(file, bytes);
    ReadDescriptors(file);
    ExerciseController(bytes);
    return 0;
}
