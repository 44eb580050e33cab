#include "platform/DeviceChangeWatch.h"

#include "platform/win32/DosDeviceNames.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillon {

namespace {

// Windows adds and removes a COM port's MS-DOS name as its device comes and goes; one look
// a second at that list (a single call, no device opened) shows an adapter soon enough.
constexpr std::chrono::seconds kLookPeriod{1};

} // namespace

struct DeviceChangeWatch::Worker {
    std::mutex mutex;
    std::condition_variable_any wakeUp; // ends the wait between looks at once on a stop
    std::jthread thread;                // declared last: joined before the rest goes
};

DeviceChangeWatch::DeviceChangeWatch() = default;

DeviceChangeWatch::~DeviceChangeWatch() {
    Stop();
}

bool DeviceChangeWatch::Start(const std::filesystem::path&, std::function<void()> changed) {
    Stop();
    auto worker = std::make_unique<Worker>();
    Worker& state = *worker;
    worker->thread = std::jthread([&state, changed = std::move(changed)](std::stop_token stop) {
        std::vector<std::string> seen = ComPortNames();
        std::unique_lock lock(state.mutex);
        while (!state.wakeUp.wait_for(lock, stop, kLookPeriod, [] { return false; })) {
            if (stop.stop_requested()) {
                return;
            }
            lock.unlock();
            std::vector<std::string> now = ComPortNames();
            if (now != seen) {
                seen = std::move(now);
                if (changed) {
                    changed();
                }
            }
            lock.lock();
        }
    });
    worker_ = std::move(worker);
    return true;
}

void DeviceChangeWatch::Stop() {
    if (worker_) {
        worker_->thread.request_stop(); // wakes the wait
        worker_->thread.join();
        worker_.reset();
    }
}

} // namespace quillon
