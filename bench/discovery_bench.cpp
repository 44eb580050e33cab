// Timing of the serial port discovery on faked machines of growing size: how long one
// discovery takes with and without the walk over every process's open files, so the port
// page's refresh on each change of the device folder stays well within a frame.
//
//   quillon-bench-discovery [--quick]
//
// Each machine has N virtual terminals, N/2 built-in placeholders without a UART, one
// UART and four USB adapters; the faked /proc has N/4 processes with eight open files each.
#include "platform/SerialPortDiscovery.h"
#include "tests/support/FakeSerialTree.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using quillon::DiscoverSerialPorts;
using quillon::HolderScan;
using quillon::testing::FakeSerialTree;
using quillon::testing::FakeUsbIdentity;
using Clock = std::chrono::steady_clock;

double MedianMs(int runs, const std::function<void()>& op) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        op();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int runs = quick ? 3 : 15;
    std::printf("%8s %8s %14s %14s\n", "ttys", "ports", "no holders ms", "holders ms");
    for (const int ttys : quick ? std::vector<int>{100, 1000} : std::vector<int>{100, 1000, 4000}) {
        FakeSerialTree tree;
        for (int n = 0; n < ttys; ++n) {
            tree.AddVirtual("tty" + std::to_string(n));
        }
        for (int n = 0; n < ttys / 2; ++n) {
            tree.AddUart("ttyS" + std::to_string(n), n == 0 ? 4 : 0);
        }
        for (int n = 0; n < 4; ++n) {
            FakeUsbIdentity usb;
            usb.location = "1-1." + std::to_string(n + 1);
            tree.AddUsbSerial("ttyUSB" + std::to_string(n), usb);
        }
        for (int pid = 1; pid <= ttys / 4; ++pid) {
            for (int fd = 0; fd < 8; ++fd) {
                tree.AddHolder(pid, "proc", (tree.Dev() / ("tty" + std::to_string(fd))).string(),
                               fd);
            }
        }
        const auto roots = tree.Roots();
        std::size_t ports = 0;
        const double without = MedianMs(
            runs, [&] { ports = DiscoverSerialPorts(roots, HolderScan::kWithout).size(); });
        const double with = MedianMs(runs, [&] { DiscoverSerialPorts(roots, HolderScan::kWith); });
        std::printf("%8d %8zu %14.2f %14.2f\n", ttys + ttys / 2, ports, without, with);
    }
    return 0;
}
