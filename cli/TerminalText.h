#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

// Package and device texts are single-byte Latin-1 strings (the target board text carries
// the byte 0xBB, "»"); terminals speak UTF-8. Control characters, which a device could
// send to steer the terminal, are shown as \xNN instead of being passed on.
std::string Latin1ToTerminal(std::string_view latin1);

// The percentage shown for a progress report of the upload, the upload page's figure
// (UploadPercent): the last of 57 records shows 98, the report once the firmware has
// started 100. -1 for a report without a total.
int ProgressPercent(std::intptr_t done, std::intptr_t total);

// "42% Complete", as the upload page shows it.
std::string PercentText(int percent);

// A bar of `width` cells filled in proportion to the percentage, then the percentage text.
std::string ProgressBar(int percent, int width = 40);

} // namespace quillon
