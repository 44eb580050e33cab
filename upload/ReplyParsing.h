#pragma once

#include "platform/StatusCodes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillon {

// Takes the next byte the device sent: kOk with the byte, or the failure of the read.
using ByteSource = std::function<Status(std::uint8_t& byte)>;

// Bounds of one text reply (information, completion, board identification). Without them
// a device that babbles short lines (or one endless line) would hold the conversation for
// ever, since every byte arrives within its per-byte timeout. They are far above anything
// a module prints: the information lists are a handful of lines of a few dozen bytes, a
// completion reply one short line (the board type ID, the CRC verdict), so a genuine reply
// is under 1 KiB. 16 KiB still ends a babbling reply within 8.5 s at 19200 baud (1.4 s at
// 115200); 256 lines of a few bytes each end it sooner.
//
// A reply line longer than any the device sends means the line carries noise.
inline constexpr std::size_t kMaxReplyLine = 4096;
// Non-empty lines in one reply.
inline constexpr std::size_t kMaxReplyLines = 256;
// Bytes of one reply's text, zero bytes included.
inline constexpr std::size_t kMaxReplyBytes = 16 * 1024;

// Reads the two-byte reply word, high byte first.
Status ReadReplyWord(const ByteSource& next, std::uint16_t& word);

// Reads text lines, each ended by a zero byte, until a zero byte follows a zero byte (the
// byte before the first one counts as non-zero, so a reply may start with one zero byte).
// Non-empty lines are appended to `lines` when given; lines already appended stay when a
// read fails. A reply that goes on past one of the bounds above ends with kErrorMoreData
// and leaves `lines` as it found them: a babbling device's text is noise, and kept lines
// would be taken for what the next module answered (the CRC verdict is the first line).
Status ReadReplyLines(const ByteSource& next, std::vector<std::string>* lines);

} // namespace quillon
