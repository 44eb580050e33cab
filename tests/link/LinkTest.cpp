#include "link/CFWUplSerialEx.h"
#include "platform/PreciseClock.h"
#include "platform/PseudoTerminal.h"
#include "tests/support/Polling.h"
#include "tests/support/PtyDrain.h"

#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> Sequence(std::size_t count, std::uint8_t first = 0) {
    std::vector<std::uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(pty_.Open(), 0); }

    void OpenLink(bool startThread = true) {
        ASSERT_EQ(link_.Open(pty_.SlavePath(), 2048, 2048, startThread), kOk);
        ASSERT_EQ(link_.ConfigureLine(19200, 8, kParityNone, kStopBitsOne), kOk);
        ASSERT_EQ(link_.ConfigureHandshake(kHandshakeOff), kOk);
        ASSERT_EQ(link_.SetEventMask(EV_RXCHAR | EV_BREAK | EV_ERR), kOk);
    }

    void Send(const std::vector<std::uint8_t>& bytes) {
        ASSERT_EQ(pty_.Write(bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Waits until the driver holds count received bytes (no event thread running).
    void WaitInDriver(std::uint32_t count) {
        ASSERT_TRUE(testing::WaitUntil([&] {
            COMSTAT status;
            link_.TakeLineErrors(&status);
            return status.cbInQue == count;
        }));
    }

    std::vector<std::uint8_t> ReadAll(std::size_t count, std::uint32_t timeoutMs = 5000) {
        std::vector<std::uint8_t> bytes;
        std::uint8_t byte = 0;
        while (bytes.size() < count && link_.ReadByte(byte, timeoutMs) == kOk) {
            bytes.push_back(byte);
        }
        return bytes;
    }

    PseudoTerminal pty_;
    CFWUplSerialEx link_;
};

TEST_F(LinkTest, BytesOfSeveralEventsAreReadInOrder) {
    OpenLink();
    Send({0x41});
    ASSERT_TRUE(testing::WaitUntil([&] { return link_.AvailableBytes() == 1; }));
    Send({0x42});
    ASSERT_TRUE(testing::WaitUntil([&] { return link_.AvailableBytes() == 2; }));
    std::uint8_t byte = 0;
    ASSERT_EQ(link_.ReadByte(byte, 1000), kOk);
    EXPECT_EQ(byte, 0x41);
    ASSERT_EQ(link_.ReadByte(byte, 1000), kOk);
    EXPECT_EQ(byte, 0x42);
    EXPECT_EQ(link_.AvailableBytes(), 0u);
}

TEST_F(LinkTest, OneEventTakesAtMost256Bytes) {
    OpenLink(false);
    const auto bytes = Sequence(300, 7);
    Send(bytes);
    WaitInDriver(300);
    link_.OnCommEvent(EV_RXCHAR, 0);
    EXPECT_EQ(link_.AvailableBytes(), 256u);
    COMSTAT status;
    link_.TakeLineErrors(&status);
    EXPECT_EQ(status.cbInQue, 44u);
    link_.OnCommEvent(EV_RXCHAR, 0);
    EXPECT_EQ(link_.AvailableBytes(), 300u);
    EXPECT_EQ(ReadAll(300), bytes);
}

TEST_F(LinkTest, OnlyAPlainReceiveEventMovesBytes) {
    OpenLink(false);
    Send(Sequence(10));
    WaitInDriver(10);
    link_.OnCommEvent(EV_RXCHAR | EV_ERR, 0); // combined: nothing moves, nothing purged
    link_.OnCommEvent(EV_BREAK, 0);           // a break changes nothing
    EXPECT_EQ(link_.AvailableBytes(), 0u);
    WaitInDriver(10);
    link_.OnCommEvent(EV_RXCHAR, 0);
    EXPECT_EQ(link_.AvailableBytes(), 10u);

    // A receive error empties the driver's queue but keeps what was already buffered.
    Send(Sequence(5));
    WaitInDriver(5);
    link_.OnCommEvent(EV_ERR, 0);
    WaitInDriver(0);
    link_.OnCommEvent(EV_RXCHAR, CE_FRAME);
    EXPECT_EQ(link_.AvailableBytes(), 10u);
}

TEST_F(LinkTest, AFloodArrivesCompleteAndInOrder) {
    OpenLink();
    std::mt19937 random(20240607);
    std::vector<std::uint8_t> bytes(20000);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(random());
    }
    std::thread sender([&] { pty_.Write(bytes.data(), bytes.size(), 20000); });
    const auto received = ReadAll(bytes.size());
    sender.join();
    EXPECT_EQ(received.size(), bytes.size());
    EXPECT_TRUE(received == bytes);
}

TEST_F(LinkTest, BufferIsCompactedAfter101ReadBytes) {
    OpenLink();
    const auto bytes = Sequence(150);
    Send(bytes);
    ASSERT_TRUE(testing::WaitUntil([&] { return link_.AvailableBytes() == 150; }));
    std::uint8_t byte = 0;
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(link_.ReadByte(byte, 0), kOk);
    }
    EXPECT_EQ(link_.ConsumedBytes(), 100u);
    ASSERT_EQ(link_.ReadByte(byte, 0), kOk);
    EXPECT_EQ(byte, 100);
    EXPECT_EQ(link_.ConsumedBytes(), 0u); // the 101st read compacts
    EXPECT_EQ(link_.AvailableBytes(), 49u);
    ASSERT_EQ(link_.ReadByte(byte, 0), kOk);
    EXPECT_EQ(byte, 101);
    EXPECT_EQ(ReadAll(48), std::vector<std::uint8_t>(bytes.begin() + 102, bytes.end()));
}

TEST_F(LinkTest, ReadByteTimesOut) {
    OpenLink();
    std::uint8_t byte = 0;
    auto start = Clock::now();
    EXPECT_EQ(link_.ReadByte(byte, 0), kWaitTimeout);
    EXPECT_LT(Clock::now() - start, 5s);
    start = Clock::now();
    EXPECT_EQ(link_.ReadByte(byte, 120), kWaitTimeout);
    EXPECT_GE(Clock::now() - start, 115ms);

    // A byte that comes during a wait ends it.
    std::thread late([&] {
        std::this_thread::sleep_for(30ms);
        pty_.Write("\x5A", 1);
    });
    EXPECT_EQ(link_.ReadByte(byte, 10000), kOk);
    EXPECT_EQ(byte, 0x5A);
    late.join();
}

TEST_F(LinkTest, ClearedBytesAreNotReadAndNewOnesAre) {
    OpenLink();
    Send({1, 2, 3});
    ASSERT_TRUE(testing::WaitUntil([&] { return link_.AvailableBytes() == 3; }));
    link_.ClearReceiveBuffer();
    EXPECT_EQ(link_.AvailableBytes(), 0u);
    std::uint8_t byte = 0;
    const auto start = Clock::now();
    EXPECT_EQ(link_.ReadByte(byte, 60), kWaitTimeout);
    EXPECT_GE(Clock::now() - start, 55ms);
    std::thread late([&] {
        std::this_thread::sleep_for(20ms);
        pty_.Write("\x09", 1);
    });
    EXPECT_EQ(link_.ReadByte(byte, 10000), kOk);
    EXPECT_EQ(byte, 9);
    late.join();
}

TEST_F(LinkTest, InterruptWakesABlockedReadAndResumeRestores) {
    OpenLink();
    Status result = kOk;
    std::thread reader([&] {
        std::uint8_t byte = 0;
        result = link_.ReadByte(byte, kInfinite);
    });
    std::this_thread::sleep_for(30ms);
    link_.InterruptWaits();
    reader.join();
    EXPECT_EQ(result, kEAbort);
    EXPECT_TRUE(link_.WaitsInterrupted());

    Send({0x33});
    ASSERT_TRUE(testing::WaitUntil([&] { return link_.AvailableBytes() == 1; }));
    std::uint8_t byte = 0;
    EXPECT_EQ(link_.ReadByte(byte, 1000), kEAbort); // even with a byte waiting
    link_.ResumeWaits();
    EXPECT_EQ(link_.ReadByte(byte, 1000), kOk);
    EXPECT_EQ(byte, 0x33);
}

TEST_F(LinkTest, WriteAndDrainHoldsForTheLineTime) {
    OpenLink();
    testing::PtyDrain drain(pty_);
    const auto bytes = Sequence(32);
    for (const std::uint32_t baud : {19200u, 115200u}) {
        ASSERT_EQ(link_.ConfigureLine(baud, 8, kParityNone, kStopBitsOne), kOk);
        const auto start = Clock::now();
        EXPECT_EQ(link_.WriteAndDrain(bytes.data(), bytes.size()), kOk);
        const auto lineTime = std::chrono::duration<double>(32 * 10.0 / baud);
        EXPECT_GE(Clock::now() - start, lineTime) << baud;
    }
    ASSERT_TRUE(drain.WaitForCount(64));
    const auto sent = drain.Bytes();
    EXPECT_EQ(std::vector<std::uint8_t>(sent.begin(), sent.begin() + 32), bytes);
}

// A line that takes no bytes: nobody reads the pseudo-terminal's master, so a write far
// larger than the kernel's buffers stays pending. How each way of ending it must end it.
enum class WriteEnd : std::uint8_t { Bound, Interrupt, Close };

class BlockedWriteTest : public LinkTest, public ::testing::WithParamInterface<WriteEnd> {};

TEST_P(BlockedWriteTest, EndsWithoutTheDriverTakingTheBytes) {
    OpenLink();
    // At 4 Mbaud the line time of 1 MiB is 2.6 s; at 1200 baud it is two and a half hours,
    // which only an interrupt or a close can cut short.
    const std::uint32_t baud = GetParam() == WriteEnd::Bound ? 4000000 : 1200;
    ASSERT_EQ(link_.ConfigureLine(baud, 8, kParityNone, kStopBitsOne), kOk);
    const std::vector<std::uint8_t> bytes(1 << 20, 0x55);
    const auto start = Clock::now();
    Status result = kOk;
    Clock::time_point ended;
    std::jthread writer([&] {
        result = link_.WriteAndDrain(bytes.data(), bytes.size());
        ended = Clock::now();
    });
    ASSERT_TRUE(testing::WaitUntil([&] { return pty_.PendingFromSlave() > 0; }));
    if (GetParam() == WriteEnd::Interrupt) {
        link_.InterruptWaits();
    } else if (GetParam() == WriteEnd::Close) {
        EXPECT_EQ(link_.Close(), kOk);
        EXPECT_LT(Clock::now() - start, 30s);
    }
    writer.join();
    const auto lineTime = std::chrono::duration<double>(bytes.size() * 10.0 / baud);
    if (GetParam() == WriteEnd::Bound) {
        EXPECT_EQ(result, kErrorTimeout);
        EXPECT_GE(ended - start,
                  lineTime + std::chrono::milliseconds(CFWUplSerialEx::kWriteMarginMs - 100));
        EXPECT_LT(ended - start, 60s);
    } else {
        // Cut short while waiting (E_ABORT), or, after a close, finding the port gone.
        if (GetParam() == WriteEnd::Interrupt) {
            EXPECT_EQ(result, kEAbort);
        } else {
            EXPECT_NE(result, kOk);
        }
        EXPECT_LT(ended - start, 30s);
    }
    // The interrupt cuts writes short until it is lifted, then they go through again.
    if (GetParam() == WriteEnd::Interrupt) {
        EXPECT_EQ(link_.WriteAndDrain("x", 1), kEAbort);
        link_.ResumeWaits();
        ASSERT_EQ(link_.PurgeBuffers(), kOk);
        testing::PtyDrain drain(pty_);
        EXPECT_EQ(link_.WriteAndDrain("x", 1), kOk);
    }
}

INSTANTIATE_TEST_SUITE_P(Ends, BlockedWriteTest,
                         ::testing::Values(WriteEnd::Bound, WriteEnd::Interrupt, WriteEnd::Close),
                         [](const ::testing::TestParamInfo<WriteEnd>& param) {
                             switch (param.param) {
                             case WriteEnd::Bound:
                                 return "Bound";
                             case WriteEnd::Interrupt:
                                 return "Interrupt";
                             case WriteEnd::Close:
                                 return "Close";
                             }
                             return "Unknown";
                         });

TEST_F(LinkTest, BreakPulseNeedsAnOpenPortAndLastsItsLength) {
    EXPECT_EQ(link_.PulseBreak(10), kErrorInvalidHandle);
    EXPECT_EQ(link_.GetLastError(), kErrorInvalidHandle);
    OpenLink();
    const auto start = Clock::now();
    EXPECT_EQ(link_.PulseBreak(10), kOk);
    EXPECT_GE(Clock::now() - start, 10ms);
    const std::int64_t begin = PreciseClock::Counter();
    EXPECT_EQ(CFWUplSerialEx::BusyWait(0.005, begin), kOk);
    EXPECT_GE(PreciseClock::Counter() - begin, PreciseClock::Frequency() / 200);
}

TEST_F(LinkTest, HangUpEndsReadsAtOnceAfterTheBufferedBytesAndClosesPromptly) {
    OpenLink();
    Send({1, 2});
    ASSERT_TRUE(testing::WaitUntil([&] { return link_.AvailableBytes() == 2; }));
    // A reader already waiting when the line goes is woken instead of sitting out its
    // timeout (a minute here: only the hang-up can end it with E_FAIL).
    std::uint8_t first = 0;
    std::uint8_t second = 0;
    std::uint8_t third = 0;
    ASSERT_EQ(link_.ReadByte(first, 0), kOk);
    ASSERT_EQ(link_.ReadByte(second, 0), kOk);
    Send({3});
    ASSERT_TRUE(testing::WaitUntil([&] { return link_.AvailableBytes() == 1; }));
    Status waiting = kOk;
    std::jthread reader([&] {
        std::uint8_t byte = 0;
        ASSERT_EQ(link_.ReadByte(third, 60000), kOk);
        waiting = link_.ReadByte(byte, 60000);
    });
    ASSERT_TRUE(testing::WaitUntil([&] { return link_.AvailableBytes() == 0; }));
    pty_.HangUp();
    reader.join();
    EXPECT_EQ(waiting, kEFail);
    EXPECT_EQ((std::vector<std::uint8_t>{first, second, third}),
              (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_TRUE(link_.IsHungUp());

    std::uint8_t byte = 0;
    EXPECT_EQ(link_.ReadByte(byte, 60000), kEFail);
    EXPECT_EQ(link_.ReadByte(byte, kInfinite), kEFail);
    EXPECT_EQ(link_.WriteAndDrain("x", 1), kErrorDeviceNotConnected); // a lost write fails
    EXPECT_EQ(link_.PulseBreak(1), kOk);
    EXPECT_EQ(link_.Close(), kOk);
    EXPECT_FALSE(link_.IsHungUp());
}

TEST_F(LinkTest, BytesBufferedBeforeAHangUpAreStillRead) {
    OpenLink();
    Send({7, 8, 9});
    ASSERT_TRUE(testing::WaitUntil([&] { return link_.AvailableBytes() == 3; }));
    pty_.HangUp();
    ASSERT_TRUE(testing::WaitUntil([&] { return link_.IsHungUp(); }));
    EXPECT_EQ(ReadAll(3, 60000), (std::vector<std::uint8_t>{7, 8, 9}));
    std::uint8_t byte = 0;
    EXPECT_EQ(link_.ReadByte(byte, 60000), kEFail);
}

TEST(LinkLifetimeTest, DestroyingAnOpenLinkStopsItsThread) {
    PseudoTerminal pty;
    ASSERT_EQ(pty.Open(), 0);
    for (int i = 0; i < 20; ++i) {
        CFWUplSerialEx link;
        ASSERT_EQ(link.Open(pty.SlavePath(), 2048, 2048, true), kOk);
        const std::vector<std::uint8_t> bytes(64, static_cast<std::uint8_t>(i));
        pty.Write(bytes.data(), bytes.size());
        // Destroyed while bytes may still be moving.
    }
    CFWUplSerialEx link;
    EXPECT_EQ(link.Open(pty.SlavePath(), 2048, 2048, true), kOk);
}

} // namespace
} // namespace quillon
