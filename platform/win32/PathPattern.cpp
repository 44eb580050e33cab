#include "platform/PathPattern.h"

#include "platform/win32/WideText.h"

#include <algorithm>
#include <cctype>
#include <windows.h>

namespace quillon {

namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";

// COMn: the number, 0 for any other name.
unsigned long ComNumber(const std::string& name) {
    if (name.size() < 4 || (name[0] != 'C' && name[0] != 'c') ||
        (name[1] != 'O' && name[1] != 'o') || (name[2] != 'M' && name[2] != 'm') ||
        !std::all_of(name.begin() + 3, name.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return 0;
    }
    return std::stoul(name.substr(3, 9));
}

// Every COM port the system has a device name for.
std::vector<std::string> ComPorts() {
    std::vector<wchar_t> names(64 * 1024);
    DWORD length = 0;
    while ((length = ::QueryDosDeviceW(nullptr, names.data(), static_cast<DWORD>(names.size()))) ==
               0 &&
           ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && names.size() < (16u << 20)) {
        names.resize(names.size() * 2);
    }
    std::vector<std::string> ports;
    for (std::size_t at = 0; at < length && names[at] != L'\0';) {
        const std::wstring name(names.data() + at);
        at += name.size() + 1;
        const std::string utf8 = win32::Utf8FromWide(name);
        if (ComNumber(utf8) != 0) {
            ports.push_back(utf8);
        }
    }
    return ports;
}

std::vector<std::string> MatchComPorts(std::string_view prefix, std::string_view pattern) {
    std::vector<std::string> matches;
    for (const std::string& port : ComPorts()) {
        if (MatchesPathPattern(port, pattern, true)) {
            matches.push_back(port);
        }
    }
    std::sort(matches.begin(), matches.end(), [](const std::string& a, const std::string& b) {
        return ComNumber(a) < ComNumber(b);
    });
    for (std::string& match : matches) {
        match.insert(0, prefix);
    }
    return matches;
}

std::vector<std::string> MatchFolderEntries(const std::string& folder, std::string_view pattern) {
    std::vector<std::string> matches;
    WIN32_FIND_DATAW entry{};
    const std::wstring search = win32::WideFromUtf8(folder + "*");
    const HANDLE find = ::FindFirstFileExW(search.c_str(), FindExInfoBasic, &entry,
                                           FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        return matches;
    }
    do {
        const std::string name = win32::Utf8FromWide(entry.cFileName);
        if (name != "." && name != ".." && MatchesPathPattern(name, pattern, true)) {
            matches.push_back(folder + name);
        }
    } while (::FindNextFileW(find, &entry) != 0);
    ::FindClose(find);
    std::sort(matches.begin(), matches.end());
    return matches;
}

} // namespace

std::vector<std::string> ExpandPathPattern(const std::string& pattern) {
    std::string_view rest = pattern;
    std::string_view prefix;
    if (rest.substr(0, kDevicePrefix.size()) == kDevicePrefix) {
        prefix = kDevicePrefix;
        rest.remove_prefix(kDevicePrefix.size());
    }
    const std::size_t split = rest.find_last_of("\\/:");
    if (split == std::string_view::npos) {
        return MatchComPorts(prefix, rest);
    }
    // Wildcards count in the last part only; the folder is taken as written.
    const std::string folder = pattern.substr(0, pattern.size() - rest.size() + split + 1);
    return MatchFolderEntries(folder, rest.substr(split + 1));
}

} // namespace quillon
