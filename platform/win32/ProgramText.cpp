#include "platform/ProgramText.h"

#include <windows.h>

// shellapi.h needs the types windows.h declares first.
#include <shellapi.h>

namespace quillon {

namespace {

std::string Utf8(const wchar_t* text) {
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) {
        return {};
    }
    std::string result(static_cast<std::size_t>(length - 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), length, nullptr, nullptr);
    return result;
}

} // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    // Text written to the console is UTF-8, as every other text of the program.
    ::SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        // The narrow arguments in the system's code page are the best there is then.
        return {argv + (argc > 0 ? 1 : 0), argv + argc};
    }
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) {
        arguments.push_back(Utf8(wide[i]));
    }
    ::LocalFree(wide);
    return arguments;
}

} // namespace quillon
