// quillon-soak: many uploads through the real engine against the simulated device, with
// random faults in every phase and random aborts. After each run it checks that the
// outcome is a success exactly when the device holds the complete image and printed its
// start-up message, that the run ended within the bound the protocol's retries and
// timeouts allow, and that no thread or file descriptor was left behind; over all runs,
// that resident memory stays flat.

#include "resources/EmbeddedResources.h"
#include "tools/soak/CSoakRunner.h"
#include "tools/soak/ProcessFigures.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace quillon;

struct Options {
    int runs = 200;
    int from = 1;
    std::uint64_t seed = 1;
    int imageRecords = 3;
    std::uint32_t replyTimeoutMs = 400;
    std::uint32_t startupTimeoutMs = 500;
    bool verbose = false;
};

// How long a thread or descriptor more than before a run may take to go before it counts
// as left behind.
constexpr int kLeakSettleLooks = 50;
constexpr std::chrono::milliseconds kLeakSettleStep{20};

constexpr const char* kUsage =
    "Usage: quillon-soak [--runs N] [--seed S] [--from F] [--image-records K]\n"
    "                    [--reply-timeout MS] [--startup-timeout MS] [--verbose]\n\n"
    "Runs N uploads (default 200) through the upload engine against the simulated device,\n"
    "with random faults in every phase (refusals, redirects, silence, dropped and corrupted\n"
    "replies, garbage, hang-ups, missing start-up text, babbling replies, a silent\n"
    "information request or board identification module, a device that stops reading the\n"
    "line, a speed change acknowledged but not followed, reply words corrupted or echoed at\n"
    "a record or an arrival) and random aborts, all drawn from seed S (default 1). The embedded "
    "packages are uploaded with the firmware image cut to\n"
    "its first K data records (default 3) and reply timeouts lowered to MS (default 400);\n"
    "a missing start-up message waits MS per byte (default 500).\n\n"
    "--from F runs only runs F to N of the same sequence (the earlier ones are planned and\n"
    "skipped), so a long soak can be shared between processes.\n\n"
    "A run in which no record reaches the device for 20 s or 4 MiB of its output, or that\n"
    "outlasts its bound by 60 s, is stuck in a wait without a bound: the line is pulled (as a user "
    "pulls the\n"
    "adapter) and the run counts as hung.\n\n"
    "Exit status 0 when every run kept its promises: no false success, no run past its\n"
    "time bound, no hang, no leaked thread or descriptor.\n";

bool ParseNumber(const char* text, long long low, long long high, long long& value) {
    char* end = nullptr;
    value = std::strtoll(text, &end, 10);
    return end != text && *end == '\0' && value >= low && value <= high;
}

int ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--verbose" || arg == "-v") {
            options.verbose = true;
            continue;
        }
        long long value = 0;
        const bool hasValue = i + 1 < argc;
        const auto take = [&](long long low, long long high) {
            return hasValue && ParseNumber(argv[++i], low, high, value);
        };
        if (arg == "--runs" && take(1, 1000000)) {
            options.runs = static_cast<int>(value);
        } else if (arg == "--from" && take(1, 1000000)) {
            options.from = static_cast<int>(value);
        } else if (arg == "--seed" && take(0, INT64_MAX)) {
            options.seed = static_cast<std::uint64_t>(value);
        } else if (arg == "--image-records" && take(1, 100000)) {
            options.imageRecords = static_cast<int>(value);
        } else if (arg == "--reply-timeout" && take(50, 100000)) {
            options.replyTimeoutMs = static_cast<std::uint32_t>(value);
        } else if (arg == "--startup-timeout" && take(50, 100000)) {
            options.startupTimeoutMs = static_cast<std::uint32_t>(value);
        } else {
            std::cerr << "quillon-soak: bad option or value: " << arg << " (see --help)\n";
            return 1;
        }
    }
    return -1;
}

struct OutcomeRow {
    int runs = 0;
    int deviceDone = 0;
    int falseSuccess = 0;
    int falseFailure = 0;
    int pastBound = 0;
    double worstMs = 0;
    double worstBoundMs = 0;
    double worstRatio = 0;
};

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (const int status = ParseOptions(argc, argv, options); status >= 0) {
        return status;
    }
    CSoakRunner runner(MakeSoakPackages(EmbeddedResources::UtilityPackage(),
                                        EmbeddedResources::FirmwareImage(), options.imageRecords,
                                        options.replyTimeoutMs, options.startupTimeoutMs));
    if (!runner.Usable()) {
        std::cerr << "quillon-soak: the embedded packages do not have the expected layout\n";
        return 1;
    }

    std::mt19937_64 random(options.seed);
    std::array<OutcomeRow, kSoakOutcomeCount> rows{};
    int leakedThreads = 0;
    int leakedDescriptors = 0;
    int runsLeaking = 0;
    int hung = 0;
    ProcessFigures first;
    ProcessFigures middle;
    std::size_t peakKiB = 0;
    double worstRatio = 0;
    int worstRun = 0;
    std::vector<std::string> findings;

    std::printf(
        "quillon-soak: runs %d to %d, seed %llu, image of %d records, reply timeouts <= %u ms, "
        "start-up wait %u ms per byte\n",
        std::min(options.from, options.runs), options.runs,
        static_cast<unsigned long long>(options.seed), runner.Packages().imageRecords,
        options.replyTimeoutMs, options.startupTimeoutMs);
    {
        SoakRunPlan plain;
        std::printf("Time bound of a run (every wait the retries allow runs out):\n%s",
                    runner.Bound(plain).Describe().c_str());
        std::fflush(stdout);
    }

    // A sanitizer runtime starts a helper thread of its own with the first thread the
    // program makes; one thread made and joined up front keeps that out of the counts.
    std::thread([] {}).join();

    for (int run = 1; run < options.from && run <= options.runs; ++run) {
        (void)runner.Plan(run, random);
    }
    const int firstRun = std::min(options.from, options.runs);
    for (int run = firstRun; run <= options.runs; ++run) {
        const SoakRunPlan plan = runner.Plan(run, random);
        const ProcessFigures before = ProcessFigures::Now();
        const SoakRunResult result = runner.Run(plan);
        ProcessFigures after = ProcessFigures::Now();
        // The kernel wakes a thread's joiner before it takes the thread off the process's
        // list, so on a busy machine a thread joined a moment ago can still be counted: a
        // leak is what is still there once that has had time to settle.
        for (int look = 0; look < kLeakSettleLooks && (after.threads > before.threads ||
                                                       after.descriptors > before.descriptors);
             ++look) {
            std::this_thread::sleep_for(kLeakSettleStep);
            after = ProcessFigures::Now();
        }

        if (run == firstRun) {
            first = after;
        }
        if (run == (firstRun + options.runs) / 2) {
            middle = after;
        }
        peakKiB = std::max(peakKiB, after.residentKiB);
        const int threadDelta = static_cast<int>(after.threads) - static_cast<int>(before.threads);
        const int fdDelta =
            static_cast<int>(after.descriptors) - static_cast<int>(before.descriptors);
        if (threadDelta > 0 || fdDelta > 0) {
            ++runsLeaking;
            leakedThreads += std::max(threadDelta, 0);
            leakedDescriptors += std::max(fdDelta, 0);
        }

        OutcomeRow& row = rows[static_cast<std::size_t>(result.outcome)];
        ++row.runs;
        row.deviceDone += result.DeviceDone() ? 1 : 0;
        row.falseSuccess += result.FalseSuccess() ? 1 : 0;
        row.falseFailure += result.FalseFailure() ? 1 : 0;
        row.pastBound += result.PastBound() ? 1 : 0;
        const double ratio = result.milliseconds / result.boundMs;
        if (ratio > row.worstRatio) {
            row.worstRatio = ratio;
            row.worstMs = result.milliseconds;
            row.worstBoundMs = result.boundMs;
        }
        if (ratio > worstRatio) {
            worstRatio = ratio;
            worstRun = run;
        }
        hung += result.outcome == SoakOutcome::Hung ? 1 : 0;

        char line[256];
        std::snprintf(line, sizeof line, "run %4d: %-34s %7.2f s (bound %6.1f s)%s%s%s%s", run,
                      ToString(result.outcome), result.milliseconds / 1000.0,
                      result.boundMs / 1000.0, result.DeviceDone() ? " device done" : "",
                      result.FalseSuccess() ? " FALSE SUCCESS" : "",
                      result.PastBound() ? " PAST BOUND" : "",
                      threadDelta > 0 || fdDelta > 0 ? " LEAK" : "");
        const std::string text = std::string(line) +
                                 (result.detail.empty() ? "" : " - " + result.detail) + " [" +
                                 plan.faults + "]";
        if (result.FalseSuccess() || result.FalseFailure() || result.PastBound() ||
            result.outcome == SoakOutcome::Hung || threadDelta > 0 || fdDelta > 0) {
            findings.push_back(text);
        }
        if (options.verbose) {
            std::printf("%s\n", text.c_str());
            std::fflush(stdout);
        } else if (run % 50 == 0 || run == options.runs) {
            std::fprintf(stderr, "quillon-soak: %d of %d runs done\n", run, options.runs);
        }
    }
    const ProcessFigures last = ProcessFigures::Now();

    std::printf("\n%-36s %6s %8s %8s %8s %6s  %s\n", "outcome", "runs", "dev.done", "false+",
                "false-", "past", "worst time / its bound");
    OutcomeRow total;
    for (int k = 0; k < kSoakOutcomeCount; ++k) {
        const OutcomeRow& row = rows[static_cast<std::size_t>(k)];
        if (row.runs == 0) {
            continue;
        }
        std::printf("%-36s %6d %8d %8d %8d %6d  %6.2f s / %6.1f s\n",
                    ToString(static_cast<SoakOutcome>(k)), row.runs, row.deviceDone,
                    row.falseSuccess, row.falseFailure, row.pastBound, row.worstMs / 1000.0,
                    row.worstBoundMs / 1000.0);
        total.runs += row.runs;
        total.deviceDone += row.deviceDone;
        total.falseSuccess += row.falseSuccess;
        total.falseFailure += row.falseFailure;
        total.pastBound += row.pastBound;
    }
    std::printf("%-36s %6d %8d %8d %8d %6d  worst ratio %.3f (run %d)\n", "total", total.runs,
                total.deviceDone, total.falseSuccess, total.falseFailure, total.pastBound,
                worstRatio, worstRun);
    std::printf("(dev.done: the device holds the complete image and printed its start-up text;\n"
                " false+: success reported without that; false-: failure reported with it;\n"
                " past: runs longer than their bound)\n\n");
    std::printf("threads: %zu after the first run, %zu at the end; runs that left threads or "
                "descriptors behind: %d (threads %d, descriptors %d)\n",
                first.threads, last.threads, runsLeaking, leakedThreads, leakedDescriptors);
    std::printf("descriptors: %zu after the first run, %zu at the end\n", first.descriptors,
                last.descriptors);
    std::printf(
        "resident memory (VmRSS): %zu KiB after the first run, %zu KiB in the middle, %zu KiB at "
        "the end, peak %zu KiB\n",
        first.residentKiB, middle.residentKiB, last.residentKiB, peakKiB);
    if (!findings.empty()) {
        std::printf("\nRuns to look at:\n");
        for (const std::string& finding : findings) {
            std::printf("  %s\n", finding.c_str());
        }
    }
    const bool sound = total.falseSuccess == 0 && total.pastBound == 0 && hung == 0 &&
                       runsLeaking == 0 && last.threads <= first.threads &&
                       last.descriptors <= first.descriptors;
    std::printf("\n%s\n", sound ? "soak: sound" : "soak: FAULTS FOUND");
    return sound ? 0 : 1;
}
