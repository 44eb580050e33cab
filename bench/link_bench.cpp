// Timing of the link's exact waits over a pseudo-terminal: how far WriteAndDrain and
// PulseBreak overshoot their ideal length, and how much CPU the wait costs.
//
//   quillon-bench-link [--quick]
//
// Overshoot = elapsed - ideal, where ideal is size x 10 / baud (or the break length),
// measured from just before the call. CPU is the calling thread's CPU time divided by the
// elapsed time. The wait-strategy table compares spin margins of the sleep-then-spin wait
// with a pure spin and a plain sleep_until for one 32-byte block at 19200 baud (all on a
// thread whose timer slack the link's first wait has lowered).
#include "link/CFWUplSerialEx.h"
#include "platform/PreciseClock.h"
#include "platform/PseudoTerminal.h"
#include "tests/support/PtyDrain.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using quillon::CFWUplSerialEx;
using quillon::PreciseClock;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Result {
    double medianUs = 0;
    double p90Us = 0;
    double maxUs = 0;
    double minUs = 0;
    double cpuPercent = 0;
};

// Runs op `runs` times; ideal is the length it should take, in seconds.
Result Measure(int runs, double ideal, const std::function<void()>& op) {
    std::vector<double> overshoot(static_cast<std::size_t>(std::max(runs, 1)));
    double cpu = 0;
    double wall = 0;
    for (auto& value : overshoot) {
        const double cpuStart = ThreadCpuSeconds();
        const auto start = Clock::now();
        op();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        cpu += ThreadCpuSeconds() - cpuStart;
        wall += elapsed;
        value = (elapsed - ideal) * 1e6;
        // A pause between calls, as between protocol steps, so that every call starts cold.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::sort(overshoot.begin(), overshoot.end());
    Result r;
    r.minUs = overshoot.front();
    r.medianUs = overshoot[overshoot.size() / 2];
    r.p90Us = overshoot[overshoot.size() * 9 / 10];
    r.maxUs = overshoot.back();
    r.cpuPercent = wall > 0 ? 100.0 * cpu / wall : 0;
    return r;
}

void PrintRow(const std::string& name, double idealUs, int runs, const Result& r) {
    std::printf("%-30s %11.1f %5d %10.1f %10.1f %10.1f %10.1f %8.1f\n", name.c_str(), idealUs, runs,
                r.minUs, r.medianUs, r.p90Us, r.maxUs, r.cpuPercent);
}

void PrintHeader(const char* title) {
    std::printf("\n%s\n", title);
    std::printf("%-30s %11s %5s %10s %10s %10s %10s %8s\n", "operation", "ideal us", "runs",
                "min us", "median us", "p90 us", "max us", "cpu %");
}

} // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int scale = quick ? 5 : 1;

    quillon::PseudoTerminal pty;
    if (pty.Open() != 0) {
        std::fprintf(stderr, "cannot open a pseudo-terminal\n");
        return 1;
    }
    quillon::testing::PtyDrain drain(pty);
    CFWUplSerialEx link;
    if (link.Open(pty.SlavePath(), 2048, 2048, true) != quillon::kOk) {
        std::fprintf(stderr, "cannot open %s\n", pty.SlavePath().c_str());
        return 1;
    }
    link.ConfigureHandshake(quillon::kHandshakeOff);

    PrintHeader("Exact waits of the link (overshoot beyond the ideal time)");
    struct Case {
        std::size_t size;
        std::uint32_t baud;
        int runs;
    };
    const Case cases[] = {
        {32, 19200, 200}, {32, 115200, 300}, {1952, 19200, 10}, {1952, 115200, 40}};
    for (const auto& c : cases) {
        link.ConfigureLine(c.baud, 8, quillon::kParityNone, quillon::kStopBitsOne);
        const std::vector<std::uint8_t> block(c.size, 0x5A);
        const double ideal = static_cast<double>(c.size) * 10.0 / c.baud;
        const int runs = std::max(3, c.runs / scale);
        const Result r =
            Measure(runs, ideal, [&] { link.WriteAndDrain(block.data(), block.size()); });
        PrintRow("WriteAndDrain " + std::to_string(c.size) + " B @ " + std::to_string(c.baud),
                 ideal * 1e6, runs, r);
    }
    {
        const int runs = std::max(3, 200 / scale);
        const Result r = Measure(runs, 0.010, [&] { link.PulseBreak(10); });
        PrintRow("PulseBreak(10)", 10000, runs, r);
    }

    PrintHeader("Wait strategies for one 32-byte block at 19200 baud (16.7 ms)");
    const double ideal = 32 * 10.0 / 19200;
    const auto length = std::chrono::ceil<Clock::duration>(std::chrono::duration<double>(ideal));
    const int runs = std::max(3, 200 / scale);
    for (const auto margin : {2000us, 1000us, 500us, 250us, 100us}) {
        const std::string name = "sleep, then spin " + std::to_string(margin.count()) + " us" +
                                 (margin == PreciseClock::kSpinMargin ? " (link)" : "");
        PrintRow(name, ideal * 1e6, runs, Measure(runs, ideal, [&] {
                     PreciseClock::WaitUntil(Clock::now() + length, margin);
                 }));
    }
    PrintRow("pure spin", ideal * 1e6, runs, Measure(runs, ideal, [&] {
                 const auto deadline = Clock::now() + length;
                 while (Clock::now() < deadline) {
                 }
             }));
    PrintRow("sleep_until only", ideal * 1e6, runs,
             Measure(runs, ideal, [&] { std::this_thread::sleep_until(Clock::now() + length); }));

    link.Close();
    drain.Stop();
    std::printf("\nbytes carried: %zu\n", drain.Count());
    return 0;
}
