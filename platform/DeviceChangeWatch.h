#pragma once

#include <filesystem>
#include <functional>
#include <memory>

namespace quillon {

// Notices that serial ports may have come or gone, never by a busy poll: on Linux with
// inotify on the device folder and its serial/by-id folders (udev makes those with the first
// adapter; they are watched from when they appear), on Windows by a look at the MS-DOS
// device names once a second. A burst of changes may give several calls: the owner settles
// them.
//
// Threads: Start, Stop and the destructor on the owner's thread. The watch has a worker
// thread of its own, which makes the calls of `changed`: they must be short and hand over to
// the owner's thread. Stop joins the worker, so no call comes after it returns.
class DeviceChangeWatch {
public:
    DeviceChangeWatch();
    ~DeviceChangeWatch();
    DeviceChangeWatch(const DeviceChangeWatch&) = delete;
    DeviceChangeWatch& operator=(const DeviceChangeWatch&) = delete;

    // Starts watching (stopping first); false when the system gives no way to, and then
    // nothing runs. The device folder is Linux's; Windows does not use it.
    bool Start(const std::filesystem::path& devFolder, std::function<void()> changed);
    void Stop();
    bool IsRunning() const { return worker_ != nullptr; }

private:
    struct Worker;
    std::unique_ptr<Worker> worker_;
};

} // namespace quillon
