#include "platform/AppendFile.h"

#include "platform/win32/WideText.h"

#include <windows.h>

namespace quillon {

namespace {

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

AppendFile::~AppendFile() {
    Close();
}

AppendFile::OpenResult AppendFile::Open(const std::string& path, Lock lock, unsigned posixMode,
                                        std::string& reason, Kind kind) {
    static_cast<void>(posixMode);
    Close();
    const std::wstring wide = win32::WideFromUtf8(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        reason = "not a regular file";
        return OpenResult::NotRegular;
    }
    // Writing, not only appending, so that a cut back (SetEndOfFile) is allowed; every
    // write still goes to the end (see Append).
    const DWORD share = FILE_SHARE_READ | (lock == Lock::Exclusive ? 0 : FILE_SHARE_WRITE);
    const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = win32::ErrorText(::GetLastError());
        return OpenResult::Failed;
    }
    // A name such as NUL, CON or COM1 opens a device.
    const bool regular = ::GetFileType(file) == FILE_TYPE_DISK;
    if (!regular && kind == Kind::RegularOnly) {
        ::CloseHandle(file);
        reason = "not a regular file";
        return OpenResult::NotRegular;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    stream_ = !regular;
    return OpenResult::Opened;
}

AppendFile::OpenResult AppendFile::OpenStandardOutput(std::string& reason) {
    Close();
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE own = nullptr;
    if (output == nullptr || output == INVALID_HANDLE_VALUE ||
        ::DuplicateHandle(::GetCurrentProcess(), output, ::GetCurrentProcess(), &own, 0, FALSE,
                          DUPLICATE_SAME_ACCESS) == 0) {
        reason = win32::ErrorText(output == nullptr ? ERROR_INVALID_HANDLE : ::GetLastError());
        return OpenResult::Failed;
    }
    handle_ = reinterpret_cast<std::intptr_t>(own);
    stream_ = ::GetFileType(own) != FILE_TYPE_DISK;
    return OpenResult::Opened;
}

bool AppendFile::Append(const void* data, std::size_t size, std::string& reason) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        // Both offsets all ones: at the end of the file, wherever that is by then, as a
        // handle opened for appending only would write.
        OVERLAPPED atEnd{};
        atEnd.Offset = 0xFFFFFFFFu;
        atEnd.OffsetHigh = 0xFFFFFFFFu;
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (::WriteFile(AsHandle(handle_), p, chunk, &written, stream_ ? nullptr : &atEnd) == 0) {
            reason = win32::ErrorText(::GetLastError());
            return false;
        }
        if (written == 0) {
            reason = win32::ErrorText(ERROR_DISK_FULL);
            return false;
        }
        p += written;
        size -= written;
    }
    return true;
}

std::int64_t AppendFile::Size() const {
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(AsHandle(handle_), &size) == 0) {
        return -1;
    }
    return size.QuadPart;
}

bool AppendFile::CutBack(std::int64_t length) {
    LARGE_INTEGER position{};
    position.QuadPart = length;
    return ::SetFilePointerEx(AsHandle(handle_), position, nullptr, FILE_BEGIN) != 0 &&
           ::SetEndOfFile(AsHandle(handle_)) != 0;
}

bool AppendFile::Flush(std::string& reason) {
    if (::FlushFileBuffers(AsHandle(handle_)) == 0) {
        reason = win32::ErrorText(::GetLastError());
        return false;
    }
    return true;
}

void AppendFile::Close() {
    if (handle_ != kClosed) {
        ::CloseHandle(AsHandle(handle_));
        handle_ = kClosed;
        stream_ = false;
    }
}

bool AppendFile::MayWrite(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(win32::WideFromUtf8(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    // A folder's access list is judged by the open itself, which says why it failed.
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
           (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

bool AppendFile::MayWriteStandardOutput() {
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    return output != nullptr && output != INVALID_HANDLE_VALUE;
}

bool AppendFile::IsFifoWithoutReader(const std::string& path) {
    static_cast<void>(path); // Windows has no FIFOs in its file system
    return false;
}

} // namespace quillon
