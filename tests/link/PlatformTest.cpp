#include "link/PortName.h"
#include "platform/ErrnoStatus.h"
#include "platform/Event.h"
#include "platform/PreciseClock.h"
#include "platform/PseudoTerminal.h"
#include "platform/SerialDevice.h"
#include "tests/support/TempDirectory.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(EventTest, AutoResetReleasesOneWaitAndResets) {
    Event event(Event::Mode::AutoReset);
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.Wait(0));
}

TEST(EventTest, ManualResetStaysSetUntilReset) {
    Event event(Event::Mode::ManualReset, true);
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0));
    event.Reset();
    EXPECT_FALSE(event.Wait(0));
}

TEST(EventTest, TimedWaitLastsAtLeastItsTimeoutAndWakesOnSet) {
    Event event;
    const auto start = Clock::now();
    EXPECT_FALSE(event.Wait(50));
    EXPECT_GE(Clock::now() - start, 49ms);

    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        event.Set();
    });
    EXPECT_TRUE(event.Wait(Event::kInfinite));
    setter.join();
}

TEST(PreciseClockTest, NeverReturnsBeforeTheDeadline) {
    for (const auto length : {0us, 50us, 500us, 1900us, 2100us, 5000us}) {
        const auto deadline = Clock::now() + length;
        PreciseClock::WaitUntil(deadline);
        EXPECT_GE(Clock::now(), deadline) << length.count();
    }
    const std::int64_t start = PreciseClock::Counter();
    PreciseClock::WaitSeconds(0.003, start);
    const double elapsed =
        static_cast<double>(PreciseClock::Counter() - start) / PreciseClock::Frequency();
    EXPECT_GE(elapsed, 0.003);
}

TEST(PreciseClockTest, DeadlineInThePastReturnsAtOnce) {
    // A wait that went by long ago: one that counted from now would last a minute.
    const std::int64_t longAgo = PreciseClock::Counter() - 600 * PreciseClock::Frequency();
    const auto start = Clock::now();
    PreciseClock::WaitSeconds(60.0, longAgo);
    EXPECT_LT(Clock::now() - start, 30s);
}

TEST(PortNameTest, MapsNamesToDevicePaths) {
    EXPECT_EQ(DevicePathForPort("COM1"), "/dev/ttyS0");
    EXPECT_EQ(DevicePathForPort("com3"), "/dev/ttyS2");
    EXPECT_EQ(DevicePathForPort("Com12"), "/dev/ttyS11");
    EXPECT_EQ(DevicePathForPort("\\\\.\\COM3"), "/dev/ttyS2");
    EXPECT_EQ(DevicePathForPort("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(DevicePathForPort("\\\\.\\/dev/ttyACM1"), "/dev/ttyACM1");
    EXPECT_EQ(DevicePathForPort("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(DevicePathForPort("COM0"), "/dev/COM0");
    EXPECT_EQ(DevicePathForPort("COM"), "/dev/COM");
    EXPECT_EQ(DevicePathForPort("COM1x"), "/dev/COM1x");
    EXPECT_EQ(DevicePathForPort(""), "");
}

TEST(ErrnoStatusTest, MapsTheFailuresAUserMeets) {
    EXPECT_EQ(StatusFromErrno(0), kOk);
    EXPECT_EQ(StatusFromErrno(ENOENT), kErrorFileNotFound);
    EXPECT_EQ(StatusFromErrno(EACCES), kErrorAccessDenied);
    EXPECT_EQ(StatusFromErrno(EBUSY), kErrorAccessDenied);
    EXPECT_EQ(StatusFromErrno(ENOTTY), kErrorInvalidFunction);
    EXPECT_EQ(StatusFromErrno(ENAMETOOLONG), kErrorFilenameExcedRange);
    EXPECT_EQ(StatusFromErrno(EIO), kErrorDeviceNotConnected);
    EXPECT_EQ(StatusFromErrno(EPROTO), kErrorGenFailure);
}

TEST(PseudoTerminalTest, CarriesBytesBothWaysAndReportsTheSlaveSpeed) {
    PseudoTerminal pty;
    ASSERT_EQ(pty.Open(), 0);
    ASSERT_TRUE(std::filesystem::exists(pty.SlavePath()));

    SerialDevice device;
    ASSERT_EQ(device.Open(pty.SlavePath()), 0);
    DCB dcb;
    ASSERT_EQ(device.GetState(dcb), 0);
    dcb.BaudRate = 57600;
    ASSERT_EQ(device.SetState(dcb), 0);
    EXPECT_EQ(pty.SlaveBaudRate(), 57600u);
    dcb.BaudRate = 250000; // not a classic speed
    ASSERT_EQ(device.SetState(dcb), 0);
    EXPECT_EQ(pty.SlaveBaudRate(), 250000u);

    const std::uint8_t out[] = {0x00, 0x11, 0xFF, '\r', '\n', 0x13};
    ASSERT_EQ(pty.Write(out, sizeof out), static_cast<ssize_t>(sizeof out));
    ASSERT_EQ(device.WaitReadable(5000), 0);
    std::uint8_t in[16] = {};
    std::size_t got = 0;
    std::size_t total = 0;
    while (total < sizeof out && device.WaitReadable(5000) == 0) {
        ASSERT_EQ(device.Read(in + total, sizeof in - total, got), 0);
        total += got;
    }
    ASSERT_EQ(total, sizeof out);
    EXPECT_EQ(0, std::memcmp(in, out, sizeof out));

    std::size_t put = 0;
    ASSERT_EQ(device.Write(out, sizeof out, put), 0);
    ASSERT_EQ(put, sizeof out);
    std::uint8_t back[sizeof out] = {};
    ASSERT_EQ(pty.ReadExactly(back, sizeof back, 5000), sizeof back);
    EXPECT_EQ(0, std::memcmp(back, out, sizeof out));
    EXPECT_EQ(pty.Read(back, sizeof back, 0), 0); // nothing more
}

TEST(PseudoTerminalTest, LinkNamesTheSlaveAndGoesWithClose) {
    testing::TempDirectory dir;
    const std::string link = dir.File("ttyVELDRA");
    {
        PseudoTerminal pty;
        ASSERT_EQ(pty.Open(), 0);
        ASSERT_EQ(pty.CreateLink(link), 0);
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), pty.SlavePath());
        SerialDevice device;
        EXPECT_EQ(device.Open(link), 0);
    }
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST(PseudoTerminalTest, HangUpIsSeenByTheSlaveSide) {
    PseudoTerminal pty;
    ASSERT_EQ(pty.Open(), 0);
    SerialDevice device;
    ASSERT_EQ(device.Open(pty.SlavePath()), 0);
    pty.HangUp();
    EXPECT_FALSE(pty.IsOpen());
    EXPECT_EQ(pty.SlaveBaudRate(), 0u);
    std::uint8_t byte = 0;
    std::size_t got = 0;
    EXPECT_EQ(device.WaitReadable(5000), EIO);
    EXPECT_EQ(device.Read(&byte, 1, got), EIO);
    EXPECT_TRUE(device.HungUp());
    EXPECT_EQ(device.TakeLineErrors() & CE_IOE, CE_IOE);
    std::uint32_t events = 0;
    ASSERT_EQ(device.WaitEvent(EV_RXCHAR | EV_ERR, 5000, events, device.WakeSequence()), 0);
    EXPECT_EQ(events, EV_ERR);
    // Reported once; afterwards the wait only sleeps.
    const auto start = Clock::now();
    EXPECT_EQ(device.WaitEvent(EV_RXCHAR | EV_ERR, 50, events, device.WakeSequence()), ETIMEDOUT);
    EXPECT_GE(Clock::now() - start, 45ms);
}

} // namespace
} // namespace quillon
