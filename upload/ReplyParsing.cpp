#include "upload/ReplyParsing.h"

namespace quillon {

Status ReadReplyWord(const ByteSource& next, std::uint16_t& word) {
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    if (const Status s = next(high); s != kOk) {
        return s;
    }
    if (const Status s = next(low); s != kOk) {
        return s;
    }
    word = static_cast<std::uint16_t>((high << 8) | low);
    return kOk;
}

Status ReadReplyLines(const ByteSource& next, std::vector<std::string>* lines) {
    std::string line;
    bool previousWasZero = false;
    for (;;) {
        std::uint8_t byte = 0;
        if (const Status s = next(byte); s != kOk) {
            return s;
        }
        if (byte != 0) {
            if (line.size() >= kMaxReplyLine) {
                return kEFail;
            }
            line += static_cast<char>(byte);
            previousWasZero = false;
            continue;
        }
        if (previousWasZero) {
            return kOk;
        }
        if (!line.empty() && lines != nullptr) {
            lines->push_back(line);
        }
        line.clear();
        previousWasZero = true;
    }
}

} // namespace quillon
