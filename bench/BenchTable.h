#pragma once
// The table the timing programs print: how far an operation overshoots its ideal length,
// over many runs, and how much of a core the calling thread spent on it.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace quillon::bench {

inline double ThreadCpuSeconds() {
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
inline Result Measure(int runs, double ideal, const std::function<void()>& op) {
    using Clock = std::chrono::steady_clock;
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

inline void PrintRow(const std::string& name, double idealUs, int runs, const Result& r) {
    std::printf("%-30s %11.1f %5d %10.1f %10.1f %10.1f %10.1f %8.1f\n", name.c_str(), idealUs, runs,
                r.minUs, r.medianUs, r.p90Us, r.maxUs, r.cpuPercent);
}

inline void PrintHeader(const char* title) {
    std::printf("\n%s\n", title);
    std::printf("%-30s %11s %5s %10s %10s %10s %10s %8s\n", "operation", "ideal us", "runs",
                "min us", "median us", "p90 us", "max us", "cpu %");
}

} // namespace quillon::bench
