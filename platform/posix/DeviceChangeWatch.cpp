#include "platform/DeviceChangeWatch.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace quillon {

namespace {

constexpr std::uint32_t kFolderEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF;

// Adding a watch for a folder watched already only refreshes it; a missing folder fails
// quietly and is tried again after the next change in the device folder.
void WatchNewFolders(int inotify, const std::filesystem::path& dev) {
    for (const std::filesystem::path& folder : {dev / "serial", dev / "serial" / "by-id"}) {
        ::inotify_add_watch(inotify, folder.c_str(), kFolderEvents);
    }
}

// True when anything was read; reads until the queue is empty.
bool Drain(int inotify) {
    alignas(inotify_event) std::array<char, 4096> buffer{};
    bool any = false;
    for (;;) {
        const ssize_t got = ::read(inotify, buffer.data(), buffer.size());
        if (got > 0) {
            any = true;
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return any; // EAGAIN: drained
    }
}

} // namespace

struct DeviceChangeWatch::Worker {
    int inotify = -1;
    int wake = -1; // an eventfd: written by Stop to end the worker's wait
    std::jthread thread;

    ~Worker() {
        if (thread.joinable()) {
            const std::uint64_t one = 1;
            while (::write(wake, &one, sizeof(one)) < 0 && errno == EINTR) {
            }
            thread.join();
        }
        if (inotify >= 0) {
            ::close(inotify);
        }
        if (wake >= 0) {
            ::close(wake);
        }
    }
};

DeviceChangeWatch::DeviceChangeWatch() = default;

DeviceChangeWatch::~DeviceChangeWatch() {
    Stop();
}

bool DeviceChangeWatch::Start(const std::filesystem::path& devFolder,
                              std::function<void()> changed) {
    Stop();
    auto worker = std::make_unique<Worker>();
    worker->inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    worker->wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (worker->inotify < 0 || worker->wake < 0 ||
        ::inotify_add_watch(worker->inotify, devFolder.c_str(), kFolderEvents) < 0) {
        return false;
    }
    WatchNewFolders(worker->inotify, devFolder);
    worker->thread = std::jthread(
        [inotify = worker->inotify, wake = worker->wake, devFolder, changed = std::move(changed)] {
            std::array<pollfd, 2> fds{pollfd{inotify, POLLIN, 0}, pollfd{wake, POLLIN, 0}};
            for (;;) {
                if (::poll(fds.data(), fds.size(), -1) < 0) {
                    if (errno == EINTR) {
                        continue;
                    }
                    return;
                }
                if (fds[1].revents != 0) {
                    return;
                }
                if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                    return;
                }
                if (Drain(inotify)) {
                    WatchNewFolders(inotify, devFolder);
                    if (changed) {
                        changed();
                    }
                }
            }
        });
    worker_ = std::move(worker);
    return true;
}

void DeviceChangeWatch::Stop() {
    worker_.reset();
}

} // namespace quillon
