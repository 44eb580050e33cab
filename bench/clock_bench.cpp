// Timing of the precise clock's waits on this system: the sleep-then-spin wait with several
// spin margins against a pure spin and a plain sleep_until, for one 32-byte block at 19200
// baud and for the shortest wait the link makes (one byte at 115200). Built for Linux and
// for Windows, where scripts/test-windows-serial runs it under wine.
//
//   quillon-bench-clock [--quick]
//
// Overshoot = elapsed - ideal, measured from just before the wait.
#include "BenchTable.h"
#include "platform/PreciseClock.h"

#include <chrono>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    using quillon::PreciseClock;
    using quillon::bench::Measure;
    using quillon::bench::PrintHeader;
    using quillon::bench::PrintRow;
    using Clock = std::chrono::steady_clock;
    using namespace std::chrono_literals;

    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int runs = quick ? 40 : 200;
    const struct {
        const char* title;
        double ideal;
    } waits[] = {
        {"Wait strategies for one 32-byte block at 19200 baud (16.7 ms)", 32 * 10.0 / 19200},
        {"Wait strategies for one byte at 115200 baud (86.8 us)", 10.0 / 115200}};
    for (const auto& wait : waits) {
        PrintHeader(wait.title);
        const auto length =
            std::chrono::ceil<Clock::duration>(std::chrono::duration<double>(wait.ideal));
        for (const auto margin : {2000us, 1000us, 500us, 250us, 100us}) {
            const std::string name = "sleep, then spin " + std::to_string(margin.count()) + " us" +
                                     (margin == PreciseClock::kSpinMargin ? " (link)" : "");
            PrintRow(name, wait.ideal * 1e6, runs, Measure(runs, wait.ideal, [&] {
                         PreciseClock::WaitUntil(Clock::now() + length, margin);
                     }));
        }
        PrintRow("pure spin", wait.ideal * 1e6, runs, Measure(runs, wait.ideal, [&] {
                     const auto deadline = Clock::now() + length;
                     while (Clock::now() < deadline) {
                     }
                 }));
        PrintRow("sleep_until only", wait.ideal * 1e6, runs, Measure(runs, wait.ideal, [&] {
                     std::this_thread::sleep_until(Clock::now() + length);
                 }));
    }
    return 0;
}
