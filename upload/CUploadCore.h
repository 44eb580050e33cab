#pragma once

#include "link/CFWUplSerialEx.h"
#include "package/CEncImageFile.h"
#include "package/VersionDescriptor.h"
#include "platform/Event.h"
#include "platform/StatusCodes.h"
#include "upload/IMessageSink.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace quillon {

// The device-facing half of the upload controller: it owns, for the whole run, the link,
// both packages, what was learnt about the device, the activation blocks, the stop
// request, the abort event, the worker threads and the log path, and it carries out every
// conversation with the bootloader. The wizard's master dialog, the command-line front
// end, the benchmarks and the tests all drive this one object.
//
// Threads: the owner's thread (the UI thread in the wizard) constructs and destroys the
// core, loads the packages, starts and stops the workers and reads or writes the device
// data between conversations. Exactly one thread talks to the device at a time: the
// activation worker, the identification worker (or the owner's thread when it identifies
// the device itself), or the upload worker. The stop request, the abort event and the
// identification stop are the only values written across threads while a worker runs;
// everything a worker reports goes through an IMessageSink. The identification worker
// writes the device data; the owner reads them once the worker has been joined.
class CUploadCore {
public:
    using Block = std::array<std::uint8_t, 32>;
    using Lines = std::vector<std::string>;

    CUploadCore();
    // Talks to the device through this link instead of a serial port of its own (an
    // in-memory device in tests and fuzzing).
    explicit CUploadCore(std::unique_ptr<CFWUplSerialEx> link);
    virtual ~CUploadCore();
    CUploadCore(const CUploadCore&) = delete;
    CUploadCore& operator=(const CUploadCore&) = delete;

    // Attaches and indexes both packages (no copy: the bytes must outlive the core), reads
    // the firmware image's description and target board types. A package whose records
    // cannot be read raises CInvalidFileError.
    void LoadPackages(std::span<const std::uint8_t> utility,
                      std::span<const std::uint8_t> firmware);
    // Product and version of the package firmware as the window title shows them.
    std::string TitleSuffix() const;

    void ReadImageDescription(VersionDescriptor& out);
    void CollectImageTargetTypes(Lines& list);
    // True when no activation block was found.
    bool CollectActivationBlocks();
    std::string GetMinimumBootloaderVersion();

    // Opens the port as the port selection does: 19200 baud, 8 data bits, no parity, one
    // stop bit, no handshake, receive/break/error events, with the event thread running.
    // An open port is only configured again, unless it has hung up: then it is opened
    // afresh. The link's status code on failure.
    Status OpenPort(const std::string& name);
    void ClosePort();
    // The open port has hung up: every conversation on it fails at once from then on.
    bool LineLost() const { return link_.IsHungUp(); }

    // Bootloader commands.
    Status ExchangeRecord(int index, Lines& lines, std::int32_t& redirect,
                          CEncImageFile* package = nullptr);
    Status ActivateBootloader(int attempts, IMessageSink* notify, bool keepAlive);
    Status QueryDeviceInfo(Lines& bootloaderLines, Lines& firmwareLines);
    Status SwitchBaudRate(std::uint32_t baud, IMessageSink* notify);
    Status LaunchFirmware();
    void StopActivation();

    // Finds the module by name; with execute, sends its data records.
    Status RunModule(bool execute, const std::string& name, Lines& lines, IMessageSink* progress);

    // Reads the device information and the board type ID once the bootloader has
    // answered, and derives the module names from it.
    void IdentifyDevice();
    // Forgets everything known about the device (entering detection again).
    void ResetDeviceData();

    // The activation loop on a worker thread (detection and keep-alive); a loop ended by
    // a hang-up posts kMsgLineLost.
    void StartActivationWorker(IMessageSink* notify, bool keepAlive);
    // Sets the stop request and waits for the worker in 100 ms polls, at most maxPolls of
    // them. True when the worker has ended (or none ran).
    bool StopActivationWorker(int maxPolls);
    bool IsActivationWorkerRunning() const;

    // IdentifyDevice on a worker thread, so that a silent or babbling device never holds
    // the owner's thread. Posts kMsgDeviceIdentified (tag, 0) when done, unless stopped.
    // The device data belong to the worker until it has been joined.
    void StartIdentificationWorker(IMessageSink* notify, std::intptr_t tag);
    // Cuts the identification short (the link's waits are interrupted) and waits for the
    // worker like StopActivationWorker; once it has ended, the link waits again as usual.
    // True when the worker has ended (or none ran); false leaves it to end on its own,
    // joined before the next conversation starts or by the destructor.
    bool StopIdentificationWorker(int maxPolls);
    bool IsIdentificationWorkerRunning() const;

    // The firmware transfer on the upload thread.
    Status StartUpload(IMessageSink* sink);
    bool IsUploadRunning() const;
    Status AbortUpload();
    Status RunUpload(IMessageSink* sink);

    void SetLogPath(const std::string& path);
    const std::string& LogPath() const { return logPath_; }
    void SetSlowMode(bool slow) { slowMode_ = slow; }
    bool SlowMode() const { return slowMode_; }
    // What went on the line since ResetDeviceData: record sends of modules, the image and
    // the commands (resends included), their payload bytes, and the resends. Written by
    // whichever thread talks to the device, read from any thread.
    struct TransferCounters {
        std::atomic<std::uint64_t> recordsSent{0};
        std::atomic<std::uint64_t> bytesSent{0};
        std::atomic<std::uint64_t> retries{0};
    };
    const TransferCounters& Counters() const { return counters_; }
    // Makes activation choose its blocks from a fixed seed instead of the clock.
    void SetActivationSeed(std::optional<std::uint32_t> seed) { activationSeed_ = seed; }

    CFWUplSerialEx& Link() { return link_; }
    CEncImageFile& UtilityPackage() { return utility_; }
    CEncImageFile& FirmwareImage() { return firmware_; }

    // What the run has learnt; read and written by the owner's thread between worker runs.
    std::string selectedPort;
    VersionDescriptor minimumBootloader;
    VersionDescriptor deviceBootloader;
    VersionDescriptor deviceFirmware;
    std::string boardTypeId;
    std::string flashModuleName;
    std::string crcModuleName;
    Lines targetTypes;
    std::string targetBoardText;
    VersionDescriptor packageFirmware;
    std::vector<Block> activationBlocks;

protected:
    // Sleeps that a shutdown cuts short.
    void Pause(std::uint32_t milliseconds);

private:
    // ExchangeRecord that makes at most sendsLeft sends (of its eight) and counts them off:
    // a module transfer shares one budget among all its records. Out of sends, it returns
    // the failure so far.
    Status ExchangeRecord(int index, Lines& lines, std::int32_t& redirect, CEncImageFile* package,
                          int& sendsLeft);
    // The activation loop without clearing the stop request first.
    Status ActivationLoop(int attempts, IMessageSink* notify, bool keepAlive);
    Status ReadWord(std::uint16_t& word, std::uint32_t timeoutMs);
    Status ReadTextLines(Lines* lines, std::uint32_t timeoutMs);
    int FindRecordWithParameter(std::uint16_t type, std::optional<std::uint32_t> parameter);
    void JoinUploadThread();
    // Joins an identification worker that a bounded stop gave up on, and lifts the
    // interrupt that was meant for it.
    void JoinIdentificationThread();
    bool ShuttingDown() const { return shutdown_.load(); }

    std::unique_ptr<CFWUplSerialEx> ownedLink_;
    CFWUplSerialEx& link_;
    CEncImageFile utility_;
    CEncImageFile firmware_;
    bool slowMode_ = false;
    std::string logPath_;
    std::optional<std::uint32_t> activationSeed_;

    std::atomic<std::int32_t> stopRequest_{0};
    Event abortEvent_{Event::Mode::AutoReset};
    std::atomic<bool> shutdown_{false};

    std::jthread activationThread_;
    std::atomic<bool> activationRunning_{false};
    std::mutex activationEndMutex_;
    std::condition_variable activationEnded_;
    std::jthread identificationThread_;
    std::atomic<bool> identificationRunning_{false};
    std::atomic<bool> identificationStop_{false};
    std::mutex identificationEndMutex_;
    std::condition_variable identificationEnded_;
    std::jthread uploadThread_;
    std::atomic<bool> uploadRunning_{false};
    // Whether RunUpload is between its start and its last message, so that an abort
    // interrupts the link's waits only while the run that it means is still under way.
    std::mutex runMutex_;
    bool runActive_ = false;
    TransferCounters counters_;
};

} // namespace quillon
