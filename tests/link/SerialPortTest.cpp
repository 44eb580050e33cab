#include "link/CSerial.h"
#include "link/CSerialEx.h"
#include "platform/PseudoTerminal.h"
#include "tests/support/Polling.h"
#include "tests/support/TempDirectory.h"

#include <cerrno>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Records every event the thread delivers.
class RecordingPort : public CSerialEx {
public:
    ~RecordingPort() override { Close(); }

    std::vector<std::pair<std::uint32_t, std::uint32_t>> Events() {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::size_t EventCount() {
        std::lock_guard lock(mutex_);
        return events_.size();
    }
    std::vector<std::uint8_t> Received() {
        std::lock_guard lock(mutex_);
        return received_;
    }

protected:
    void OnCommEvent(std::uint32_t events, std::uint32_t lineErrors) override {
        std::uint8_t chunk[64];
        std::uint32_t got = 0;
        if ((events & EV_RXCHAR) != 0) {
            Read(chunk, sizeof chunk, &got);
        }
        std::lock_guard lock(mutex_);
        events_.emplace_back(events, lineErrors);
        received_.insert(received_.end(), chunk, chunk + got);
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> events_;
    std::vector<std::uint8_t> received_;
};

double ProcessCpuSeconds() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(pty_.Open(), 0); }

    PseudoTerminal pty_;
};

TEST_F(SerialPortTest, OpensClosesAndReopens) {
    CSerial port;
    EXPECT_FALSE(port.IsOpen());
    ASSERT_EQ(port.Open(pty_.SlavePath(), 2048, 2048), kOk);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.DevicePath(), pty_.SlavePath());
    EXPECT_EQ(port.GetEventMask(), EV_RXCHAR | EV_BREAK | EV_ERR);
    EXPECT_EQ(port.Close(), kOk);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Close(), kErrorInvalidHandle);
    ASSERT_EQ(port.Open(pty_.SlavePath()), kOk);
    EXPECT_EQ(port.WriteText("ok"), kOk);
    char back[2] = {};
    EXPECT_EQ(pty_.ReadExactly(back, 2, 5000), 2u);
}

TEST_F(SerialPortTest, ClosedPortRefusesEveryOperation) {
    CSerial port;
    std::uint8_t byte = 0;
    EXPECT_EQ(port.Write(&byte, 1), kErrorInvalidHandle);
    EXPECT_EQ(port.GetLastError(), kErrorInvalidHandle);
    EXPECT_EQ(port.Read(&byte, 1), kErrorInvalidHandle);
    EXPECT_EQ(port.ConfigureLine(19200), kErrorInvalidHandle);
    EXPECT_EQ(port.PurgeBuffers(), kErrorInvalidHandle);
    EXPECT_EQ(port.SendBreak(1), kErrorInvalidHandle);
    EXPECT_EQ(port.GetBaudRate(), -1);
    EXPECT_EQ(port.GetEventMask(), 0u);
    EXPECT_EQ(port.TakeLineErrors(), 0u);
    EXPECT_FALSE(port.IsCtsOn());
}

TEST_F(SerialPortTest, SecondOpenOfTheSameObjectKeepsThePort) {
    CSerial port;
    ASSERT_EQ(port.Open(pty_.SlavePath()), kOk);
    EXPECT_EQ(port.Open(pty_.SlavePath()), kErrorAlreadyInitialized);
    EXPECT_EQ(port.GetLastError(), kErrorAlreadyInitialized);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.WriteText("x"), kOk);
    char back = 0;
    EXPECT_EQ(pty_.ReadExactly(&back, 1, 5000), 1u);
    EXPECT_EQ(back, 'x');
}

TEST_F(SerialPortTest, PortHeldByAnotherObjectIsBusy) {
    CSerial first;
    CSerial second;
    ASSERT_EQ(first.Open(pty_.SlavePath()), kOk);
    EXPECT_EQ(second.Open(pty_.SlavePath()), kErrorAccessDenied);
    EXPECT_EQ(second.GetLastSystemError(), EBUSY);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_TRUE(first.IsOpen());
    ASSERT_EQ(first.Close(), kOk);
    EXPECT_EQ(second.Open(pty_.SlavePath()), kOk); // free again, and reusable
}

TEST_F(SerialPortTest, BadNamesFailWithTheirCodeAndLeaveTheObjectReusable) {
    testing::TempDirectory dir;
    const std::string regular = dir.File("plain.txt");
    std::ofstream(regular) << "not a terminal";

    struct Case {
        std::string name;
        Status status;
        int systemError;
    };
    const std::vector<Case> cases = {
        {dir.File("missing"), kErrorFileNotFound, ENOENT},
        {regular, kErrorInvalidFunction, ENOTTY},
        {dir.Path().string(), kErrorAccessDenied, EISDIR},
        {std::string(300, 'A'), kErrorFilenameExcedRange, ENAMETOOLONG},
        {dir.File(std::string(300, 'b')), kErrorFilenameExcedRange, ENAMETOOLONG},
        {"", kErrorFileNotFound, ENOENT},
    };
    RecordingPort port;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 60));
        EXPECT_EQ(port.Open(c.name, 2048, 2048, true), c.status);
        EXPECT_EQ(port.GetLastError(), c.status);
        EXPECT_EQ(port.GetLastSystemError(), c.systemError);
        EXPECT_FALSE(port.IsOpen());
        EXPECT_FALSE(port.IsEventThreadRunning());
    }
    ASSERT_EQ(port.Open(pty_.SlavePath(), 2048, 2048, true), kOk);
    EXPECT_TRUE(port.IsEventThreadRunning());
    EXPECT_EQ(port.Close(), kOk);
}

TEST_F(SerialPortTest, LineSettingsReadBackAsSet) {
    CSerial port;
    ASSERT_EQ(port.Open(pty_.SlavePath()), kOk);
    for (const std::uint32_t baud : {19200u, 38400u, 57600u, 115200u, 250000u}) {
        ASSERT_EQ(port.ConfigureLine(baud, 8, kParityNone, kStopBitsOne), kOk) << baud;
        EXPECT_EQ(port.GetBaudRate(), static_cast<std::int32_t>(baud));
        EXPECT_EQ(pty_.SlaveBaudRate(), baud);
    }
    ASSERT_EQ(port.ConfigureLine(19200, 7, kParityOdd, kStopBitsTwo), kOk);
    EXPECT_EQ(port.GetDataBits(), 7);
    EXPECT_EQ(port.GetParity(), kParityOdd);
    EXPECT_EQ(port.GetStopBits(), kStopBitsTwo);
    ASSERT_EQ(port.ConfigureLine(19200, 8, kParityEven, kStopBitsOneAndHalf), kOk);
    EXPECT_EQ(port.GetParity(), kParityEven);
    EXPECT_EQ(port.GetStopBits(), kStopBitsOneAndHalf);
    ASSERT_EQ(port.ConfigureLine(19200, 8, kParityNone, kStopBitsOne), kOk);
    EXPECT_EQ(port.GetParity(), kParityNone);
    EXPECT_EQ(port.GetStopBits(), kStopBitsOne);
    EXPECT_EQ(port.GetBaudRate(), 19200);

    EXPECT_EQ(port.ConfigureLine(19200, 9, kParityNone, kStopBitsOne), kErrorInvalidParameter);
    EXPECT_EQ(port.GetDataBits(), 8);
}

TEST_F(SerialPortTest, HandshakeKinds) {
    CSerial port;
    ASSERT_EQ(port.Open(pty_.SlavePath()), kOk);
    ASSERT_EQ(port.ConfigureLine(19200), kOk);
    ASSERT_EQ(port.ConfigureHandshake(kHandshakeSoftware), kOk);
    EXPECT_EQ(port.GetHandshake(), kHandshakeSoftware);
    ASSERT_EQ(port.ConfigureHandshake(kHandshakeHardware), kOk);
    EXPECT_EQ(port.GetHandshake(), kHandshakeHardware);
    EXPECT_EQ(port.ConfigureHandshake(3), kEInvalidArg);
    EXPECT_EQ(port.GetLastError(), kEInvalidArg);
    EXPECT_EQ(port.GetHandshake(), kHandshakeHardware); // unchanged
    ASSERT_EQ(port.ConfigureHandshake(kHandshakeOff), kOk);
    EXPECT_EQ(port.GetHandshake(), kHandshakeOff);
    EXPECT_EQ(port.GetBaudRate(), 19200);
    EXPECT_EQ(port.ConfigureReadTimeouts(5), kEInvalidArg);
    EXPECT_EQ(port.SetEventCharacter('\n'), kOk);
    EXPECT_EQ(port.GetEventCharacter(), '\n');
    EXPECT_EQ(port.GetEventMask(), EV_RXCHAR | EV_RXFLAG | EV_BREAK | EV_ERR);
}

TEST_F(SerialPortTest, ReadsAreNonBlockingAfterOpen) {
    CSerial port;
    ASSERT_EQ(port.Open(pty_.SlavePath()), kOk);
    std::uint8_t buffer[64] = {};
    std::uint32_t got = 99;
    EXPECT_EQ(port.Read(buffer, sizeof buffer, &got), kOk);
    EXPECT_EQ(got, 0u);

    ASSERT_EQ(pty_.Write("abc", 3), 3);
    ASSERT_TRUE(testing::WaitUntil([&] {
        COMSTAT status;
        port.TakeLineErrors(&status);
        return status.cbInQue == 3;
    }));
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer, sizeof buffer, &got), kOk);
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(std::string(buffer, buffer + 3), "abc");
}

TEST_F(SerialPortTest, BlockingReadsWaitForEverythingOrTimeOut) {
    RecordingPort port;
    ASSERT_EQ(port.Open(pty_.SlavePath(), 0, 0, false), kOk);
    ASSERT_EQ(port.ConfigureReadTimeouts(kReadTimeoutBlocking), kOk);
    ASSERT_EQ(pty_.Write("ab", 2), 2);
    std::uint8_t buffer[4] = {};
    std::uint32_t got = 0;
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer, 4, &got, nullptr, 100), kErrorTimeout);
    EXPECT_GE(Clock::now() - start, 95ms);
    EXPECT_EQ(got, 2u);

    std::thread late([&] {
        std::this_thread::sleep_for(20ms);
        pty_.Write("cd", 2);
    });
    EXPECT_EQ(port.Read(buffer, 2, &got), kOk);
    late.join();
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(std::string(buffer, buffer + 2), "cd");
}

TEST_F(SerialPortTest, NonOverlappedPortRefusesRecordsAndTimeouts) {
    CSerial port;
    ASSERT_EQ(port.Open(pty_.SlavePath(), 0, 0, false), kOk);
    SerialOverlapped record;
    std::uint8_t byte = 0;
    EXPECT_EQ(port.Read(&byte, 1, nullptr, &record), kErrorInvalidFunction);
    EXPECT_EQ(port.Write(&byte, 1, nullptr, nullptr, 10), kErrorInvalidFunction);
    EXPECT_EQ(port.WaitForEvent(nullptr, 0), kErrorInvalidFunction);
    EXPECT_EQ(port.GetLastError(), kErrorInvalidFunction);

    CSerial overlapped;
    ASSERT_EQ(port.Close(), kOk);
    ASSERT_EQ(overlapped.Open(pty_.SlavePath(), 0, 0, true), kOk);
    std::uint32_t written = 0;
    EXPECT_EQ(overlapped.Write("hi", 2, &written, &record), kOk);
    EXPECT_TRUE(record.completed.Wait(0));
    EXPECT_EQ(record.transferred, 2u);
    EXPECT_EQ(written, 2u);
}

TEST_F(SerialPortTest, EventWaitReportsReceivedBytesAndHonoursTheMask) {
    CSerial port;
    ASSERT_EQ(port.Open(pty_.SlavePath(), 0, 0, true), kOk);
    EXPECT_EQ(port.WaitForEvent(nullptr, 0), kErrorTimeout);
    EXPECT_EQ(port.TakeEventType(), 0u);

    ASSERT_EQ(pty_.Write("z", 1), 1);
    ASSERT_EQ(port.WaitForEvent(nullptr, 5000), kOk);
    EXPECT_EQ(port.TakeEventType(), EV_RXCHAR);
    EXPECT_EQ(port.TakeEventType(), 0u); // taken

    // Reported and untouched: not an event again until something changes.
    const auto start = Clock::now();
    EXPECT_EQ(port.WaitForEvent(nullptr, 60), kErrorTimeout);
    EXPECT_GE(Clock::now() - start, 55ms);
    ASSERT_EQ(pty_.Write("y", 1), 1);
    ASSERT_EQ(port.WaitForEvent(nullptr, 5000), kOk);
    EXPECT_EQ(port.TakeEventType(), EV_RXCHAR);

    ASSERT_EQ(port.PurgeReceive(), kOk);
    ASSERT_EQ(port.SetEventMask(EV_BREAK), kOk);
    ASSERT_EQ(pty_.Write("x", 1), 1);
    EXPECT_EQ(port.WaitForEvent(nullptr, 60), kErrorTimeout);
}

TEST_F(SerialPortTest, PurgeDiscardsWhatTheDriverHolds) {
    CSerial port;
    ASSERT_EQ(port.Open(pty_.SlavePath()), kOk);
    ASSERT_EQ(pty_.Write("0123456789", 10), 10);
    ASSERT_TRUE(testing::WaitUntil([&] {
        COMSTAT status;
        port.TakeLineErrors(&status);
        return status.cbInQue == 10;
    }));
    ASSERT_EQ(port.PurgeReceive(), kOk);
    COMSTAT status;
    port.TakeLineErrors(&status);
    EXPECT_EQ(status.cbInQue, 0u);
    EXPECT_EQ(port.SendBreak(5), kOk); // accepted (and ignored) by a pseudo-terminal
    EXPECT_FALSE(port.IsCarrierOn());  // no modem lines: off, not an error
    EXPECT_EQ(port.GetLastError(), kOk);
}

TEST_F(SerialPortTest, EventThreadDeliversInOrderAndCloseWakesIt) {
    RecordingPort port;
    ASSERT_EQ(port.Open(pty_.SlavePath(), 2048, 2048, true), kOk);
    std::this_thread::sleep_for(30ms); // let the thread block in its wait
    EXPECT_EQ(port.EventCount(), 0u);

    ASSERT_EQ(pty_.Write("first", 5), 5);
    ASSERT_TRUE(testing::WaitUntil([&] { return port.Received().size() == 5; }));
    ASSERT_EQ(pty_.Write("second", 6), 6);
    ASSERT_TRUE(testing::WaitUntil([&] { return port.Received().size() == 11; }));
    const auto received = port.Received();
    EXPECT_EQ(std::string(received.begin(), received.end()), "firstsecond");
    for (const auto& [events, errors] : port.Events()) {
        EXPECT_EQ(events, EV_RXCHAR);
        EXPECT_EQ(errors, 0u);
    }

    const std::size_t before = port.EventCount();
    const auto start = Clock::now();
    EXPECT_EQ(port.Close(), kOk);
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_FALSE(port.IsEventThreadRunning());
    EXPECT_EQ(port.EventCount(), before); // the wake-up is not an event
    EXPECT_EQ(port.EventThreadResult(), kOk);
}

TEST_F(SerialPortTest, MaskWithoutReceiveLeavesBytesAlone) {
    RecordingPort port;
    ASSERT_EQ(port.Open(pty_.SlavePath(), 0, 0, true), kOk);
    ASSERT_EQ(port.SetEventMask(EV_BREAK), kOk);
    ASSERT_EQ(pty_.Write("quiet", 5), 5);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(port.EventCount(), 0u);
    ASSERT_EQ(port.SetEventMask(EV_RXCHAR), kOk); // the waiting bytes now count
    ASSERT_TRUE(testing::WaitUntil([&] { return port.Received().size() == 5; }));
}

TEST_F(SerialPortTest, HangUpIsReportedOnceWithoutSpinning) {
    RecordingPort port;
    ASSERT_EQ(port.Open(pty_.SlavePath(), 0, 0, true), kOk);
    pty_.HangUp();
    ASSERT_TRUE(testing::WaitUntil([&] { return port.EventCount() >= 1; }));
    // A thread that spins on the dead port would burn the whole window.
    const double cpuBefore = ProcessCpuSeconds();
    std::this_thread::sleep_for(500ms);
    EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.25);
    const auto events = port.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].first, EV_ERR);
    EXPECT_EQ(events[0].second, CE_IOE);

    std::uint8_t byte = 0;
    EXPECT_EQ(port.Read(&byte, 1), kErrorDeviceNotConnected);
    EXPECT_EQ(port.Write(&byte, 1), kErrorDeviceNotConnected);
    EXPECT_EQ(port.GetLastSystemError(), EIO);
    // A mask change wakes the thread; it must go back to sleep, not spin or report again.
    ASSERT_EQ(port.SetEventMask(EV_RXCHAR | EV_ERR), kOk);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(port.EventCount(), 1u);

    const auto start = Clock::now();
    EXPECT_EQ(port.Close(), kOk);
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_EQ(port.Open(pty_.SlavePath()), kErrorFileNotFound); // the device is gone
}

} // namespace
} // namespace quillon
