#include "platform/ConsoleSignals.h"

#include <deque>
#include <mutex>
#include <windows.h>

namespace quillon {

namespace {

// Windows ends the process when the handler returns from a close, a log-off or a
// shut-down, and after about five seconds even if it does not: the command gets a little
// less than that to abort the upload and let the port go.
constexpr DWORD kWindDownMs = 4500;
constexpr std::size_t kMostPending = 64;

// What the console's handler thread and the command share. It outlives every object and
// the process's static destructors on purpose: a handler thread may still be running when
// the program ends.
struct Shared {
    std::mutex mutex;
    std::deque<ConsoleSignal> pending;
    bool active = false;
    // Set while a signal is pending; set when the command has wound down.
    HANDLE pendingEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE releasedEvent = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
};

Shared& TheShared() {
    static Shared& shared = *new Shared;
    return shared;
}

BOOL WINAPI Handle(DWORD type) {
    ConsoleSignal signal = ConsoleSignal::None;
    bool windDown = false;
    switch (type) {
    case CTRL_C_EVENT:
        signal = ConsoleSignal::Interrupt;
        break;
    case CTRL_BREAK_EVENT:
        signal = ConsoleSignal::Terminate;
        break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        signal = ConsoleSignal::Terminate;
        windDown = true;
        break;
    default:
        return FALSE;
    }
    Shared& shared = TheShared();
    {
        std::lock_guard lock(shared.mutex);
        if (!shared.active) {
            return FALSE; // the next handler, in the end the system's: the process ends
        }
        if (shared.pending.size() < kMostPending) {
            shared.pending.push_back(signal);
        }
        ::SetEvent(shared.pendingEvent);
    }
    if (windDown) {
        ::WaitForSingleObject(shared.releasedEvent, kWindDownMs);
    }
    return TRUE;
}

} // namespace

struct ConsoleSignals::State {};

ConsoleSignals::ConsoleSignals() : state_(std::make_unique<State>()) {
    Shared& shared = TheShared();
    {
        std::lock_guard lock(shared.mutex);
        shared.pending.clear();
        ::ResetEvent(shared.pendingEvent);
        ::ResetEvent(shared.releasedEvent);
        shared.active = true;
    }
    static const bool installed = [] {
        // Ctrl-C reaches the handler even when the parent started us with it ignored, as a
        // handler installed with sigaction does on POSIX.
        ::SetConsoleCtrlHandler(nullptr, FALSE);
        return ::SetConsoleCtrlHandler(&Handle, TRUE) != 0;
    }();
    static_cast<void>(installed);
}

ConsoleSignals::~ConsoleSignals() {
    Shared& shared = TheShared();
    std::lock_guard lock(shared.mutex);
    shared.active = false;
    shared.pending.clear();
    ::ResetEvent(shared.pendingEvent);
    ::SetEvent(shared.releasedEvent);
}

ConsoleSignal ConsoleSignals::Take() {
    Shared& shared = TheShared();
    std::lock_guard lock(shared.mutex);
    if (shared.pending.empty()) {
        return ConsoleSignal::None;
    }
    const ConsoleSignal signal = shared.pending.front();
    shared.pending.pop_front();
    if (shared.pending.empty()) {
        ::ResetEvent(shared.pendingEvent);
    }
    return signal;
}

ConsoleSignal ConsoleSignals::Take(std::chrono::milliseconds timeout) {
    ::WaitForSingleObject(TheShared().pendingEvent, static_cast<DWORD>(timeout.count()));
    return Take();
}

std::intptr_t ConsoleSignals::Waitable() const {
    return reinterpret_cast<std::intptr_t>(TheShared().pendingEvent);
}

} // namespace quillon
