// quillon-bench-station: several devices updated at once, as `quillon-cli upload --port ...
// --port ...` does it, against N in-process simulated devices pacing their bytes at the
// line rate (115200 baud after the speed change, no device latency).
//
// For N = 1, 2, 4, 8: the wall time of the whole run (detection to the last start-up
// message) against N = 1, the CPU time the station spends per device (the process's CPU
// less what the simulators' own threads used) as a share of the run's wall time, and the
// peak resident memory of the process after N = 8.
//
// Usage: quillon-bench-station [--max N]

#include "cli/CPortGroup.h"
#include "tools/devsim/CDeviceSimulator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace quillon;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::set<int> ThreadIds() {
    std::set<int> ids;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.') {
                ids.insert(std::atoi(entry->d_name));
            }
        }
        ::closedir(dir);
    }
    return ids;
}

// User and system time of one thread of this process, in seconds.
double ThreadCpuSeconds(int tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            utime = std::stoull(field);
        } else if (i == 15) {
            stime = std::stoull(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

DevSimScenario PacedDevice() {
    DevSimScenario scenario;
    scenario.pacing = true;
    scenario.replyLatency = 0ms;
    scenario.programmingTime = 0ms;
    scenario.startupDelay = 0ms;
    scenario.powerUpDelay = 0ms;
    return scenario;
}

struct Row {
    int devices = 0;
    double wall = 0;
    double stationCpu = 0;
    int status = -1;
    int succeeded = 0;
};

Row Measure(int devices) {
    Row row;
    row.devices = devices;
    std::vector<std::unique_ptr<CDeviceSimulator>> simulators;
    std::set<int> simulatorThreads;
    PortRunSettings settings;
    settings.upload = true;
    settings.yes = true;
    settings.device.wait = 60s;
    for (int i = 0; i < devices; ++i) {
        const std::set<int> before = ThreadIds();
        simulators.push_back(std::make_unique<CDeviceSimulator>(PacedDevice()));
        if (simulators.back()->Start() != kOk) {
            return row;
        }
        for (const int tid : ThreadIds()) {
            if (before.count(tid) == 0) {
                simulatorThreads.insert(tid);
            }
        }
        settings.device.ports.push_back(simulators.back()->SlavePath());
    }
    const auto simulatorCpu = [&simulatorThreads] {
        double total = 0;
        for (const int tid : simulatorThreads) {
            total += ThreadCpuSeconds(tid);
        }
        return total;
    };

    std::ostringstream out;
    std::ostringstream err;
    CPortGroup group("bench", settings, GroupOptions{}, "");
    const double cpuStart = CpuSeconds() - simulatorCpu();
    const auto start = Clock::now();
    row.status = group.Run(out, err);
    row.wall = std::chrono::duration<double>(Clock::now() - start).count();
    row.stationCpu = (CpuSeconds() - simulatorCpu() - cpuStart) / devices;
    for (const auto& simulator : simulators) {
        row.succeeded += simulator->HoldsCompleteImage() && simulator->Snapshot().startupPrinted;
    }
    return row;
}

} // namespace

int main(int argc, char** argv) {
    int most = 8;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--max" && i + 1 < argc) {
            most = std::clamp(std::atoi(argv[++i]), 1, 64);
        } else {
            std::fprintf(stderr, "Usage: quillon-bench-station [--max N]\n");
            return 2;
        }
    }
    std::vector<Row> rows;
    for (int n = 1; n <= most; n *= 2) {
        rows.push_back(Measure(n));
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;

    std::printf("Devices updated at once at 115200 baud (simulators pacing at the line rate)\n\n");
    std::printf("  %3s %9s %9s %8s %16s %11s %s\n", "N", "ok", "wall s", "vs N=1", "CPU/device ms",
                "CPU/wall", "target");
    bool met = true;
    for (const Row& row : rows) {
        const double ratio = row.wall / rows.front().wall;
        const double share = row.stationCpu / row.wall;
        const bool rowMet =
            row.status == 0 && row.succeeded == row.devices && ratio <= 1.05 && share <= 0.01;
        met = met && rowMet;
        std::printf("  %3d %6d/%-2d %9.3f %8.4f %16.1f %10.2f%% %s\n", row.devices, row.succeeded,
                    row.devices, row.wall, ratio, row.stationCpu * 1000, share * 100,
                    rowMet ? "met" : "MISSED");
    }
    const bool memoryMet = peakMiB < 24.0;
    std::printf("\n  Peak resident memory of the process (N up to %d, simulators included): "
                "%.1f MiB %s\n",
                most, peakMiB, memoryMet ? "met" : "MISSED");
    std::printf("  Targets: wall at most 1.05 x N=1, CPU at most 1%% of wall per device, "
                "peak memory under 24 MiB.\n");
    return met && memoryMet ? 0 : 1;
}
