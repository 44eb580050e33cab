#include "tools/soak/ProcessFigures.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace quillon {

namespace {

std::size_t CountEntries(const char* folder) {
    std::error_code error;
    std::size_t count = 0;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        ++count;
    }
    return count;
}

std::size_t ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            std::size_t value = 0;
            status >> value;
            return value;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}

} // namespace

ProcessFigures ProcessFigures::Now() {
    ProcessFigures figures;
    figures.threads = CountEntries("/proc/self/task");
    // The iterator's own descriptor on /proc/self/fd is open while it counts.
    const std::size_t descriptors = CountEntries("/proc/self/fd");
    figures.descriptors = descriptors > 0 ? descriptors - 1 : 0;
    figures.residentKiB = ResidentKiB();
    return figures;
}

} // namespace quillon
