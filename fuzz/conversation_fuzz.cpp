// The engine's whole conversation with a device that says whatever the input says:
// activation, the information query, the board identification module, then the upload
// (flash module, speed switch, firmware image, CRC module, launch, start-up watch), over an
// in-memory link with small packages of the shipped kinds (fuzz/packages).
//
// Input: one flag byte, then the device stream of CMemoryLink (answers, each a length byte
// and its bytes; every send of the engine is answered by the next one). Flag bit 0 repeats
// the stream for ever and lets the device talk unasked (a babbling device that never
// stops); bit 1 chooses slow mode (no speed switch).
//
// Properties: the upload reports success only when, after the last send of the launch
// request, the device accepted it and then printed the start-up message; no record is sent
// more than eight times in one exchange (nor more than the module transfer's three
// exchanges in a row); one module transfer makes no more sends in all than its send limit
// (resends and redirects back included); the bytes read are bounded by the sends and the reply
// bounds; the sequence ends with exactly one end message; and every run ends (libFuzzer's
// -timeout).

#include "FuzzCheck.h"
#include "package/RecordHeader.h"
#include "package/VersionDescriptor.h"
#include "tests/support/CMemoryLink.h"
#include "upload/CStartupWatcher.h"
#include "upload/CUploadCore.h"
#include "upload/ProtocolBounds.h"
#include "upload/ReplyParsing.h"
#include "upload/UploadTexts.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

using quillon::CMemoryLink;
using quillon::CUploadCore;

constexpr std::uint8_t kFlagEndless = 0x01;
constexpr std::uint8_t kFlagSlowMode = 0x02;

// Activation as the speed switch does it: a bounded number of blocks (detection's own
// loop has no limit and would never end against a silent device).
constexpr int kActivationAttempts = 20;
constexpr std::size_t kSendsPerExchange = 8;
constexpr std::size_t kExchangesPerModuleRecord = 3;

// What one send may cost in reading: the reply word, the completion word and a text reply
// within the engine's bound (the byte that passes the bound is read to find that out).
// The start-up watch reads at most its own bound.
constexpr std::size_t kBytesPerSend = 2 + 2 + quillon::kMaxReplyBytes + 1;
constexpr std::size_t kStartupOutputBound = quillon::CStartupWatcher::kMaxOutput;

class RecordingSink : public quillon::IMessageSink {
public:
    void Post(std::uint32_t message, std::intptr_t /*wParam*/, std::intptr_t lParam) override {
        QUILLON_FUZZ_CHECK(ended == 0); // the end message is the last one
        if (message == quillon::kMsgSequenceEnded) {
            ++ended;
        }
        if (message == quillon::kMsgStatus &&
            std::strcmp(quillon::MessageText(lParam), quillon::texts::kTransferSucceeded) == 0) {
            succeeded = true;
        }
    }
    int ended = 0;
    bool succeeded = false;
};

// The module each data record's payload belongs to, and the module's record count.
struct ModuleOf {
    int key = -1; // the descriptor's record number, the image's offset by the utility's size
    int records = 0;
};
using ModuleIndex = std::map<std::vector<std::uint8_t>, ModuleOf>;

void IndexModules(quillon::CEncImageFile& package, int keyOffset, ModuleIndex& index) {
    quillon::RecordHeader header{};
    for (int n = 0; n < package.GetRecordCount(); ++n) {
        quillon::VersionDescriptor module;
        if (!package.ReadHeader(n, header) || header.type != quillon::kModuleDescriptor ||
            package.FindModuleDescriptor(n, module) != n) {
            continue;
        }
        for (int k = 1; k <= module.recordCount && package.ReadHeader(n + k, header); ++k) {
            std::vector<std::uint8_t> payload(header.PayloadSize());
            if (package.ReadPayload(n + k, payload.data(), payload.size()) != quillon::kOk) {
                continue;
            }
            const auto [at, added] =
                index.try_emplace(payload, ModuleOf{n + keyOffset, module.recordCount});
            if (!added && at->second.key != n + keyOffset) {
                at->second.key = -1; // the same bytes in two modules: not told apart
            }
        }
    }
}

// Counts the sends of each record: a send without a break before it starts an exchange,
// a send of the same bytes after a break is a resend within it. Consecutive sends of one
// module's records are one module transfer.
class SendCounter {
public:
    SendCounter(const std::vector<CUploadCore::Block>& activationBlocks, ModuleIndex modules)
        : activationBlocks_(activationBlocks), modules_(std::move(modules)) {}

    void Sent(std::span<const std::uint8_t> data, bool afterBreak) {
        const bool activation =
            data.size() == sizeof(CUploadCore::Block) &&
            std::any_of(activationBlocks_.begin(), activationBlocks_.end(),
                        [&](const CUploadCore::Block& block) {
                            return std::memcmp(block.data(), data.data(), block.size()) == 0;
                        });
        if (activation) {
            // The activation loop breaks before every block; its blocks are no record.
            last_.clear();
            module_ = {};
            return;
        }
        const bool same =
            last_.size() == data.size() && std::memcmp(last_.data(), data.data(), data.size()) == 0;
        inExchange_ = same && afterBreak ? inExchange_ + 1 : 1;
        inARow_ = same ? inARow_ + 1 : 1;
        QUILLON_FUZZ_CHECK(inExchange_ <= kSendsPerExchange);
        QUILLON_FUZZ_CHECK(inARow_ <= kSendsPerExchange * kExchangesPerModuleRecord);
        last_.assign(data.begin(), data.end());

        const auto found = modules_.find(last_);
        const ModuleOf module = found != modules_.end() ? found->second : ModuleOf{};
        inModule_ = module.key >= 0 && module.key == module_.key ? inModule_ + 1 : 1;
        module_ = module;
        if (module.key >= 0) {
            QUILLON_FUZZ_CHECK(inModule_ <= static_cast<std::size_t>(
                                                quillon::bounds::ModuleSendLimit(module.records)));
        }
    }

private:
    const std::vector<CUploadCore::Block>& activationBlocks_;
    const ModuleIndex modules_;
    std::vector<std::uint8_t> last_;
    std::size_t inExchange_ = 0;
    std::size_t inARow_ = 0;
    ModuleOf module_;
    std::size_t inModule_ = 0;
};

// The payload of the first launch request of the utility package.
std::vector<std::uint8_t> LaunchPayload(quillon::CEncImageFile& utility) {
    quillon::RecordHeader header{};
    for (int n = 0; n < utility.GetRecordCount(); ++n) {
        if (utility.ReadHeader(n, header) && header.type == quillon::kLaunchRequest) {
            std::vector<std::uint8_t> payload(header.PayloadSize());
            if (utility.ReadPayload(n, payload.data(), payload.size()) == quillon::kOk) {
                return payload;
            }
        }
    }
    return {};
}

// The answer to the launch request accepted it (reply word with bit 15 clear) and the
// device's output after it ends with the start-up message, non-printable bytes aside.
bool LaunchAcceptedThenBanner(const CMemoryLink& link, const std::vector<std::uint8_t>& launch) {
    if (launch.empty() || link.LastWrite() != launch) {
        return false;
    }
    const std::vector<std::uint8_t>& read = link.ReadSinceLastWrite();
    if (read.size() < 2 || (read[0] & 0x80) != 0) {
        return false;
    }
    std::string printable;
    for (std::size_t k = 2; k < read.size(); ++k) {
        if (read[k] >= 0x20 && read[k] <= 0x7E) {
            printable += static_cast<char>(read[k]);
        }
    }
    return printable.ends_with(quillon::CStartupWatcher::kStartupMessage);
}

std::vector<std::uint8_t> ReadPackage(const char* path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
    QUILLON_FUZZ_CHECK(!bytes.empty()); // the build makes both packages
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    auto owned = std::make_unique<CMemoryLink>();
    CMemoryLink& link = *owned;
    CUploadCore core(std::move(owned));
    static const std::vector<std::uint8_t> utility = ReadPackage(QUILLON_CONVERSATION_UTILITY);
    static const std::vector<std::uint8_t> firmware = ReadPackage(QUILLON_CONVERSATION_FIRMWARE);
    core.LoadPackages(utility, firmware);
    core.CollectActivationBlocks();
    core.SetActivationSeed(1);
    core.SetSlowMode((flags & kFlagSlowMode) != 0);
    core.ResetDeviceData();
    const std::vector<std::uint8_t> launch = LaunchPayload(core.UtilityPackage());

    link.SetDeviceStream({data + 1, size - 1}, (flags & kFlagEndless) != 0);
    link.SetReadBudget(kBytesPerSend, kStartupOutputBound);
    static const ModuleIndex modules = [&core] {
        ModuleIndex index;
        IndexModules(core.UtilityPackage(), 0, index);
        IndexModules(core.FirmwareImage(), core.UtilityPackage().GetRecordCount(), index);
        return index;
    }();
    SendCounter sends(core.activationBlocks, modules);
    link.SetWriteObserver([&sends](std::span<const std::uint8_t> bytes, bool afterBreak) {
        sends.Sent(bytes, afterBreak);
    });

    if (core.ActivateBootloader(kActivationAttempts, nullptr, false) == quillon::kOk) {
        core.IdentifyDevice();
        RecordingSink sink;
        core.RunUpload(&sink);
        QUILLON_FUZZ_CHECK(sink.ended == 1);
        if (std::getenv("QUILLON_CONVERSATION_TRACE") != nullptr) {
            std::fprintf(stderr,
                         "conversation: %s, %zu sends, %zu bytes read, %.1f s on the line\n",
                         sink.succeeded ? "success" : "failure", link.Writes(), link.BytesRead(),
                         link.SimulatedSeconds());
        }
        if (sink.succeeded) {
            QUILLON_FUZZ_CHECK(LaunchAcceptedThenBanner(link, launch));
        }
    }
    QUILLON_FUZZ_CHECK(!link.ReadBudgetSpent());
    return 0;
}
