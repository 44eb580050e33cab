#pragma once

#include "platform/PseudoTerminal.h"
#include "platform/StatusCodes.h"
#include "tools/devsim/CDevSimPackageIndex.h"
#include "tools/devsim/DevSimScenario.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quillon {

// One record the device recognised on the line.
struct DevSimReceivedRecord {
    DevSimRecordRef record;
    std::uint16_t type = 0;
    std::uint32_t parameter = 0;
    std::uint32_t baud = 0; // the device's line rate when it arrived
    // Arrived while the device could not take it (still powering up, the bootloader not
    // activated, the firmware running, or the device fallen silent). A device that is
    // switched off receives nothing at all.
    bool ignored = false;
    std::chrono::steady_clock::time_point at;
};

// A fault the device applied, in the order applied.
struct DevSimFaultEvent {
    enum class Kind : std::uint8_t {
        Refused,
        Redirected,
        Silenced,
        HungUp,
        Dropped,   // an answer was not sent
        Corrupted, // an answer was sent with one byte altered
        Garbage,   // random bytes went out in front of an answer
        Babbled,   // an answer turned into endless text lines
        StoppedReading,
        WordCorrupted,    // a reply word went out altered (DevSimFault::CorruptWord)
        Echoed,           // a record's bytes went back in front of its answer
        BaudChangeIgnored // a speed change was acknowledged but not followed
    };
    Kind kind = Kind::Refused;
    DevSimRecordRef record; // the record being answered
    std::size_t answer = 0; // for Dropped, Corrupted, Garbage: the answer's number
    friend bool operator==(const DevSimFaultEvent&, const DevSimFaultEvent&) = default;
};

// Everything the simulator has observed and decided so far.
struct DevSimState {
    bool running = false; // the device thread runs (Start .. Stop or hang-up)
    bool poweredOn = false;
    bool poweredUp = false;        // on, and the power-up delay has passed
    bool bootloaderActive = false; // an activation block was answered
    bool launched = false;         // the launch request was accepted
    bool startupPrinted = false;   // the start-up text went out completely
    bool hungUp = false;
    bool deadSilent = false;     // a Silent fault without limit struck
    bool babbling = false;       // endless text lines are going out now
    bool readingStopped = false; // a StopReading fault struck: the line is not read

    std::uint32_t baud = 0;                 // the device's current line rate
    std::vector<std::uint32_t> baudChanges; // rates switched to, in order

    // Every recognised record in arrival order; descriptors never arrive.
    std::vector<DevSimReceivedRecord> records;
    std::size_t activationsAnswered = 0;
    std::size_t answersSent = 0;       // every answer the device meant to send, dropped ones too
    std::size_t bytesSent = 0;         // every byte put on the line (answers, noise, babble)
    std::size_t babbleLines = 0;       // babble lines put on the line completely
    std::size_t unrecognisedBytes = 0; // discarded while resynchronising on the payloads
    std::size_t wrongRateBytes = 0;    // arrived while the host's rate differed
    std::size_t powerCycles = 0;

    // Modules loaded completely since power-up, by name, in order.
    std::vector<std::string> loadedModules;
    bool flashModuleLoaded = false;
    // The flash: firmware image data records programmed since the flash module last
    // started programming (each distinct record counts once).
    std::size_t imageRecordsProgrammed = 0;
    std::size_t imageRecordCount = 0;
    bool imageOutOfOrder = false; // a record was programmed while an earlier one was missing
    bool holdsCompleteImage = false;
    std::vector<std::string> crcLines; // what the CRC check module answered, each run

    std::vector<DevSimFaultEvent> faultEvents;
};

// A stand-in for the device's bootloader and its modules at the far end of a
// pseudo-terminal. The program under test opens SlavePath() as its serial port; the
// simulator owns the master. It recognises each record it receives by its payload
// (both packages are indexed), answers as the bootloader does, follows the host's baud
// changes, models bytes sent at a mismatched rate as garbage, and keeps a record of all
// it saw, including whether its flash now holds the complete firmware image.
//
// Breaks do nothing on a pseudo-terminal, so they cannot be counted; the simulator
// resynchronises on payloads instead: unrecognisable bytes are dropped one by one until
// the head of what it received is (the start of) a known payload.
//
// Typical use in a test:
//     CDeviceSimulator device(scenario);
//     ASSERT_EQ(device.Start(), kOk);
//     ... open device.SlavePath(), run the upload ...
//     EXPECT_TRUE(device.WaitForStartupText(5s));
//     EXPECT_TRUE(device.HoldsCompleteImage());
//
// Threads: the device thread (a std::jthread started by Start) alone reads and writes the
// pseudo-terminal and owns the receive buffer, the module and flash progress and the
// random generators. Every observable value lives in a DevSimState under one mutex;
// Snapshot(), the Wait... functions and the other accessors may be called from any
// thread at any time. Start, Stop and the destructor belong to the owner's thread;
// PowerOff, PowerOn and PowerCycle may be called from any thread and are carried out by
// the device thread.
class CDeviceSimulator {
public:
    using Milliseconds = std::chrono::milliseconds;
    using TraceSink = std::function<void(std::string_view line)>;

    // The packages embedded in the program.
    explicit CDeviceSimulator(DevSimScenario scenario = {});
    // Other packages (copied; the spans need not outlive the constructor). An unreadable
    // record header raises CInvalidFileError.
    CDeviceSimulator(DevSimScenario scenario, std::span<const std::uint8_t> utility,
                     std::span<const std::uint8_t> image);
    ~CDeviceSimulator();
    CDeviceSimulator(const CDeviceSimulator&) = delete;
    CDeviceSimulator& operator=(const CDeviceSimulator&) = delete;

    // A line for every record, answer, fault and state change, from the device thread.
    // Set before Start.
    void SetTrace(TraceSink sink);

    // Creates the pseudo-terminal and starts the device thread; the device is powered on
    // (its power-up delay starts now) unless the scenario says otherwise. The recorded
    // state and the flash start afresh. kErrorAlreadyInitialized when running; otherwise
    // 0 or the status of the failed pseudo-terminal call.
    Status Start();
    // Ends the device thread and closes the pseudo-terminal (the slave side sees a
    // hang-up). The recorded state stays readable. Safe to call twice.
    void Stop();

    // /dev/pts/N of the running simulator; empty before Start.
    std::string SlavePath() const;
    // A symbolic link to the slave, removed by Stop. 0 or an errno value.
    int CreateLink(const std::string& path);

    // Power switch. Off: the device ignores everything. On: a fresh power-up (power-up
    // delay, initial line rate, bootloader inactive, no modules loaded); what the flash
    // holds survives, so a device whose image was programmed completely then reports the
    // image's version as its firmware. Each returns once the device thread has applied it
    // (or at once when the thread is not running).
    void PowerOff();
    void PowerOn();
    void PowerCycle();
    // Pulls the line now, as a HangUp fault does (a watchdog's last resort against a host
    // that no longer ends a conversation by itself). Returns once applied.
    void HangUp();

    DevSimState Snapshot() const;
    bool HoldsCompleteImage() const;
    std::vector<DevSimReceivedRecord> ReceivedRecords() const;
    std::uint32_t CurrentBaud() const;

    // Waits until the predicate holds on the state (evaluated under the lock, so it must
    // be quick and must not call back into the simulator). True when it held in time.
    bool WaitFor(const std::function<bool(const DevSimState&)>& predicate,
                 Milliseconds timeout) const;
    bool WaitForActivation(Milliseconds timeout) const;
    bool WaitForRecordCount(std::size_t count, Milliseconds timeout) const;
    bool WaitForStartupText(Milliseconds timeout) const;
    bool WaitForHangUp(Milliseconds timeout) const;

    const DevSimScenario& Scenario() const { return m_scenario; }
    const CDevSimPackageIndex& Packages() const { return *m_index; }

private:
    class Device;
    enum class Command : std::uint8_t { PowerOff, PowerOn, HangUp };

    void Run(const std::stop_token& stop);
    void PostCommand(Command command);

    const DevSimScenario m_scenario;
    const std::unique_ptr<const CDevSimPackageIndex> m_index;
    TraceSink m_trace;

    // Read and written by the device thread; opened and closed by the owner while that
    // thread does not run. Hanging up and linking happen under m_mutex.
    PseudoTerminal m_pty;
    std::string m_slavePath; // guarded by m_mutex
    int m_wakeFd = -1;       // eventfd: wakes the device thread for a command or a stop

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    DevSimState m_state;
    std::vector<Command> m_commands;   // posted, not yet applied (guarded by m_mutex)
    std::size_t m_commandsPosted = 0;  // guarded by m_mutex
    std::size_t m_commandsApplied = 0; // guarded by m_mutex

    std::chrono::steady_clock::time_point m_startedAt; // for the trace's time stamps
    std::jthread m_thread;
};

} // namespace quillon
