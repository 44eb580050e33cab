#include "platform/SerialDevice.h"

// After our own headers: the system's names of the same values (EV_RXCHAR, CE_FRAME, ...)
// are macros with the same numbers, and its DCB and COMSTAT are spelt ::DCB and ::COMSTAT.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>
#include <windows.h>

// The Windows communications API, driven the way Windows documents it for overlapped
// handles, in the forms that also behave under wine:
// - nothing is read that the driver does not already hold: ClearCommError tells how much is
//   waiting and exactly that much is read (MAXDWORD/0/0 time-outs complete at once then);
// - waiting for input is an overlapped read of one byte with a finite total time-out (or none
//   for an endless wait), kept aside for the next Read; it is cut short by CancelIoEx;
// - a read that ends on its time-out completes with 0 bytes on Windows and fails with
//   ERROR_TIMEOUT under wine: both mean "nothing came";
// - writes are overlapped and waited for together with the cancel event, so an abort or a
//   close ends a write the driver never completes.
// WaitCommEvent is not used: under wine an overlapped wait ends at once unless a byte is
// already queued, and the one-byte read above gives the same notice on both.

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;

HANDLE AsHandle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value); // NOLINT(performance-no-int-to-ptr)
}

std::intptr_t AsValue(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

// A wait on a pulled adapter fails in several ways, depending on the driver: the device is
// gone (USB serial drivers), the pipe is broken (wine's pseudo-terminal), the device is not
// ready, or the driver reports a general or bad-command failure.
bool IsHangUp(DWORD error) {
    switch (error) {
    case ERROR_BROKEN_PIPE:
    case ERROR_NOT_READY:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_ACCESS_DENIED: // a handle whose device has been removed
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_NOT_FOUND:
        return true;
    default:
        return false;
    }
}

// The errno value of the same meaning, so the link layer maps both systems alike.
int ErrnoFromWindows(DWORD error) {
    switch (error) {
    case ERROR_SUCCESS:
        return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        // A COM port is opened exclusively: a refusal means another program has it.
        return EBUSY;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_INVALID_PARAMETER:
        return EINVAL;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        return ENOTTY;
    case ERROR_TIMEOUT:
    case WAIT_TIMEOUT:
        return ETIMEDOUT;
    case ERROR_OPERATION_ABORTED:
        return ECANCELED;
    default:
        return IsHangUp(error) ? EIO : EPROTO;
    }
}

int Milliseconds(int timeoutMs, Clock::time_point deadline) {
    if (timeoutMs < 0) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

DWORD WaitMs(int timeoutMs) {
    return timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
}

// An OVERLAPPED record with its own manual-reset event.
struct Overlapped {
    OVERLAPPED record{};
    Overlapped() { record.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() {
        if (record.hEvent != nullptr) {
            ::CloseHandle(record.hEvent);
        }
    }
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;
    void Reset() {
        HANDLE event = record.hEvent;
        record = OVERLAPPED{};
        record.hEvent = event;
        ::ResetEvent(event);
    }
};

// The largest piece one overlapped write takes; a longer write is a sequence of them, so the
// copy it needs stays small.
constexpr std::size_t kWriteChunk = 64 * 1024;

// A read of bytes the driver already holds completes at once; this bounds it all the same,
// so a driver that misbehaves cannot hold the event thread.
constexpr DWORD kQueuedReadBoundMs = 1000;

} // namespace

// The overlapped records and the byte a wait has taken out of the driver's queue.
// Reading side (read, peek, timeouts): the event thread. Writing side: the owner.
struct SerialDevice::Native {
    Overlapped read;
    Overlapped write;
    bool peeked = false;
    std::uint8_t peekByte = 0;
    // The read time-outs last set, so unchanged ones are not set again for every read.
    COMMTIMEOUTS timeouts{};
    bool haveTimeouts = false;
    // Line errors that ClearCommError handed to a queue query (which clears them in the
    // driver) and that the next look at the counters has to report.
    std::atomic<std::uint32_t> clearedErrors{0};
    std::vector<std::uint8_t> writeCopy;
    bool writePending = false;
    std::size_t writeLength = 0;
};

SerialDevice::SerialDevice()
    : wakeFd_(AsValue(::CreateEventW(nullptr, FALSE, FALSE, nullptr))),
      cancelFd_(AsValue(::CreateEventW(nullptr, TRUE, FALSE, nullptr))),
      native_(std::make_unique<Native>()) {
    if (wakeFd_ == 0) {
        wakeFd_ = -1;
    }
    if (cancelFd_ == 0) {
        cancelFd_ = -1;
    }
}

SerialDevice::~SerialDevice() {
    Close();
    if (wakeFd_ != -1) {
        ::CloseHandle(AsHandle(wakeFd_));
    }
    if (cancelFd_ != -1) {
        ::CloseHandle(AsHandle(cancelFd_));
    }
}

int SerialDevice::Open(const std::string& path) {
    if (IsOpen()) {
        return EBUSY;
    }
    if (wakeFd_ == -1 || cancelFd_ == -1 || native_->read.record.hEvent == nullptr ||
        native_->write.record.hEvent == nullptr) {
        return EMFILE;
    }
    if (path.empty() || path.find('\0') != std::string::npos) {
        return ENOENT;
    }
    // Exclusive by nature: a COM port admits one handle, a second open fails with access
    // denied.
    HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return ErrnoFromWindows(::GetLastError());
    }
    const auto fail = [handle](DWORD error) {
        ::CloseHandle(handle);
        return ErrnoFromWindows(error);
    };
    if (::GetFileType(handle) != FILE_TYPE_CHAR) {
        return fail(ERROR_INVALID_FUNCTION);
    }
    ::DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::GetCommState(handle, &dcb) == 0) {
        // Not a communications device (a printer port, a console).
        return fail(ERROR_INVALID_FUNCTION);
    }
    // Raw 8-bit bytes, no flow control, no character replacement, the speed kept.
    dcb.fBinary = TRUE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (::SetCommState(handle, &dcb) == 0) {
        return fail(::GetLastError());
    }
    // Queue sizes are a recommendation the driver may ignore; a refusal is not an error.
    ::SetupComm(handle, 16 * 1024, 16 * 1024);
    ::PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    DWORD errors = 0;
    ::ClearCommError(handle, &errors, nullptr);

    ::ResetEvent(AsHandle(wakeFd_));
    hungUp_.store(false);
    hangUpReported_.store(false);
    reportedGeneration_ = queueGeneration_.load();
    reportedQueue_ = 0;
    native_->peeked = false;
    native_->haveTimeouts = false;
    native_->writePending = false;
    {
        std::lock_guard lock(stateMutex_);
        shadow_ = DCB{};
        shadow_.BaudRate = dcb.BaudRate;
        pendingErrors_ = 0;
        pendingBreaks_ = 0;
        haveCounters_ = true; // ClearCommError reports line errors on every port
    }
    fd_.store(AsValue(handle), std::memory_order_release);
    return 0;
}

void SerialDevice::Close() {
    if (!IsOpen()) {
        return;
    }
    // A write held up by the driver is cut short and waited out, so the handle is never
    // closed under it.
    HANDLE handle = AsHandle(TakeHandleForClose());
    if (handle == INVALID_HANDLE_VALUE) {
        return;
    }
    // Nothing may still refer to the overlapped records once the handle is gone.
    ::CancelIoEx(handle, nullptr);
    if (native_->writePending) {
        DWORD done = 0;
        ::GetOverlappedResult(handle, &native_->write.record, &done, TRUE);
        native_->writePending = false;
    }
    ::CloseHandle(handle);
    native_->peeked = false;
    hungUp_.store(false);
}

int SerialDevice::GetState(DCB& dcb) const {
    ::DCB system{};
    system.DCBlength = sizeof system;
    if (::GetCommState(AsHandle(fd_.load()), &system) == 0) {
        return ErrnoFromWindows(::GetLastError());
    }
    // The fields as last set, the speed as the driver holds it (it may have rounded it).
    std::lock_guard lock(stateMutex_);
    dcb = shadow_;
    dcb.BaudRate = system.BaudRate;
    return 0;
}

int SerialDevice::SetState(const DCB& dcb) {
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > kParitySpace ||
        dcb.StopBits > kStopBitsTwo || dcb.BaudRate == 0) {
        return EINVAL;
    }
    HANDLE handle = AsHandle(fd_.load());
    ::DCB system{};
    system.DCBlength = sizeof system;
    if (::GetCommState(handle, &system) == 0) {
        return ErrnoFromWindows(::GetLastError());
    }
    // The values of our line settings are the system's own, so they pass unchanged.
    system.BaudRate = dcb.BaudRate;
    system.ByteSize = dcb.ByteSize;
    system.Parity = dcb.Parity;
    system.StopBits = dcb.StopBits;
    system.fParity = dcb.fParity ? TRUE : FALSE;
    system.fOutxCtsFlow = dcb.fOutxCtsFlow ? TRUE : FALSE;
    system.fOutxDsrFlow = dcb.fOutxDsrFlow ? TRUE : FALSE;
    system.fDtrControl = dcb.fDtrControl;
    system.fRtsControl = dcb.fRtsControl;
    system.fOutX = dcb.fOutX ? TRUE : FALSE;
    system.fInX = dcb.fInX ? TRUE : FALSE;
    system.EvtChar = dcb.EvtChar;
    system.fBinary = TRUE;
    if (::SetCommState(handle, &system) == 0) {
        return ErrnoFromWindows(::GetLastError());
    }
    std::lock_guard lock(stateMutex_);
    shadow_ = dcb;
    return 0;
}

int SerialDevice::BytesWaiting(std::uint32_t& count) const {
    count = 0;
    ::COMSTAT status{};
    DWORD errors = 0;
    if (::ClearCommError(AsHandle(fd_.load()), &errors, &status) == 0) {
        return ErrnoFromWindows(::GetLastError());
    }
    native_->clearedErrors.fetch_or(errors, std::memory_order_acq_rel);
    count = status.cbInQue + (native_->peeked ? 1U : 0U);
    return 0;
}

int SerialDevice::BytesUnsent(std::uint32_t& count) const {
    count = 0;
    ::COMSTAT status{};
    DWORD errors = 0;
    if (::ClearCommError(AsHandle(fd_.load()), &errors, &status) == 0) {
        return ErrnoFromWindows(::GetLastError());
    }
    native_->clearedErrors.fetch_or(errors, std::memory_order_acq_rel);
    count = status.cbOutQue;
    return 0;
}

int SerialDevice::Purge(bool receive, bool transmit) {
    if (!receive && !transmit) {
        return 0;
    }
    DWORD flags = 0;
    if (receive) {
        flags |= PURGE_RXCLEAR;
    }
    if (transmit) {
        flags |= PURGE_TXCLEAR;
    }
    const int result =
        ::PurgeComm(AsHandle(fd_.load()), flags) != 0 ? 0 : ErrnoFromWindows(::GetLastError());
    if (receive) {
        native_->peeked = false;
        queueGeneration_.fetch_add(1, std::memory_order_acq_rel);
    }
    return result;
}

int SerialDevice::SetBreak(bool on) {
    HANDLE handle = AsHandle(fd_.load());
    const BOOL done = on ? ::SetCommBreak(handle) : ::ClearCommBreak(handle);
    return done != 0 ? 0 : ErrnoFromWindows(::GetLastError());
}

int SerialDevice::ModemStatus(std::uint32_t& bits) const {
    bits = 0;
    DWORD lines = 0;
    if (::GetCommModemStatus(AsHandle(fd_.load()), &lines) == 0) {
        const DWORD error = ::GetLastError();
        // A port without modem lines (a virtual one) is not an error.
        return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION
                   ? 0
                   : ErrnoFromWindows(error);
    }
    // The bit values are the system's own.
    bits = lines & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
    return 0;
}

std::uint32_t SerialDevice::PollCounters() {
    // Caller holds stateMutex_. ClearCommError reports the errors since its previous call,
    // which is exactly the delta the counters give elsewhere; queue queries in between have
    // handed theirs over.
    DWORD errors = 0;
    ::ClearCommError(AsHandle(fd_.load()), &errors, nullptr);
    errors |= native_->clearedErrors.exchange(0, std::memory_order_acq_rel);
    const std::uint32_t bits =
        errors & (CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK | CE_TXFULL);
    if ((bits & CE_BREAK) != 0) {
        ++pendingBreaks_;
    }
    pendingErrors_ |= bits;
    return bits;
}

int SerialDevice::Read(void* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    if (HungUp()) {
        return EIO;
    }
    if (size == 0) {
        return 0;
    }
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    Native& native = *native_;
    if (native.peeked) {
        bytes[0] = native.peekByte;
        native.peeked = false;
        got = 1;
        ++bytes;
        --size;
    }
    HANDLE handle = AsHandle(fd_.load());
    ::COMSTAT status{};
    DWORD errors = 0;
    if (::ClearCommError(handle, &errors, &status) == 0) {
        const DWORD error = ::GetLastError();
        if (got > 0) {
            queueGeneration_.fetch_add(1, std::memory_order_acq_rel);
            return 0;
        }
        if (IsHangUp(error)) {
            NoteHangUp();
        }
        return ErrnoFromWindows(error);
    }
    native.clearedErrors.fetch_or(errors, std::memory_order_acq_rel);
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, status.cbInQue));
    if (wanted > 0) {
        // Exactly what the driver holds: with these time-outs the read returns at once.
        COMMTIMEOUTS immediate{MAXDWORD, 0, 0, 0, 0};
        if (!native.haveTimeouts || native.timeouts.ReadIntervalTimeout != MAXDWORD ||
            native.timeouts.ReadTotalTimeoutConstant != 0 ||
            native.timeouts.ReadTotalTimeoutMultiplier != 0) {
            ::SetCommTimeouts(handle, &immediate);
            native.timeouts = immediate;
            native.haveTimeouts = true;
        }
        native.read.Reset();
        DWORD done = 0;
        BOOL ok = ::ReadFile(handle, bytes, wanted, &done, &native.read.record);
        DWORD error = ok != 0 ? ERROR_SUCCESS : ::GetLastError();
        if (ok == 0 && error == ERROR_IO_PENDING) {
            if (::WaitForSingleObject(native.read.record.hEvent, kQueuedReadBoundMs) !=
                WAIT_OBJECT_0) {
                ::CancelIoEx(handle, &native.read.record);
            }
            ok = ::GetOverlappedResult(handle, &native.read.record, &done, TRUE);
            error = ok != 0 ? ERROR_SUCCESS : ::GetLastError();
        }
        got += done;
        if (ok == 0 && error != ERROR_OPERATION_ABORTED && error != ERROR_TIMEOUT && got == 0) {
            if (IsHangUp(error)) {
                NoteHangUp();
            }
            return ErrnoFromWindows(error);
        }
    }
    if (got > 0) {
        queueGeneration_.fetch_add(1, std::memory_order_acq_rel);
    }
    return 0;
}

void SerialDevice::UpdateWriteCancel() {
    // Caller holds writeMutex_. The event stays set while writes are cut short, so no waiter
    // can miss it.
    if (cancelFd_ == -1) {
        return;
    }
    if (writesInterrupted_ || closing_) {
        ::SetEvent(AsHandle(cancelFd_));
    } else {
        ::ResetEvent(AsHandle(cancelFd_));
    }
}

int SerialDevice::Write(const void* data, std::size_t size, std::size_t& put) {
    put = 0;
    if (HungUp()) {
        return EIO;
    }
    if (size == 0) {
        return 0;
    }
    const WriteScope scope(*this);
    if (!scope.Entered()) {
        return ECANCELED;
    }
    if (!IsOpen()) {
        return EBADF;
    }
    HANDLE handle = AsHandle(fd_.load());
    Native& native = *native_;
    if (native.writePending) {
        // The caller comes back with the same bytes after WaitWritable: report what the
        // pending write has taken once it is complete.
        DWORD done = 0;
        if (::GetOverlappedResult(handle, &native.write.record, &done, FALSE) == 0) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_IO_INCOMPLETE) {
                return 0;
            }
            native.writePending = false;
            if (IsHangUp(error)) {
                NoteHangUp();
            }
            return ErrnoFromWindows(error);
        }
        native.writePending = false;
        put = std::min<std::size_t>(done, size);
        return 0;
    }
    // The driver reads the bytes while the write is pending, after this call has returned:
    // it writes from a copy of its own.
    const std::size_t length = std::min(size, kWriteChunk);
    const auto* first = static_cast<const std::uint8_t*>(data);
    native.writeCopy.assign(first, first + length);
    native.write.Reset();
    DWORD done = 0;
    if (::WriteFile(handle, native.writeCopy.data(), static_cast<DWORD>(length), &done,
                    &native.write.record) != 0) {
        put = done;
        return 0;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
        native.writePending = true;
        native.writeLength = length;
        return 0;
    }
    if (IsHangUp(error)) {
        NoteHangUp();
    }
    return ErrnoFromWindows(error);
}

int SerialDevice::WaitReadable(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (HungUp()) {
            return EIO;
        }
        std::uint32_t waiting = 0;
        if (const int error = BytesWaiting(waiting); error != 0) {
            if (error == EIO) {
                NoteHangUp();
            }
            return error;
        }
        if (waiting > 0) {
            return 0;
        }
        std::uint32_t events = 0;
        const int result = WaitEvent(EV_RXCHAR | EV_ERR, Milliseconds(timeoutMs, deadline), events,
                                     WakeSequence());
        if (result != 0) {
            return result;
        }
        // Input, a hang-up, or a wake-up meant for another waiter: look again.
    }
}

int SerialDevice::WaitWritable(int timeoutMs) {
    if (HungUp()) {
        return EIO;
    }
    const WriteScope scope(*this);
    if (!scope.Entered()) {
        return ECANCELED;
    }
    if (!IsOpen()) {
        return EBADF;
    }
    Native& native = *native_;
    if (!native.writePending) {
        return 0;
    }
    HANDLE handle = AsHandle(fd_.load());
    HANDLE waits[2] = {native.write.record.hEvent, AsHandle(cancelFd_)};
    const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, WaitMs(timeoutMs));
    if (woke == WAIT_OBJECT_0) {
        return 0;
    }
    // Cut short or out of time: the write is taken back before the caller gives up on it.
    ::CancelIoEx(handle, &native.write.record);
    DWORD done = 0;
    ::GetOverlappedResult(handle, &native.write.record, &done, TRUE);
    native.writePending = false;
    if (woke == WAIT_OBJECT_0 + 1) {
        return ECANCELED;
    }
    return woke == WAIT_TIMEOUT ? ETIMEDOUT : ErrnoFromWindows(::GetLastError());
}

void SerialDevice::Wake() {
    wakeSequence_.fetch_add(1, std::memory_order_seq_cst);
    if (wakeFd_ != -1) {
        ::SetEvent(AsHandle(wakeFd_));
    }
}

int SerialDevice::WaitEvent(std::uint32_t mask, int timeoutMs, std::uint32_t& events,
                            std::uint64_t wakeSequence) {
    events = 0;
    if (!IsOpen()) {
        return EBADF;
    }
    HANDLE handle = AsHandle(fd_.load());
    Native& native = *native_;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    const bool watchInput = (mask & (EV_RXCHAR | EV_RXFLAG | EV_BREAK | EV_ERR)) != 0;
    for (;;) {
        if (wakeSequence_.load(std::memory_order_seq_cst) != wakeSequence) {
            return 0;
        }
        if (HungUp()) {
            if ((mask & EV_ERR) != 0 && !hangUpReported_.exchange(true)) {
                events = EV_ERR;
                return 0;
            }
            // Nothing more will come from the port: sleep until woken.
            const DWORD woke =
                ::WaitForSingleObject(AsHandle(wakeFd_), WaitMs(Milliseconds(timeoutMs, deadline)));
            if (woke == WAIT_TIMEOUT) {
                return ETIMEDOUT;
            }
            continue;
        }

        bool staleInput = false;
        int queueError = 0;
        const std::uint32_t found = PendingEvents(mask, staleInput, queueError);
        if (queueError == EIO) {
            NoteHangUp();
            continue;
        }
        if (found != 0) {
            events = found;
            return 0;
        }

        int waitMs = Milliseconds(timeoutMs, deadline);
        if (timeoutMs >= 0 && waitMs == 0) {
            return ETIMEDOUT;
        }
        if (staleInput || !watchInput || native.peeked) {
            // Bytes already reported and untouched keep the queue non-empty, so a read
            // would not wait for more: look again at intervals, as the other systems do.
            constexpr int kStaleDataRecheckMs = 5;
            const int slice =
                waitMs < 0 ? kStaleDataRecheckMs : std::min(waitMs, kStaleDataRecheckMs);
            if (!watchInput) {
                waitMs = waitMs < 0 ? -1 : waitMs;
            } else {
                waitMs = slice;
            }
            ::WaitForSingleObject(AsHandle(wakeFd_), WaitMs(waitMs));
            continue;
        }

        // Nothing is queued: one byte read with the time left as its total time-out, kept
        // aside for the next Read. The wake event ends it early.
        COMMTIMEOUTS waitFor{0, 0, waitMs < 0 ? 0U : static_cast<DWORD>(waitMs), 0, 0};
        if (!native.haveTimeouts || native.timeouts.ReadIntervalTimeout != 0 ||
            native.timeouts.ReadTotalTimeoutConstant != waitFor.ReadTotalTimeoutConstant ||
            native.timeouts.ReadTotalTimeoutMultiplier != 0) {
            ::SetCommTimeouts(handle, &waitFor);
            native.timeouts = waitFor;
            native.haveTimeouts = true;
        }
        native.read.Reset();
        DWORD done = 0;
        BOOL ok = ::ReadFile(handle, &native.peekByte, 1, &done, &native.read.record);
        DWORD error = ok != 0 ? ERROR_SUCCESS : ::GetLastError();
        if (ok == 0 && error == ERROR_IO_PENDING) {
            HANDLE waits[2] = {native.read.record.hEvent, AsHandle(wakeFd_)};
            const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            if (woke != WAIT_OBJECT_0) {
                ::CancelIoEx(handle, &native.read.record);
            }
            ok = ::GetOverlappedResult(handle, &native.read.record, &done, TRUE);
            error = ok != 0 ? ERROR_SUCCESS : ::GetLastError();
        }
        if (done == 1) {
            native.peeked = true;
            continue; // reported as received bytes by the next look
        }
        if (ok == 0 && error != ERROR_OPERATION_ABORTED && error != ERROR_TIMEOUT) {
            if (IsHangUp(error)) {
                NoteHangUp();
                continue;
            }
            return ErrnoFromWindows(error);
        }
        // A time-out (0 bytes, or ERROR_TIMEOUT under wine) or a wake-up: look again.
    }
}

} // namespace quillon
