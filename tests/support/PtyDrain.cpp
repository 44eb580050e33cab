#include "tests/support/PtyDrain.h"

namespace quillon::testing {

PtyDrain::PtyDrain(PseudoTerminal& pty)
    : pty_(pty), thread_([this](std::stop_token stop) { Run(stop); }) {
}

PtyDrain::~PtyDrain() {
    Stop();
}

void PtyDrain::Stop() {
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
}

void PtyDrain::Run(std::stop_token stop) {
    std::uint8_t chunk[4096];
    while (!stop.stop_requested()) {
        // A short timeout keeps the stop request responsive.
        const ssize_t n = pty_.Read(chunk, sizeof chunk, 20);
        if (n < 0) {
            return;
        }
        if (n > 0) {
            std::lock_guard lock(mutex_);
            bytes_.insert(bytes_.end(), chunk, chunk + n);
            arrived_.notify_all();
        }
    }
}

std::size_t PtyDrain::Count() {
    std::lock_guard lock(mutex_);
    return bytes_.size();
}

std::vector<std::uint8_t> PtyDrain::Bytes() {
    std::lock_guard lock(mutex_);
    return bytes_;
}

void PtyDrain::Clear() {
    std::lock_guard lock(mutex_);
    bytes_.clear();
}

bool PtyDrain::WaitForCount(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return bytes_.size() >= count; });
}

} // namespace quillon::testing
