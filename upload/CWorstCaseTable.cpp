#include "upload/CWorstCaseTable.h"

#include "link/CFWUplSerialEx.h"
#include "package/PackageDescription.h"
#include "package/RecordHeader.h"
#include "package/VersionDescriptor.h"
#include "upload/CStartupWatcher.h"
#include "upload/ProtocolBounds.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

namespace quillon {

namespace {

double LineMs(double bytes, std::uint32_t baud) {
    return bytes * 10.0 * 1000.0 / baud;
}

double ActivationMs(int attempts, std::uint32_t baud) {
    constexpr double kBlockBytes = 32;
    return attempts * (bounds::kBreakMs + LineMs(kBlockBytes, baud) + bounds::kReplyPauseMs);
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Duration(double ms) {
    if (ms < 0) {
        return "-";
    }
    char text[64];
    const double seconds = ms / 1000.0;
    if (seconds < 120) {
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    } else if (seconds < 7200) {
        std::snprintf(text, sizeof text, "%.1f min", seconds / 60);
    } else {
        std::snprintf(text, sizeof text, "%.1f h", seconds / 3600);
    }
    return text;
}

} // namespace

CWorstCaseTable::CWorstCaseTable(CEncImageFile& utility, CEncImageFile& firmware)
    : utility_(utility), firmware_(firmware) {
    using bounds::kFastBaud;
    using bounds::kSlowBaud;
    VersionDescriptor image;
    ReadImageDescription(firmware_, image);
    const auto byteTimeout = image.timeStamp > 0 ? static_cast<std::uint32_t>(image.timeStamp)
                                                 : bounds::kDefaultStartupByteTimeoutMs;
    std::set<std::uint32_t> lists;
    RecordHeader header{};
    for (int n = 0; n < utility_.GetRecordCount(); ++n) {
        if (utility_.ReadHeader(n, header) && header.type == kInformationRequest) {
            lists.insert(header.parameter);
        }
    }
    const double information =
        static_cast<double>(lists.size()) * bounds::kSendsPerRecord *
        SendMs(32, kSlowBaud, bounds::kInfoReplyTimeoutMs, bounds::kInfoReplyTimeoutMs);
    const double identification = information + LongestModuleMs("BrdIDMod", kSlowBaud);
    const double flash = LongestModuleMs("FlashMod", kSlowBaud);
    const double imageFast = ModuleMs(firmware_, 0, kFastBaud);
    const double imageSlow = ModuleMs(firmware_, 0, kSlowBaud);
    rows_ = {
        {"waiting for the device", -1, -1},
        {"identification (information, board ID module)", identification, identification},
        {"flash programming module", flash, flash},
        {"switch to 115200 baud", SpeedSwitchMs(kFastBaud, kSlowBaud), -1},
        {"firmware image", imageFast, imageSlow},
        {"CRC check module", LongestModuleMs("FwCRCMod", kFastBaud),
         LongestModuleMs("FwCRCMod", kSlowBaud)},
        {"launch", RequestMs(kLaunchRequest, kFastBaud), RequestMs(kLaunchRequest, kSlowBaud)},
        {"start-up watch", static_cast<double>(CStartupWatcher::TotalLimit(byteTimeout).count()),
         static_cast<double>(CStartupWatcher::TotalLimit(byteTimeout).count())},
        {"switch back to 19200 baud after a failure", SpeedSwitchMs(kSlowBaud, kFastBaud), -1},
    };
    Row total{"whole upload, once the device has answered", 0, 0};
    for (const Row& row : rows_) {
        total.fastMs += std::max(row.fastMs, 0.0);
        total.slowMs += std::max(row.slowMs, 0.0);
    }
    rows_.push_back(total);
}

double CWorstCaseTable::SendMs(double bytes, std::uint32_t baud, std::uint32_t wordTimeoutMs,
                               std::uint32_t completionTimeoutMs) {
    double ms =
        bounds::kBreakMs + LineMs(bytes, baud) + bounds::kReplyPauseMs + 2.0 * wordTimeoutMs;
    if (completionTimeoutMs > 0) {
        ms += 2.0 * completionTimeoutMs + bounds::ReplyTextLimitMs(completionTimeoutMs, baud);
    }
    return ms;
}

double CWorstCaseTable::ModuleMs(CEncImageFile& package, int descriptor, std::uint32_t baud) {
    VersionDescriptor module;
    if (package.FindModuleDescriptor(descriptor, module) != descriptor) {
        return 0;
    }
    double longest = 0;
    RecordHeader header{};
    for (int k = 1; k <= module.recordCount; ++k) {
        if (package.ReadHeader(descriptor + k, header)) {
            const std::uint32_t completion =
                (header.type & kReplyFlag) != 0 ? header.replyTimeout : 0;
            longest = std::max(longest, SendMs(static_cast<double>(header.PayloadSize()), baud,
                                               bounds::kReplyWordTimeoutMs, completion));
        }
    }
    // A write the line no longer takes ends the transfer: once, after its margin.
    return bounds::kReplyPauseMs + bounds::ModuleSendLimit(module.recordCount) * longest +
           CFWUplSerialEx::kWriteMarginMs;
}

double CWorstCaseTable::LongestModuleMs(const std::string& name, std::uint32_t baud) {
    double longest = 0;
    for (CEncImageFile* package : {&utility_, &firmware_}) {
        RecordHeader header{};
        for (int n = 0; n < package->GetRecordCount(); ++n) {
            VersionDescriptor module;
            if (package->ReadHeader(n, header) && header.type == kModuleDescriptor &&
                package->FindModuleDescriptor(n, module) == n &&
                Lower(module.product).starts_with(Lower(name))) {
                longest = std::max(longest, ModuleMs(*package, n, baud));
            }
        }
    }
    return longest;
}

double CWorstCaseTable::RequestMs(std::uint16_t type, std::uint32_t baud) {
    RecordHeader header{};
    for (int n = 0; n < utility_.GetRecordCount(); ++n) {
        if (utility_.ReadHeader(n, header) && header.type == type) {
            return bounds::kSendsPerRecord * SendMs(static_cast<double>(header.PayloadSize()), baud,
                                                    bounds::kReplyWordTimeoutMs, 0);
        }
    }
    return 0;
}

double CWorstCaseTable::SpeedSwitchMs(std::uint32_t requestBaud, std::uint32_t lineBaud) {
    RecordHeader header{};
    for (int n = 0; n < utility_.GetRecordCount(); ++n) {
        if (utility_.ReadHeader(n, header) && header.type == kBaudRateRequest &&
            header.parameter == requestBaud) {
            return bounds::kSendsPerRecord * SendMs(static_cast<double>(header.PayloadSize()),
                                                    lineBaud, bounds::kReplyWordTimeoutMs, 0) +
                   ActivationMs(bounds::kActivationAttemptsAfterSwitch, requestBaud);
        }
    }
    return 0;
}

std::string CWorstCaseTable::Markdown() const {
    std::string text = "| phase | 115200 baud | 19200 baud (slow mode) |\n|---|---|---|\n";
    for (const Row& row : rows_) {
        const bool waiting = row.fastMs < 0 && row.slowMs < 0;
        text += "| " + row.phase + " | " +
                (waiting ? std::string("as long as `--wait` (the wizard: until the user leaves)")
                         : Duration(row.fastMs)) +
                " | " + (waiting ? std::string("the same") : Duration(row.slowMs)) + " |\n";
    }
    return text;
}

} // namespace quillon
