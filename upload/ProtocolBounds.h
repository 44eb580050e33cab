#pragma once

#include "upload/ReplyParsing.h"

#include <cstdint>

namespace quillon {

// The retry counts, pauses and timeouts of the conversation with the bootloader, in one
// place: the engine keeps to them, and the worst-case figures (the soak's bound, the
// README's table) are computed from them. The other bounds are named where they apply:
// the text of a reply (kMaxReplyLine, kMaxReplyLines, kMaxReplyBytes in ReplyParsing.h),
// a write's completion (CFWUplSerialEx::kWriteMarginMs) and the start-up watch
// (CStartupWatcher::kBootTime, kMaxOutput).
namespace bounds {

// Sends of one record in one exchange (the first and seven resends after a break).
inline constexpr int kSendsPerRecord = 8;
// Exchanges a module transfer allows one record before it gives up on it.
inline constexpr int kAttemptsPerModuleRecord = 3;
inline constexpr std::uint32_t kBreakMs = 10;
inline constexpr std::uint32_t kReplyPauseMs = 30;
inline constexpr std::uint32_t kReplyWordTimeoutMs = 1000;
inline constexpr std::uint32_t kInfoReplyTimeoutMs = 5000;
inline constexpr std::uint32_t kKeepAlivePauseMs = 500;
inline constexpr int kActivationAttemptsAfterSwitch = 20;
inline constexpr std::uint32_t kFastBaud = 115200;
inline constexpr std::uint32_t kSlowBaud = 19200;
// The start-up watch's wait for each byte when the package names none.
inline constexpr std::uint32_t kDefaultStartupByteTimeoutMs = 10000;
inline constexpr int kAbortPolls = 4000;

// Record sends one module transfer may make in all, resends and the records sent again
// after a backward redirect included. Forward progress costs one send per record; eight
// per record on average is a line so poor that the transfer would not be worth finishing,
// and the two further exchanges on top let a device that falls silent on the last record
// still get the full three exchanges there. Without a total a device that keeps asking
// for earlier records would hold the transfer for hours (each answer a new pass over the
// rest of the module); with it no module takes more than about eight times its time on a
// healthy line.
constexpr int ModuleSendLimit(int recordCount) {
    return kSendsPerRecord * recordCount + (kAttemptsPerModuleRecord - 1) * kSendsPerRecord;
}

// The longest one text reply may take in all when each of its bytes may wait timeoutMs:
// one timeout for the device to begin, then the line time of the longest reply
// (kMaxReplyBytes). A genuine reply of under 1 KiB comes at once.
constexpr std::uint32_t ReplyTextLimitMs(std::uint32_t timeoutMs, std::uint32_t baud) {
    return timeoutMs +
           static_cast<std::uint32_t>(
               (static_cast<std::uint64_t>(kMaxReplyBytes) * 10 * 1000 + baud - 1) / baud);
}

} // namespace bounds
} // namespace quillon
