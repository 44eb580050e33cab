#include "platform/win32/DosDeviceNames.h"

#include "platform/SerialPortDiscovery.h"

#include <algorithm>
#include <cctype>
#include <windows.h>

namespace quillon {

namespace {

// The list holds every MS-DOS device name of the session, usually a few hundred; it is asked
// for in a buffer that grows until it fits, up to a bound no real system comes near.
constexpr DWORD kFirstBufferChars = 65535;
constexpr DWORD kMaxBufferChars = 16 * 1024 * 1024;

bool SameNameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

} // namespace

bool IsComPortName(std::string_view name) {
    if (name.size() < 4 || name.size() > 12 || !SameNameNoCase(name.substr(0, 3), "COM") ||
        name[3] == '0') {
        return false;
    }
    return std::all_of(name.begin() + 3, name.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

std::vector<std::string> ComPortNames() {
    std::vector<char> buffer(kFirstBufferChars);
    DWORD length = 0;
    for (;;) {
        length = ::QueryDosDeviceA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length != 0) {
            break;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= kMaxBufferChars) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    // Zero-terminated names, ended by an empty one; a list cut short still ends at length.
    std::vector<std::string> names;
    const std::string_view all(buffer.data(), std::min<std::size_t>(length, buffer.size()));
    std::size_t at = 0;
    while (at < all.size()) {
        const std::size_t end = std::min(all.find('\0', at), all.size());
        const std::string_view name = all.substr(at, end - at);
        if (name.empty()) {
            break;
        }
        const bool known = std::any_of(names.begin(), names.end(), [&](const std::string& seen) {
            return SameNameNoCase(seen, name);
        });
        if (IsComPortName(name) && !known) {
            names.emplace_back(name);
        }
        at = end + 1;
    }
    std::sort(names.begin(), names.end(), PortNameLess);
    return names;
}

} // namespace quillon
