#include "wizard/CPortScanWorker.h"

#include <QMetaObject>
#include <utility>

namespace quillon {

CPortScanWorker::CPortScanWorker(Result result, QObject* parent)
    : QObject(parent), result_(std::move(result)),
      thread_([this](const std::stop_token& stop) { Run(stop); }) {
}

CPortScanWorker::~CPortScanWorker() {
    // Joined before the QObject goes: a result posted meanwhile is dropped with it.
    thread_.request_stop();
    thread_.join();
}

void CPortScanWorker::Request(Discovery discovery) {
    {
        std::lock_guard lock(mutex_);
        pending_ = std::move(discovery);
    }
    wake_.notify_one();
}

void CPortScanWorker::Discard() {
    std::lock_guard lock(mutex_);
    pending_ = nullptr;
    ++generation_;
}

void CPortScanWorker::Run(const std::stop_token& stop) {
    for (;;) {
        Discovery discovery;
        std::uint64_t generation = 0;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stop, [this] { return static_cast<bool>(pending_); })) {
                return;
            }
            discovery = std::exchange(pending_, nullptr);
            generation = generation_;
        }
        std::vector<SerialPortInfo> ports = discovery();
        QMetaObject::invokeMethod(
            this,
            [this, generation, ports = std::move(ports)]() mutable {
                Deliver(generation, std::move(ports));
            },
            Qt::QueuedConnection);
    }
}

void CPortScanWorker::Deliver(std::uint64_t generation, std::vector<SerialPortInfo> ports) {
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) {
            return;
        }
    }
    if (result_) {
        result_(std::move(ports));
    }
}

} // namespace quillon
