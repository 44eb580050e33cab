#include "wizard/CDeviceFolderWatch.h"

#include <QMetaObject>

namespace quillon {

CDeviceFolderWatch::CDeviceFolderWatch(std::function<void()> changed, QObject* parent)
    : QObject(parent), changed_(std::move(changed)) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, [this] {
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
    watching_ = true;
    // The system's watch calls from its own thread: the settling is done here.
    const auto posted = [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (watching_ && mode_ == Mode::kInotify) {
                    settle_.start();
                }
            },
            Qt::QueuedConnection);
    };
    if (mode == Mode::kInotify && system_.Start(devFolder, posted)) {
        mode_ = Mode::kInotify;
        return;
    }
    mode_ = Mode::kRescanTimer;
    rescan_.start();
}

void CDeviceFolderWatch::Stop() {
    system_.Stop();
    watching_ = false;
    settle_.stop();
    rescan_.stop();
}

} // namespace quillon
