#include "platform/StandardStreams.h"

#include <cstdio>
#include <windows.h>

namespace quillon {

void PrepareStandardStreams() {
    // A program started without a standard handle would have the C library's stream fail
    // or, worse, share its descriptor with a file opened later: each is put on NUL, where
    // what is written goes nowhere and input ends at once.
    const struct {
        DWORD which;
        FILE* stream;
        const char* mode;
    } streams[] = {{STD_INPUT_HANDLE, stdin, "r"},
                   {STD_OUTPUT_HANDLE, stdout, "w"},
                   {STD_ERROR_HANDLE, stderr, "w"}};
    for (const auto& standard : streams) {
        const HANDLE handle = ::GetStdHandle(standard.which);
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            continue;
        }
        if (std::freopen("NUL", standard.mode, standard.stream) != nullptr) {
            const HANDLE null = ::CreateFileW(
                L"NUL", standard.which == STD_INPUT_HANDLE ? GENERIC_READ : GENERIC_WRITE,
                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            if (null != INVALID_HANDLE_VALUE) {
                ::SetStdHandle(standard.which, null); // held until the process ends
            }
        }
    }
}

} // namespace quillon
