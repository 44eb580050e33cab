#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quillon {

// Paths travel through this program as UTF-8 text. std::filesystem reads narrow text in
// the system's own code page, which on Windows is seldom UTF-8 (a folder such as
// C:\Users\Zoë would be misread), so text and paths are converted through these.
inline std::filesystem::path PathFromUtf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace quillon
