// quillon-serial-check: the Windows serial device against a peer on the other end of the
// line (scripts/test-windows-serial: a pseudo-terminal mapped as the port, which echoes what
// it gets after a pause and hangs up when told).
//
//   quillon-serial-check PORT MISSING_PORT
//
// Prints one line per check and exits 1 when any failed.

#include "platform/ErrnoStatus.h"
#include "platform/SerialDevice.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

using namespace quillon;

namespace {

int failures = 0;

void Check(bool good, const std::string& what) {
    std::printf("%s: %s\n", good ? "ok" : "FAIL", what.c_str());
    std::fflush(stdout);
    failures += good ? 0 : 1;
}

long long MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("Usage: quillon-serial-check PORT MISSING_PORT\n", stderr);
        return 2;
    }
    SerialDevice missing;
    const int missingError = missing.Open(argv[2]);
    Check(StatusFromErrno(missingError) == kErrorFileNotFound,
          "a missing port fails as not found (" + std::to_string(missingError) + ")");

    SerialDevice device;
    Check(device.Open(argv[1]) == 0, std::string("opens ") + argv[1]);
    if (!device.IsOpen()) {
        return 1;
    }
    DCB dcb;
    device.GetState(dcb);
    dcb.BaudRate = 115200;
    Check(device.SetState(dcb) == 0 && device.GetState(dcb) == 0 && dcb.BaudRate == 115200,
          "the line speed is set and read back (" + std::to_string(dcb.BaudRate) + ")");

    // A write the driver takes at once, or after a wait.
    const std::string hello = "hello, device";
    std::size_t put = 0;
    int error = device.Write(hello.data(), hello.size(), put);
    if (error == 0 && put == 0) {
        error = device.WaitWritable(5000);
        if (error == 0) {
            error = device.Write(hello.data(), hello.size(), put);
        }
    }
    Check(error == 0 && put == hello.size(), "a write completes (" + std::to_string(put) + ")");

    // The peer echoes after a pause: the event wait reports it, the reads take it whole.
    auto start = std::chrono::steady_clock::now();
    std::uint32_t events = 0;
    error = device.WaitEvent(EV_RXCHAR | EV_ERR, 5000, events, device.WakeSequence());
    Check(error == 0 && events == EV_RXCHAR,
          "the echo is an EV_RXCHAR event after " + std::to_string(MsSince(start)) + " ms");
    std::string echo;
    for (int i = 0; i < 50 && echo.size() < hello.size(); ++i) {
        char buffer[64];
        std::size_t got = 0;
        if (device.Read(buffer, sizeof buffer, got) != 0) {
            break;
        }
        echo.append(buffer, got);
        if (echo.size() < hello.size()) {
            device.WaitReadable(200);
        }
    }
    Check(echo == hello, "the echo reads back intact ('" + echo + "')");

    // A purge drops what came and was not read, the byte the event wait holds included.
    device.Write(hello.data(), hello.size(), put);
    error = device.WaitEvent(EV_RXCHAR | EV_ERR, 5000, events, device.WakeSequence());
    std::uint32_t waiting = 0;
    for (int i = 0; i < 100 && error == 0 && waiting < hello.size(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        error = device.BytesWaiting(waiting);
    }
    const std::uint32_t before = waiting;
    std::size_t left = 0;
    char rest[64];
    Check(before == hello.size() && device.Purge(true, false) == 0 &&
              device.BytesWaiting(waiting) == 0 && waiting == 0 &&
              device.Read(rest, sizeof rest, left) == 0 && left == 0,
          "a purge drops the " + std::to_string(before) + " bytes waiting");

    // Nothing more comes: a finite wait ends on its time, not before.
    start = std::chrono::steady_clock::now();
    error = device.WaitEvent(EV_RXCHAR | EV_ERR, 400, events, device.WakeSequence());
    const long long idle = MsSince(start);
    Check(error == ETIMEDOUT && events == 0 && idle >= 390,
          "an idle wait times out after " + std::to_string(idle) + " ms");

    // An endless wait is ended by a wake-up from another thread.
    start = std::chrono::steady_clock::now();
    const std::uint64_t sequence = device.WakeSequence();
    std::jthread waker([&device] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        device.Wake();
    });
    error = device.WaitEvent(EV_RXCHAR | EV_ERR, SerialDevice::kInfinite, events, sequence);
    waker.join();
    Check(error == 0 && events == 0,
          "a wake-up ends an endless wait after " + std::to_string(MsSince(start)) + " ms");

    // Interrupted writes fail at once.
    device.InterruptWrites();
    error = device.Write(hello.data(), hello.size(), put);
    Check(error == ECANCELED && put == 0, "an interrupted write fails as cancelled");
    device.ResumeWrites();

    // Asking the peer to hang up: the line goes away under us.
    const std::string bye = "HANGUP";
    device.Write(bye.data(), bye.size(), put);
    start = std::chrono::steady_clock::now();
    events = 0;
    for (int i = 0; i < 20 && (events & EV_ERR) == 0; ++i) {
        error = device.WaitEvent(EV_RXCHAR | EV_ERR, 1000, events, device.WakeSequence());
        if ((events & EV_RXCHAR) != 0) {
            char buffer[64];
            std::size_t got = 0;
            device.Read(buffer, sizeof buffer, got);
        }
    }
    Check((events & EV_ERR) != 0 && device.HungUp(),
          "a hang-up is EV_ERR after " + std::to_string(MsSince(start)) + " ms");
    std::size_t got = 0;
    char buffer[8];
    Check(StatusFromErrno(device.Read(buffer, sizeof buffer, got)) == kErrorDeviceNotConnected &&
              StatusFromErrno(device.Write(hello.data(), hello.size(), put)) ==
                  kErrorDeviceNotConnected,
          "after a hang-up reads and writes fail as not connected");
    Check((device.TakeLineErrors() & CE_IOE) != 0, "a hang-up is reported as CE_IOE");
    device.Close();
    Check(!device.IsOpen(), "the port closes");
    return failures == 0 ? 0 : 1;
}
