#pragma once

#include <ctime>

namespace quillon {

// The calendar time in this computer's time zone.
std::tm LocalTime(std::time_t when);

} // namespace quillon
