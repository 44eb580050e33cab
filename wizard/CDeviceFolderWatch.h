#pragma once

#include <QObject>
#include <QTimer>
#include <filesystem>
#include <functional>

class QSocketNotifier;

namespace quillon {

// Tells when serial adapters may have come or gone: the kernel adds and removes their
// nodes in the device folder, udev then sets their group and makes the by-id links. With
// inotify on those folders, one notification follows each burst of changes once it has
// settled; where inotify is not available, a cheap rescan is asked for once a second.
// Never a busy poll.
//
// Threads: the UI thread only; the callback runs there from the event loop.
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

    // Starts watching devFolder (and its serial/by-id folders); kInotify falls back to the
    // timer when inotify cannot be had. Starting again first stops.
    void Start(const std::filesystem::path& devFolder, Mode mode = Mode::kInotify);
    void Stop();
    bool IsWatching() const { return watching_; }
    Mode ActiveMode() const { return mode_; }
    // Adds watches for the serial/by-id folders that udev creates with the first adapter.
    void WatchNewFolders();

private:
    void ReadEvents();

    std::function<void()> changed_;
    std::filesystem::path dev_;
    Mode mode_ = Mode::kInotify;
    bool watching_ = false;
    int inotify_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer settle_;
    QTimer rescan_;
};

} // namespace quillon
