#include "cli/TerminalText.h"

#include "upload/UploadProgress.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace quillon {

std::string Latin1ToTerminal(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size() + latin1.size() / 4);
    for (const char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte < 0xA0)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(byte));
            out += escaped;
        } else if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

int ProgressPercent(std::intptr_t done, std::intptr_t total) {
    if (total <= 0 || done < 0) {
        return -1;
    }
    constexpr std::intptr_t kMost = std::numeric_limits<std::uint32_t>::max();
    return static_cast<int>(UploadPercent(static_cast<std::uint32_t>(std::min(done, kMost)),
                                          static_cast<std::uint32_t>(std::min(total, kMost))));
}

std::string PercentText(int percent) {
    return std::to_string(percent) + "% Complete";
}

std::string ProgressBar(int percent, int width) {
    const int clamped = std::clamp(percent, 0, 100);
    const int filled = clamped * width / 100;
    std::string bar = "[";
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(width - filled), '-');
    bar += "] ";
    std::string number = std::to_string(clamped);
    bar.append(3 - std::min<std::size_t>(3, number.size()), ' ');
    return bar + PercentText(clamped);
}

} // namespace quillon
