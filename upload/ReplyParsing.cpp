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
    const std::size_t kept = lines != nullptr ? lines->size() : 0;
    const auto overrun = [&] {
        if (lines != nullptr) {
            lines->resize(kept);
        }
        return kErrorMoreData;
    };
    std::string line;
    bool previousWasZero = false;
    std::size_t bytes = 0;
    std::size_t lineCount = 0;
    for (;;) {
        std::uint8_t byte = 0;
        if (const Status s = next(byte); s != kOk) {
            return s;
        }
        if (++bytes > kMaxReplyBytes) {
            return overrun();
        }
        if (byte != 0) {
            if (line.size() >= kMaxReplyLine) {
                return overrun();
            }
            line += static_cast<char>(byte);
            previousWasZero = false;
            continue;
        }
        if (previousWasZero) {
            return kOk;
        }
        if (!line.empty()) {
            if (++lineCount > kMaxReplyLines) {
                return overrun();
            }
            if (lines != nullptr) {
                lines->push_back(line);
            }
        }
        line.clear();
        previousWasZero = true;
    }
}

} // namespace quillon
