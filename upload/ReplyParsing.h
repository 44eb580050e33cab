#pragma once

#include "platform/StatusCodes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillon {

// Takes the next byte the device sent: kOk with the byte, or the failure of the read.
using ByteSource = std::function<Status(std::uint8_t& byte)>;

// A reply line longer than any the device sends means the line carries noise; without a
// bound a babbling line would hold the transfer for ever.
inline constexpr std::size_t kMaxReplyLine = 4096;

// Reads the two-byte reply word, high byte first.
Status ReadReplyWord(const ByteSource& next, std::uint16_t& word);

// Reads text lines, each ended by a zero byte, until a zero byte follows a zero byte (the
// byte before the first one counts as non-zero, so a reply may start with one zero byte).
// Non-empty lines are appended to `lines` when given; lines already appended stay when a
// read fails. kEFail for a line past kMaxReplyLine.
Status ReadReplyLines(const ByteSource& next, std::vector<std::string>* lines);

} // namespace quillon
