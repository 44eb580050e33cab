#include "wizard/CDeviceFolderWatch.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <sys/inotify.h>
#include <unistd.h>

namespace quillon {

namespace {

constexpr std::uint32_t kFolderEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF;

} // namespace

CDeviceFolderWatch::CDeviceFolderWatch(std::function<void()> changed, QObject* parent)
    : QObject(parent), changed_(std::move(changed)) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, [this] {
        WatchNewFolders();
        if (changed_) {
            changed_();
        }
    });
    rescan_.setInterval(kRescanMs);
    connect(&rescan_, &QTimer::timeout, this, [this] {
        if (changed_) {
            changed_();
        }
    });
}

CDeviceFolderWatch::~CDeviceFolderWatch() {
    Stop();
}

void CDeviceFolderWatch::Start(const std::filesystem::path& devFolder, Mode mode) {
    Stop();
    dev_ = devFolder;
    watching_ = true;
    if (mode == Mode::kInotify) {
        inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotify_ >= 0 && ::inotify_add_watch(inotify_, dev_.c_str(), kFolderEvents) >= 0) {
            mode_ = Mode::kInotify;
            WatchNewFolders();
            notifier_ = new QSocketNotifier(inotify_, QSocketNotifier::Read, this);
            connect(notifier_, &QSocketNotifier::activated, this, [this] { ReadEvents(); });
            return;
        }
        if (inotify_ >= 0) {
            ::close(inotify_);
            inotify_ = -1;
        }
    }
    mode_ = Mode::kRescanTimer;
    rescan_.start();
}

void CDeviceFolderWatch::Stop() {
    watching_ = false;
    settle_.stop();
    rescan_.stop();
    delete notifier_;
    notifier_ = nullptr;
    if (inotify_ >= 0) {
        ::close(inotify_);
        inotify_ = -1;
    }
}

void CDeviceFolderWatch::WatchNewFolders() {
    if (inotify_ < 0) {
        return;
    }
    // Adding a watch for a folder watched already only refreshes it; a missing folder
    // fails quietly and is tried again after the next change in the device folder.
    for (const std::filesystem::path& folder : {dev_ / "serial", dev_ / "serial" / "by-id"}) {
        ::inotify_add_watch(inotify_, folder.c_str(), kFolderEvents);
    }
}

void CDeviceFolderWatch::ReadEvents() {
    alignas(inotify_event) std::array<char, 4096> buffer{};
    bool any = false;
    for (;;) {
        const ssize_t got = ::read(inotify_, buffer.data(), buffer.size());
        if (got > 0) {
            any = true;
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        break; // EAGAIN: drained
    }
    if (any) {
        settle_.start();
    }
}

} // namespace quillon
