#pragma once

#include "platform/DeviceChangeWatch.h"

#include <QObject>
#include <QTimer>
#include <filesystem>
#include <functional>

namespace quillon {

// Tells when serial adapters may have come or gone: the kernel adds and removes their
// nodes in the device folder, udev then sets their group and makes the by-id links. With
// the system's device watch (inotify on those folders), one notification follows each burst
// of changes once it has settled; where there is no such watch, a cheap rescan is asked for
// once a second. Never a busy poll.
//
// Threads: the UI thread only; the callback runs there from the event loop. The system
// watch's worker only posts to the UI thread, and is joined by Stop.
class CDeviceFolderWatch : public QObject {
public:
    enum class Mode { kInotify, kRescanTimer };

    // A plug brings several changes within a few milliseconds (the node, its group, the
    // by-id links); one rescan after they settle is enough and still feels immediate.
    static constexpr int kSettleMs = 150;
    // The fallback's rescan period: an adapter shows up within a second.
    static constexpr int kRescanMs = 1000;

    explicit CDeviceFolderWatch(std::function<void()> changed, QObject* parent = nullptr);
    ~CDeviceFolderWatch() override;
    CDeviceFolderWatch(const CDeviceFolderWatch&) = delete;
    CDeviceFolderWatch& operator=(const CDeviceFolderWatch&) = delete;

    // Starts watching devFolder (and its serial/by-id folders); kInotify (the system's
    // watch) falls back to the timer when it cannot be had. Starting again first stops.
    void Start(const std::filesystem::path& devFolder, Mode mode = Mode::kInotify);
    void Stop();
    bool IsWatching() const { return watching_; }
    Mode ActiveMode() const { return mode_; }

private:
    std::function<void()> changed_;
    Mode mode_ = Mode::kInotify;
    bool watching_ = false;
    QTimer settle_;
    QTimer rescan_;
    DeviceChangeWatch system_; // last: stopped first, before the timers it posts to go
};

} // namespace quillon
