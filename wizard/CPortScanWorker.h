#pragma once

#include "platform/SerialPortDiscovery.h"

#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quillon {

// Looks for the serial ports on a thread of its own, so that a slow look (thousands of
// terminals, a sluggish sysfs) never holds up the window. Requests that come while a look
// is under way fold into one more look after it; each result reaches the callback on the
// thread this object lives on, through its event loop.
//
// Threads: construction, Request, Discard and destruction on the UI thread, where the
// results are delivered; the discovery runs on the worker, which the destructor joins.
class CPortScanWorker : public QObject {
public:
    using Discovery = std::function<std::vector<SerialPortInfo>()>;
    using Result = std::function<void(std::vector<SerialPortInfo>)>;

    explicit CPortScanWorker(Result result, QObject* parent = nullptr);
    ~CPortScanWorker() override;
    CPortScanWorker(const CPortScanWorker&) = delete;
    CPortScanWorker& operator=(const CPortScanWorker&) = delete;

    // Asks for a look with `discovery`, which must be safe to call from another thread.
    void Request(Discovery discovery);
    // Forgets what was asked before: a look still under way then reports nothing. For when
    // the caller has just looked for itself, or no longer wants the answer.
    void Discard();

private:
    void Run(const std::stop_token& stop);
    void Deliver(std::uint64_t generation, std::vector<SerialPortInfo> ports);

    Result result_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    Discovery pending_;            // guarded by mutex_; empty when nothing is asked for
    std::uint64_t generation_ = 0; // guarded by mutex_; a result counts only if still current
    std::jthread thread_;          // last: started once the rest exists, joined first
};

} // namespace quillon
