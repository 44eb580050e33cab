#pragma once

#include "platform/ConsoleSignals.h"
#include "upload/CMessageQueue.h"
#include "upload/CUploadCore.h"
#include "upload/CompatibilityDecision.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quillon {

class IInterruptSource;

// The options that detect and upload share.
struct DeviceOptions {
    std::string port; // the saved setting unless --port was given
    bool portGiven = false;
    std::vector<std::string> ports;                // every --port, in order
    std::vector<std::string> portGlobs;            // every --ports
    std::optional<std::chrono::milliseconds> wait; // none: wait for the device for ever
    std::string utilityFile;                       // empty: the embedded utility package
    std::string firmwareFile;                      // empty: the embedded firmware image
};

// What detect and upload have in common, in the order the wizard's pages do it: load the
// packages, open and configure the port as the port page does, wait for the powered-up
// bootloader as the detection page does, identify the device, and show the device
// information page's fields and decision.
//
// Every step prints its own complaint and returns an exit status (kExitSuccess to go on),
// so a command only chains the steps. Interrupts (CInterruptWatch) end a waiting step with
// kExitAborted.
//
// Threads: everything runs on the command's thread; the core's workers post into Queue().
// The identification runs on a helper thread only so that an interrupt can cut it short;
// the command's thread waits for it, so one thread at a time talks to the device.
class CDeviceSession {
public:
    enum class WaitResult { Message, Interrupted, TimedOut };

    // `prefix` starts every complaint ("quillon-cli upload").
    CDeviceSession(std::string prefix, std::ostream& out, std::ostream& err,
                   IInterruptSource& interrupts);
    ~CDeviceSession();
    CDeviceSession(const CDeviceSession&) = delete;
    CDeviceSession& operator=(const CDeviceSession&) = delete;

    // Reads the option at args[i] if it is one of the shared ones, advancing i past its
    // value. False when it is not; on a mistake, true with `error` set.
    static bool ParseOption(const std::vector<std::string>& args, std::size_t& i,
                            DeviceOptions& options, std::string& error);
    // The help lines of the shared options.
    static std::string OptionsHelp();
    // "--name VALUE" or "--name=VALUE" at args[i]: true with the value (i advanced), or
    // true with `error` set when the value is missing; false for another argument.
    static bool TakeValue(const std::vector<std::string>& args, std::size_t& i,
                          const std::string& name, std::string& value, std::string& error);

    // Loads the packages (files or embedded) into the core and checks every record header,
    // so that no damaged header can surface later on a worker thread.
    int LoadPackages(const DeviceOptions& options);
    int OpenPort(const std::string& port);
    // Asks for power, collects the activation blocks and waits (up to `wait`) for the
    // bootloader's answer on the activation worker.
    int Detect(std::optional<std::chrono::milliseconds> wait);
    // Reads the device information and board type ID.
    int Identify();
    // Decides and prints the six fields and the outcome.
    CompatibilityResult AssessAndShow();

    // Stops the activation worker (detection or keep-alive), waiting at most about
    // maxPolls x 100 ms. True when it has ended.
    bool StopActivationWorker(int maxPolls);

    // The next message of the workers, an interrupt, or the deadline (none: no deadline).
    WaitResult WaitForMessage(CMessageQueue::Message& message, ConsoleSignal& signal,
                              std::optional<std::chrono::steady_clock::time_point> deadline);

    CUploadCore& Core() { return core_; }
    CMessageQueue& Queue() { return queue_; }
    IInterruptSource& Interrupts() { return interrupts_; }
    std::ostream& Out() { return out_; }
    std::ostream& Err() { return err_; }
    // Prints "prefix: message" on the error stream and returns status.
    int Fail(int status, const std::string& message);

    static constexpr const char* kPortNotOpened = "Selected COM port could not be opened.";
    static constexpr const char* kAccepted = "The device can be updated with this firmware.";

private:
    int InvalidFile(const std::string& fileName);
    // Reports a port that hung up before anything was written to the device.
    int PortLost(const std::string& when);
    void PrintField(const char* label, const std::string& value);

    std::string prefix_;
    std::ostream& out_;
    std::ostream& err_;
    IInterruptSource& interrupts_;
    // The package bytes outlive the core that reads them in place, and the queue outlives
    // the workers that post into it (the core joins them when it goes).
    std::vector<std::uint8_t> utilityBytes_;
    std::vector<std::uint8_t> firmwareBytes_;
    CMessageQueue queue_;
    CUploadCore core_;
};

} // namespace quillon
