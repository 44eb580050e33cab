#include "tools/soak/SoakTimeBound.h"

#include "package/VersionDescriptor.h"

#include <algorithm>
#include <cstdio>

namespace quillon {

double SoakTimeBound::TotalMs() const {
    double total = 0;
    for (const Phase& phase : phases) {
        total += phase.milliseconds;
    }
    return total;
}

std::string SoakTimeBound::Describe() const {
    std::string text;
    char line[128];
    for (const Phase& phase : phases) {
        std::snprintf(line, sizeof line, "  %-34s %10.1f s\n", phase.name.c_str(),
                      phase.milliseconds / 1000.0);
        text += line;
    }
    std::snprintf(line, sizeof line, "  %-34s %10.1f s\n", "total", TotalMs() / 1000.0);
    return text + line;
}

double SoakTimeBound::SendMs(double bytes, double timeoutMs) {
    return kBreakMs + LineMs(bytes, kSlowBaud) + kReplyPauseMs + timeoutMs + kSchedulingSlackMs;
}

double SoakTimeBound::ActivationMs(int attempts) {
    return attempts * (kBreakMs + LineMs(kActivationBlockBytes, kSlowBaud) + kReplyPauseMs +
                       kSchedulingSlackMs);
}

double SoakTimeBound::ExchangeMs(CEncImageFile& package, int record) {
    RecordHeader header{};
    if (!package.ReadHeader(record, header)) {
        return 0;
    }
    const double timeout = std::max<double>(kReplyWordTimeoutMs, header.replyTimeout);
    return kSendsPerRecord * SendMs(static_cast<double>(header.PayloadSize()), timeout);
}

double SoakTimeBound::ModuleMs(CEncImageFile& package, int descriptor, int extraPasses) {
    VersionDescriptor module;
    if (package.FindModuleDescriptor(descriptor, module) != descriptor) {
        return 0;
    }
    double longest = 0;
    double total = kReplyPauseMs;
    for (int k = 1; k <= module.recordCount; ++k) {
        const double record = kAttemptsPerModuleRecord * ExchangeMs(package, descriptor + k);
        longest = std::max(longest, record);
        total += record;
    }
    return total + extraPasses * longest;
}

} // namespace quillon
