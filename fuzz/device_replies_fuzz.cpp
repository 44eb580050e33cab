// What a device (or a noisy line) may send: the reply word and text lines read from a
// byte source, the start-up watcher over the same bytes, the board identification reply
// decoded into a board type ID, and device information lines applied to a descriptor.

#include "FuzzCheck.h"
#include "package/VersionDescriptor.h"
#include "upload/BoardMatching.h"
#include "upload/CStartupWatcher.h"
#include "upload/DeviceIdentification.h"
#include "upload/ReplyParsing.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The byte source of a link whose device sent exactly these bytes and then fell silent.
quillon::ByteSource SourceOver(const std::uint8_t* data, std::size_t size, std::size_t& at) {
    return [data, size, &at](std::uint8_t& byte) {
        if (at >= size) {
            return quillon::kWaitTimeout;
        }
        byte = data[at++];
        return quillon::kOk;
    };
}

void CheckReplies(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    const quillon::ByteSource next = SourceOver(data, size, at);
    std::uint16_t word = 0;
    const quillon::Status wordStatus = quillon::ReadReplyWord(next, word);
    if (size >= 2) {
        QUILLON_FUZZ_CHECK(wordStatus == quillon::kOk);
        QUILLON_FUZZ_CHECK(word == ((data[0] << 8) | data[1]));
    } else {
        QUILLON_FUZZ_CHECK(wordStatus == quillon::kWaitTimeout);
    }

    std::vector<std::string> lines{"earlier"};
    const std::size_t start = at;
    const quillon::Status linesStatus = quillon::ReadReplyLines(next, &lines);
    QUILLON_FUZZ_CHECK(lines.front() == "earlier");
    // A reply past its bounds leaves the list as it was; any other keeps at most the bound.
    QUILLON_FUZZ_CHECK(linesStatus != quillon::kErrorMoreData || lines.size() == 1);
    QUILLON_FUZZ_CHECK(lines.size() - 1 <= quillon::kMaxReplyLines);
    QUILLON_FUZZ_CHECK(linesStatus == quillon::kOk || linesStatus == quillon::kWaitTimeout ||
                       linesStatus == quillon::kErrorMoreData);
    std::size_t text = 0;
    for (std::size_t k = 1; k < lines.size(); ++k) {
        QUILLON_FUZZ_CHECK(!lines[k].empty() && lines[k].size() <= quillon::kMaxReplyLine);
        QUILLON_FUZZ_CHECK(lines[k].find('\0') == std::string::npos);
        text += lines[k].size();
    }
    QUILLON_FUZZ_CHECK(start + text <= at);
    if (linesStatus == quillon::kOk) {
        // The reply ended at a zero byte that followed a zero byte (or the first byte).
        QUILLON_FUZZ_CHECK(at > start && data[at - 1] == 0);
    }
    // Reading again without a list must neither crash nor hold on for ever.
    std::size_t again = 0;
    (void)quillon::ReadReplyLines(SourceOver(data, size, again), nullptr);

    for (std::size_t k = 1; k < lines.size(); ++k) {
        const std::string id = quillon::DecodeBoardTypeId(lines[k]);
        QUILLON_FUZZ_CHECK(!id.empty());
        if (id != quillon::kUnavailableText) {
            // Decoded IDs are one-character fields.
            QUILLON_FUZZ_CHECK(id.size() % 2 == 1);
            for (std::size_t i = 1; i < id.size(); i += 2) {
                QUILLON_FUZZ_CHECK(id[i] == ';');
            }
            QUILLON_FUZZ_CHECK(id.size() <= lines[k].size());
        }
        (void)quillon::ModuleVariantNames(id);
    }

    lines.erase(lines.begin());
    quillon::VersionDescriptor bootloader;
    quillon::ApplyDeviceLines(lines, bootloader, quillon::kUnknownText);
    if (lines.empty()) {
        QUILLON_FUZZ_CHECK(bootloader.text == quillon::kUnknownText && bootloader.orderKey == -1);
    }
    quillon::VersionDescriptor minimum;
    minimum.SetText("2.1.2");
    (void)quillon::IsBootloaderSufficient(bootloader, minimum);
    (void)quillon::IsSameOrNewerFirmware(bootloader, minimum);
}

// The watcher reports the message exactly when the printable bytes so far end with it.
void CheckStartup(const std::uint8_t* data, std::size_t size) {
    const std::string_view message = quillon::CStartupWatcher::kStartupMessage;
    quillon::CStartupWatcher watcher;
    std::string printable;
    for (std::size_t k = 0; k < size; ++k) {
        const bool seen = watcher.Feed(data[k]);
        const bool isPrintable = data[k] >= 0x20 && data[k] <= 0x7E;
        if (isPrintable) {
            printable += static_cast<char>(data[k]);
        }
        const bool endsWith =
            isPrintable && printable.size() >= message.size() &&
            printable.compare(printable.size() - message.size(), message.size(), message) == 0;
        QUILLON_FUZZ_CHECK(seen == endsWith);
        QUILLON_FUZZ_CHECK(watcher.Window().size() <= message.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckReplies(data, size);
    CheckStartup(data, size);
    const std::string whole(reinterpret_cast<const char*>(data), size);
    (void)quillon::DecodeBoardTypeId(whole);
    return 0;
}
