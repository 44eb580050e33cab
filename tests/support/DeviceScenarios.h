#pragma once

#include "tools/devsim/DevSimScenario.h"

#include <chrono>
#include <cstdint>
#include <vector>

namespace quillon::testing {

// A firmware image of the same make as the shipped one (same product, version and target
// boards) with `records` short records of four blocks each and a start-up byte timeout
// (TIME) of its own: the endings that do not need the whole image, a whole transfer in a
// fraction of a second. The payloads come from a fixed seed.
std::vector<std::uint8_t> SmallImage(int records, int startupTimeoutMs);

// A device that is still powering up: it hears the activation blocks but never answers.
inline DevSimScenario NeverPoweredUp() {
    DevSimScenario scenario;
    scenario.powerUpDelay = std::chrono::hours(1);
    return scenario;
}

} // namespace quillon::testing
