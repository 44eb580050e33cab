#pragma once

#include <chrono>
#include <functional>

namespace quillon::testing {

// Checks condition until it holds or timeout passes; true when it held. For waiting on
// another thread's effect without a fixed sleep.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace quillon::testing
