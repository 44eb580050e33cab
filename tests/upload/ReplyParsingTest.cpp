// Reply words and text lines as the bootloader sends them.

#include "upload/ReplyParsing.h"

#include <deque>
#include <gtest/gtest.h>

namespace quillon {
namespace {

// Hands out the given bytes, then fails like a read that timed out.
ByteSource BytesThenTimeout(std::vector<std::uint8_t> bytes) {
    auto queue = std::make_shared<std::deque<std::uint8_t>>(bytes.begin(), bytes.end());
    return [queue](std::uint8_t& byte) {
        if (queue->empty()) {
            return kWaitTimeout;
        }
        byte = queue->front();
        queue->pop_front();
        return kOk;
    };
}

std::vector<std::string> Lines(std::vector<std::uint8_t> bytes, Status expected = kOk) {
    std::vector<std::string> lines;
    EXPECT_EQ(ReadReplyLines(BytesThenTimeout(std::move(bytes)), &lines), expected);
    return lines;
}

TEST(ReplyParsingTest, WordIsHighByteFirst) {
    std::uint16_t word = 0;
    EXPECT_EQ(ReadReplyWord(BytesThenTimeout({0x80, 0x05}), word), kOk);
    EXPECT_EQ(word, 0x8005);
    EXPECT_EQ(ReadReplyWord(BytesThenTimeout({0x3A}), word), kWaitTimeout);
}

TEST(ReplyParsingTest, ZeroAfterZeroEndsTheReply) {
    EXPECT_EQ(Lines({0x4F, 0x4B, 0, 0}), (std::vector<std::string>{"OK"}));
    EXPECT_EQ(Lines({0, 0x41, 0, 0}), (std::vector<std::string>{"A"}));
    EXPECT_TRUE(Lines({0, 0}).empty());
    EXPECT_EQ(Lines({'a', 0, 'b', 'c', 0, 0, 'd'}), (std::vector<std::string>{"a", "bc"}));
}

TEST(ReplyParsingTest, FailedReadKeepsLinesAlreadyTaken) {
    EXPECT_EQ(Lines({'a', 0, 'b'}, kWaitTimeout), (std::vector<std::string>{"a"}));
}

TEST(ReplyParsingTest, EndlessLineIsRejected) {
    std::vector<std::uint8_t> noise(kMaxReplyLine + 1, 'x');
    noise.push_back(0);
    noise.push_back(0);
    EXPECT_TRUE(Lines(noise, kEFail).empty());
    std::vector<std::uint8_t> longest(kMaxReplyLine, 'y');
    longest.push_back(0);
    longest.push_back(0);
    EXPECT_EQ(Lines(longest).at(0).size(), kMaxReplyLine);
}

TEST(ReplyParsingTest, LinesCanBeDiscarded) {
    EXPECT_EQ(ReadReplyLines(BytesThenTimeout({'a', 0, 0}), nullptr), kOk);
}

} // namespace
} // namespace quillon
