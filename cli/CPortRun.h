#pragma once

#include "cli/CDeviceSession.h"
#include "cli/CPortSignals.h"
#include "cli/CReceipt.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

namespace quillon {

class CJsonEvents;
class CMultiPortDisplay;
class CReceiptFile;
class CStationTally;

// How every port of a station works.
struct PortRunSettings {
    DeviceOptions device; // --wait, --utility, --firmware
    bool upload = true;   // false: detect only
    bool yes = false;
    bool slow = false;
    bool station = false;
    std::string host;
};

// What the ports of a station share; each member outlives the runs.
struct PortRunShared {
    CMultiPortDisplay& display;
    CStationTally& tally;
    CJsonEvents* json = nullptr;      // --json
    CReceiptFile* receipts = nullptr; // --report
};

// One port of a station: its own thread runs one device session after another (one, or
// until stopped in station mode): detection, identification, the compatibility decision
// and the upload on its own engine, then the receipt. Nothing it meets (a refusal, a
// failure, a hang-up, a port that cannot be opened) reaches the other ports.
//
// Threads: the port's thread (started by Start, joined by the destructor) owns the
// session and its engine. RequestStop, Uploading, Done and WorstStatus may be called from any
// thread; the stop request and the upload flag are kept under one lock so that a stop
// never meets an upload half-started.
class CPortRun {
public:
    // `logPath`: this port's session log, empty for none.
    CPortRun(std::string prefix, std::size_t index, std::string port, std::string logPath,
             const PortRunSettings& settings, PortRunShared shared);
    ~CPortRun();
    CPortRun(const CPortRun&) = delete;
    CPortRun& operator=(const CPortRun&) = delete;

    void Start();
    // No further device: waiting, detection and decision end now; with abortUpload an
    // upload under way is aborted, otherwise it runs to its end.
    void RequestStop(bool abortUpload);
    bool Uploading() const;
    bool Done() const { return done_.load(); }
    // The most serious exit status of the device runs; -1 when none was counted.
    int WorstStatus() const { return status_.load(); }
    const std::string& Port() const { return port_; }

private:
    void Main();
    int RunDevice(CDeviceSession& session, CReceipt& receipt);
    int Upload(CDeviceSession& session, const CompatibilityResult& decision);
    void Finish(CDeviceSession& session, CReceipt& receipt, int status);
    // Station mode: true once the device just served has gone (switched off, or running
    // its firmware), false when the port is to stop.
    bool WaitForDeviceToLeave(CDeviceSession& session);
    // Station mode, the port hung up: true once its name exists again, false when the port
    // is to stop.
    bool WaitForPortToReturn();
    void SetPhase(const std::string& phase);
    bool StopRequested() const;
    void Emit(const std::string& event, const QJsonObject& fields = {});

    const std::string prefix_;
    const std::size_t index_;
    const std::string port_;
    const std::string logPath_;
    const PortRunSettings& settings_;
    PortRunShared shared_;

    CPortSignals signals_;
    mutable std::mutex stateMutex_;
    bool stopRequested_ = false;
    std::condition_variable stopChanged_;
    bool uploading_ = false;
    CUploadCore* waitingCore_ = nullptr; // the engine of a leave-wait under way

    // The port's thread alone.
    std::string phase_;
    std::string failedPhase_;
    bool logOpened_ = false;
    std::chrono::steady_clock::time_point runStart_;

    std::atomic<int> status_{-1};
    std::atomic<bool> done_{false};
    std::jthread thread_;
};

} // namespace quillon
