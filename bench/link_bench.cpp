// Timing of the link's exact waits over a pseudo-terminal: how far WriteAndDrain and
// PulseBreak overshoot their ideal length, and how much CPU the wait costs.
//
//   quillon-bench-link [--quick]
//
// Overshoot = elapsed - ideal, where ideal is size x 10 / baud (or the break length),
// measured from just before the call. CPU is the calling thread's CPU time divided by the
// elapsed time. The precise clock's wait strategies on their own: quillon-bench-clock.
#include "BenchTable.h"
#include "link/CFWUplSerialEx.h"
#include "platform/PseudoTerminal.h"
#include "tests/support/PtyDrain.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using quillon::CFWUplSerialEx;
using quillon::bench::Measure;
using quillon::bench::PrintHeader;
using quillon::bench::PrintRow;
using quillon::bench::Result;

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

    link.Close();
    drain.Stop();
    std::printf("\nbytes carried: %zu\n", drain.Count());
    return 0;
}
