#pragma once

// Conversions the Windows sources share: the program's texts and paths are UTF-8, the
// wide Windows functions take UTF-16. Not a service of its own.

#include <string>
#include <windows.h>

namespace quillon::win32 {

inline std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int wide = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (wide <= 0) {
        return {};
    }
    std::wstring result(static_cast<std::size_t>(wide), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, result.data(), wide);
    return result;
}

inline std::string Utf8FromWide(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int bytes =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return {};
    }
    std::string result(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, result.data(), bytes, nullptr, nullptr);
    return result;
}

// The system's own text for an error code, without its line end.
inline std::string ErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide = length > 0 && text != nullptr ? std::wstring(text, length) : L"";
    ::LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L'.')) {
        wide.pop_back();
    }
    return wide.empty() ? "system error " + std::to_string(error) : Utf8FromWide(wide);
}

} // namespace quillon::win32
