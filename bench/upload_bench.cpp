// quillon-bench-upload: how close a whole upload comes to what the protocol itself costs,
// and how quickly detection hands over to the identification.
//
// The reference image goes to the simulated device over a pseudo-terminal, with the
// command line's own detection and the core's upload sequence. The device answers at once
// (no latency, no programming time) but sends its bytes at the line rate. The protocol
// minimum is what the sequence cannot avoid: the line time of every record the device
// received, at the rate it was sent, plus the fixed pauses (30 ms after each record sent,
// 30 ms before each module, the 10 ms breaks and 30 ms waits of the activation cycles after
// the speed change) and what the device's start-up text adds at the line rate.
//
// Usage: quillon-bench-upload [--detections N] [--no-slow]

#include "cli/CDeviceSession.h"
#include "cli/CInterruptWatch.h"
#include "package/RecordHeader.h"
#include "tools/devsim/CDeviceSimulator.h"
#include "upload/CMessageQueue.h"
#include "upload/UploadTexts.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using namespace quillon;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kPauseAfterRecord = 0.030;
constexpr double kPauseBeforeModule = 0.030;
constexpr double kBreak = 0.010;
constexpr double kActivationWait = 0.030;
constexpr int kModulesSent = 3; // flash programming, image, CRC check
constexpr const char* kStartupMessage = "*** Unit Initialised";

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double LineTime(std::size_t bytes, std::uint32_t baud) {
    return baud == 0 ? 0.0 : static_cast<double>(bytes) * 10.0 / baud;
}

DevSimScenario ZeroLatencyDevice() {
    DevSimScenario scenario;
    scenario.pacing = true;
    scenario.replyLatency = 0ms;
    scenario.programmingTime = 0ms;
    scenario.startupDelay = 0ms;
    scenario.powerUpDelay = 0ms;
    return scenario;
}

// The parts of the protocol minimum, in seconds.
struct Minimum {
    double recordLines = 0;
    double recordPauses = 0;
    double modulePauses = 0;
    double activationCycles = 0; // breaks and waits; their blocks' line time is a record's
    double startupText = 0;
    double Total() const {
        return recordLines + recordPauses + modulePauses + activationCycles + startupText;
    }
};

struct UploadResult {
    bool succeeded = false;
    std::string failure;
    double wall = 0;
    double cpu = 0;
    Minimum minimum;
    std::size_t records = 0;
    std::size_t imageBytes = 0;
};

// Detects and identifies the device with the command line's own steps.
bool Prepare(CDeviceSession& session, CDeviceSimulator& device, std::string& failure) {
    if (session.LoadPackages({}) != 0 || session.OpenPort(device.SlavePath()) != 0 ||
        session.Detect(30s) != 0 || session.Identify() != 0) {
        failure = "detection failed";
        return false;
    }
    if (!session.AssessAndShow().nextEnabled) {
        failure = "the device was refused";
        return false;
    }
    return true;
}

UploadResult MeasureUpload(bool slow) {
    UploadResult result;
    CDeviceSimulator device(ZeroLatencyDevice());
    if (device.Start() != kOk) {
        result.failure = "no pseudo-terminal";
        return result;
    }
    std::ostringstream out;
    std::ostringstream err;
    CInterruptWatch interrupts;
    CDeviceSession session("bench", out, err, interrupts);
    if (!Prepare(session, device, result.failure)) {
        result.failure += ": " + err.str();
        return result;
    }
    CUploadCore& core = session.Core();
    core.SetSlowMode(slow);
    const std::size_t before = device.ReceivedRecords().size();

    CMessageQueue& queue = session.Queue();
    bool succeeded = false;
    const double cpuStart = CpuSeconds();
    const auto start = Clock::now();
    core.StartUpload(&queue);
    for (;;) {
        const auto message = queue.Take(1s);
        if (!message) {
            continue;
        }
        if (message->number == kMsgStatus &&
            std::strcmp(MessageText(message->lParam), texts::kTransferSucceeded) == 0) {
            succeeded = true;
        }
        if (message->number == kMsgSequenceEnded) {
            break;
        }
    }
    result.wall = Seconds(Clock::now() - start);
    result.cpu = CpuSeconds() - cpuStart;
    result.succeeded = succeeded && device.HoldsCompleteImage();
    if (!result.succeeded) {
        result.failure = "the upload did not succeed";
    }

    // What the device received during the upload, priced at the rate it came at.
    std::map<std::pair<int, int>, std::size_t> sizes;
    for (const auto& record : device.Packages().Records()) {
        sizes[{static_cast<int>(record.ref.package), record.ref.index}] = record.payload.size();
    }
    const auto records = device.ReceivedRecords();
    bool afterSpeedChange = false;
    for (std::size_t i = before; i < records.size(); ++i) {
        const DevSimReceivedRecord& record = records[i];
        const std::size_t bytes =
            sizes[{static_cast<int>(record.record.package), record.record.index}];
        result.minimum.recordLines += LineTime(bytes, record.baud);
        ++result.records;
        if (record.record.package == DevSimPackage::Image) {
            result.imageBytes += bytes;
        }
        if (record.type == kActivationBlock) {
            if (afterSpeedChange) {
                result.minimum.activationCycles += kBreak + kActivationWait;
            }
        } else {
            result.minimum.recordPauses += kPauseAfterRecord;
        }
        afterSpeedChange = afterSpeedChange || record.type == kBaudRateRequest;
    }
    result.minimum.modulePauses = kModulesSent * kPauseBeforeModule;
    // The start-up text follows the launch request's two-byte answer at once and runs
    // into the pause after that request; only what is left of it after the pause, up to
    // the end of the start-up message, adds to the time.
    const std::string& text = device.Scenario().startupText;
    const std::size_t message = text.find(kStartupMessage);
    const std::size_t needed =
        message == std::string::npos ? text.size() : message + std::strlen(kStartupMessage);
    result.minimum.startupText =
        std::max(0.0, LineTime(2 + needed, slow ? 19200 : 115200) - kPauseAfterRecord);
    return result;
}

struct DetectionResult {
    std::vector<double> latencies; // seconds
    std::string failure;
};

// From the device's first answer to an activation block until the identification begins,
// with the device switched on at a random moment of the host's activation cycle.
DetectionResult MeasureDetection(int runs) {
    DetectionResult result;
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> powerUp(100, 400);
    for (int run = 0; run < runs; ++run) {
        DevSimScenario scenario = ZeroLatencyDevice();
        scenario.powerUpDelay = std::chrono::milliseconds(powerUp(random));
        CDeviceSimulator device(scenario);
        if (device.Start() != kOk) {
            result.failure = "no pseudo-terminal";
            return result;
        }
        std::ostringstream out;
        std::ostringstream err;
        CInterruptWatch interrupts;
        CDeviceSession session("bench", out, err, interrupts);
        if (session.LoadPackages({}) != 0 || session.OpenPort(device.SlavePath()) != 0 ||
            session.Detect(30s) != 0) {
            result.failure = "detection failed: " + err.str();
            return result;
        }
        const auto identificationStart = Clock::now();
        const auto records = device.ReceivedRecords();
        const auto answered = std::find_if(records.begin(), records.end(), [](const auto& r) {
            return r.type == kActivationBlock && !r.ignored;
        });
        if (answered == records.end()) {
            result.failure = "no answered activation block";
            return result;
        }
        // The answer leaves as the block arrives; its two bytes take their line time.
        const auto answer = answered->at + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(LineTime(2, 19200)));
        result.latencies.push_back(Seconds(identificationStart - answer));
    }
    return result;
}

void PrintMinimum(const char* mode, const Minimum& m) {
    std::printf("  %-14s records on the line %7.3f s, 30 ms after each record %6.3f s, "
                "before each module %5.3f s,\n  %-14s activation cycles after the speed change "
                "%5.3f s, start-up text beyond its pause %5.3f s\n",
                mode, m.recordLines, m.recordPauses, m.modulePauses, "", m.activationCycles,
                m.startupText);
}

} // namespace

int main(int argc, char** argv) {
    int detections = 10;
    bool withSlow = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--detections" && i + 1 < argc) {
            detections = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--no-slow") {
            withSlow = false;
        } else {
            std::fprintf(stderr, "Usage: quillon-bench-upload [--detections N] [--no-slow]\n");
            return 2;
        }
    }

    std::vector<std::pair<const char*, UploadResult>> rows;
    rows.emplace_back("115200 baud", MeasureUpload(false));
    if (withSlow) {
        rows.emplace_back("slow (19200)", MeasureUpload(true));
    }
    const DetectionResult detection = MeasureDetection(detections);

    bool ok = true;
    std::printf("Upload of the reference image to the simulated device (no device latency, "
                "line-rate pacing)\n\n");
    std::printf("  %-14s %8s %8s %11s %7s %9s %s\n", "mode", "records", "wall s", "minimum s",
                "ratio", "CPU/wall", "target");
    for (const auto& [mode, r] : rows) {
        if (!r.succeeded) {
            std::printf("  %-14s FAILED: %s\n", mode, r.failure.c_str());
            ok = false;
            continue;
        }
        const double ratio = r.wall / r.minimum.Total();
        const double cpuShare = r.cpu / r.wall;
        const bool met = ratio <= 1.03 && cpuShare <= 0.15;
        std::printf("  %-14s %8zu %8.3f %11.3f %7.4f %8.1f%% %s\n", mode, r.records, r.wall,
                    r.minimum.Total(), ratio, cpuShare * 100, met ? "met" : "MISSED");
        ok = ok && met;
    }
    std::printf("\n  Protocol minimum, by part:\n");
    for (const auto& [mode, r] : rows) {
        if (r.succeeded) {
            PrintMinimum(mode, r.minimum);
        }
    }
    if (!rows.empty() && rows.front().second.succeeded) {
        std::printf("  (image: %zu payload bytes)\n", rows.front().second.imageBytes);
    }
    std::printf("  Targets: ratio at most 1.03, CPU at most 15%% of wall time.\n\n");

    const double cycle = kBreak + LineTime(32, 19200) + kActivationWait;
    if (!detection.failure.empty()) {
        std::printf("Detection: FAILED: %s\n", detection.failure.c_str());
        return 1;
    }
    std::vector<double> sorted = detection.latencies;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    const double worst = sorted.back();
    const bool detectionMet = worst <= cycle;
    std::printf("Detection: first activation answer -> identification start, %zu runs\n",
                sorted.size());
    std::printf("  %-10s %10s %10s %16s %s\n", "min ms", "median ms", "max ms", "one cycle ms",
                "target");
    std::printf("  %-10.1f %10.1f %10.1f %16.1f %s\n", sorted.front() * 1000, median * 1000,
                worst * 1000, cycle * 1000, detectionMet ? "met" : "MISSED");
    ok = ok && detectionMet;
    return ok ? 0 : 1;
}
