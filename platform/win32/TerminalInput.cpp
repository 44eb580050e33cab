#include "platform/TerminalInput.h"

#include "platform/ConsoleSignals.h"

#include <mutex>
#include <stop_token>
#include <thread>
#include <windows.h>

namespace quillon {

namespace {

HANDLE HandleOf(StandardStream stream) {
    switch (stream) {
    case StandardStream::Input:
        return ::GetStdHandle(STD_INPUT_HANDLE);
    case StandardStream::Output:
        return ::GetStdHandle(STD_OUTPUT_HANDLE);
    case StandardStream::Error:
        return ::GetStdHandle(STD_ERROR_HANDLE);
    }
    return nullptr;
}

// How often the reader looks at its stop request while the console has nothing for it.
constexpr DWORD kReaderSliceMs = 100;

} // namespace

bool IsTerminal(StandardStream stream) {
    DWORD mode = 0;
    return ::GetConsoleMode(HandleOf(stream), &mode) != 0;
}

std::size_t TerminalColumns(StandardStream stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(HandleOf(stream), &info) != 0) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0) {
            return static_cast<std::size_t>(columns);
        }
    }
    return 80;
}

struct TerminalInput::State {
    std::mutex mutex;
    std::string buffer;
    bool ended = false;
    bool finished = false;
    HANDLE readerHandle = nullptr; // a real handle to the reader thread, for cancelling
    // Set while there is something to read or the input has ended; set when the reader is
    // about to return.
    HANDLE readyEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE finishedEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::jthread reader;

    ~State() {
        for (const HANDLE handle : {readerHandle, readyEvent, finishedEvent}) {
            if (handle != nullptr) {
                ::CloseHandle(handle);
            }
        }
    }

    void Run(const std::stop_token& stop) {
        HANDLE self = nullptr;
        ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &self,
                          0, FALSE, DUPLICATE_SAME_ACCESS);
        {
            std::lock_guard lock(mutex);
            readerHandle = self;
        }
        const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
        DWORD mode = 0;
        const bool console = ::GetConsoleMode(in, &mode) != 0;
        bool end = in == nullptr || in == INVALID_HANDLE_VALUE;
        while (!end && !stop.stop_requested()) {
            // A console read blocks until a line is whole: it starts only once something
            // was typed, so that a question withdrawn meanwhile rarely needs a cancel.
            if (console && ::WaitForSingleObject(in, kReaderSliceMs) != WAIT_OBJECT_0) {
                continue;
            }
            char chunk[256];
            DWORD got = 0;
            ::SetLastError(ERROR_SUCCESS);
            const BOOL ok = ::ReadFile(in, chunk, sizeof chunk, &got, nullptr);
            // Cancelled by the destructor, or a Ctrl-C that ended a console read with
            // nothing: the signal goes its own way.
            if (::GetLastError() == ERROR_OPERATION_ABORTED && got == 0) {
                continue;
            }
            std::lock_guard lock(mutex);
            if (ok == 0 || got == 0) {
                ended = end = true;
            } else {
                buffer.append(chunk, got);
            }
            ::SetEvent(readyEvent);
        }
        std::lock_guard lock(mutex);
        finished = true;
        ::SetEvent(finishedEvent);
    }
};

TerminalInput::TerminalInput() : state_(std::make_unique<State>()) {
    State* state = state_.get();
    state_->reader = std::jthread([state](const std::stop_token& stop) { state->Run(stop); });
}

TerminalInput::~TerminalInput() {
    state_->reader.request_stop();
    for (;;) {
        HANDLE reader = nullptr;
        {
            std::lock_guard lock(state_->mutex);
            if (state_->finished) {
                break;
            }
            reader = state_->readerHandle;
        }
        // A blocking read on a pipe or a console ends only when cancelled; the reader may
        // not have reached it yet, so until it says it is done.
        if (reader != nullptr) {
            ::CancelSynchronousIo(reader);
        }
        ::WaitForSingleObject(state_->finishedEvent, 50);
    }
    state_->reader.join();
}

TerminalInput::Ready TerminalInput::Wait(const ConsoleSignals& console,
                                         std::chrono::milliseconds timeout) {
    const HANDLE handles[2] = {reinterpret_cast<HANDLE>(console.Waitable()), state_->readyEvent};
    switch (::WaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(timeout.count()))) {
    case WAIT_OBJECT_0:
        return Ready::Signal;
    case WAIT_OBJECT_0 + 1:
        return Ready::Input;
    case WAIT_TIMEOUT:
        return Ready::TimedOut;
    default:
        return Ready::Failed;
    }
}

TerminalInput::Read TerminalInput::ReadInto(std::string& text) {
    std::lock_guard lock(state_->mutex);
    if (!state_->buffer.empty()) {
        text += state_->buffer;
        state_->buffer.clear();
        if (!state_->ended) {
            ::ResetEvent(state_->readyEvent);
        }
        return Read::Data;
    }
    if (state_->ended) {
        return Read::End;
    }
    ::ResetEvent(state_->readyEvent);
    return Read::Nothing;
}

} // namespace quillon
