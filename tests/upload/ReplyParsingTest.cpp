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
    EXPECT_TRUE(Lines(noise, kErrorMoreData).empty());
    std::vector<std::uint8_t> longest(kMaxReplyLine, 'y');
    longest.push_back(0);
    longest.push_back(0);
    EXPECT_EQ(Lines(longest).at(0).size(), kMaxReplyLine);
}

// A reply that goes on past its bounds: its bytes, the number at which it must fail (or
// kOk when it lies just within the bounds).
struct Babble {
    const char* name;
    std::vector<std::uint8_t> bytes;
    Status expected;
};

void PrintTo(const Babble& babble, std::ostream* out) {
    *out << babble.name;
}

// count lines of `line` each, then the reply's end when `ended`.
std::vector<std::uint8_t> Repeated(const std::string& line, std::size_t count, bool ended) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < count; ++i) {
        bytes.insert(bytes.end(), line.begin(), line.end());
        bytes.push_back(0);
    }
    if (ended) {
        bytes.push_back(0);
    }
    return bytes;
}

class ReplyBoundTest : public ::testing::TestWithParam<Babble> {};

TEST_P(ReplyBoundTest, FailsPastTheBoundAndLeavesEarlierLinesAlone) {
    std::vector<std::string> lines{"earlier"};
    EXPECT_EQ(ReadReplyLines(BytesThenTimeout(GetParam().bytes), &lines), GetParam().expected);
    if (GetParam().expected == kErrorMoreData) {
        EXPECT_EQ(lines, std::vector<std::string>{"earlier"});
    } else {
        EXPECT_GT(lines.size(), 1u);
        EXPECT_EQ(lines.front(), "earlier");
    }
}

// 16 KiB of text in lines of 99 bytes and their zero is 163 lines and a part: the byte
// bound strikes before the line bound.
INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyBoundTest,
    ::testing::Values(
        Babble{"MostLines", Repeated("ok", kMaxReplyLines, true), kOk},
        Babble{"OneLineTooMany", Repeated("ok", kMaxReplyLines + 1, true), kErrorMoreData},
        Babble{"EndlessShortLines", Repeated("VERS:1.1.1", 100000, false), kErrorMoreData},
        Babble{"MostBytes", Repeated(std::string(kMaxReplyBytes / 128 - 2, 'b'), 127, true), kOk},
        Babble{"EndlessLongLines", Repeated(std::string(99, 'c'), 200, false), kErrorMoreData},
        Babble{"EndlessLine", std::vector<std::uint8_t>(kMaxReplyBytes * 2, 'd'), kErrorMoreData}),
    [](const ::testing::TestParamInfo<Babble>& param) { return std::string(param.param.name); });

TEST(ReplyParsingTest, LinesCanBeDiscarded) {
    EXPECT_EQ(ReadReplyLines(BytesThenTimeout({'a', 0, 0}), nullptr), kOk);
}

} // namespace
} // namespace quillon
