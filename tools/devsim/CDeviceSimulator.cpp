#include "tools/devsim/CDeviceSimulator.h"

#include "package/RecordHeader.h"
#include "package/VersionDescriptor.h"
#include "platform/ErrnoStatus.h"
#include "resources/EmbeddedResources.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// Reading chunk from the master and writing chunk to it; the latter also sets how finely
// paced output is spread over its time on the line.
constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kPacingChunk = 16;
constexpr int kWriteSliceMs = 200;
// Babble put on the line per turn of the device thread when the line is not paced: large
// enough to keep a fast reader busy, small enough to keep the thread responsive.
constexpr std::size_t kBabbleBurst = 512;

Bytes Word(std::uint16_t word) {
    return {static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word & 0xFFu)};
}

// Text lines as the bootloader sends them: each ended by a zero byte, then one more zero
// byte. Without lines that is two zero bytes, as the first zero only ends an empty line.
// An open reply (a babbling one) gets the lines only: more follow and the end never comes.
void AppendLines(Bytes& out, const std::vector<std::string>& lines, bool close = true) {
    bool any = false;
    for (const std::string& line : lines) {
        if (line.empty()) {
            continue;
        }
        out.insert(out.end(), line.begin(), line.end());
        out.push_back(0);
        any = true;
    }
    if (!close) {
        return;
    }
    if (!any) {
        out.push_back(0);
    }
    out.push_back(0);
}

Clock::duration LineTime(std::size_t bytes, std::uint32_t baud) {
    if (baud == 0) {
        return Clock::duration::zero();
    }
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(static_cast<std::int64_t>(bytes) * 10 * 1'000'000'000 / baud));
}

std::string Hex(std::span<const std::uint8_t> bytes, std::size_t limit = 24) {
    std::string out;
    char digits[4];
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        if (!out.empty()) {
            out.push_back(' ');
        }
        out += digits;
    }
    if (bytes.size() > limit) {
        out += " ...";
    }
    return out;
}

std::string TypeText(std::uint16_t type) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", type);
    return text;
}

// splitmix64: small, fast and the same on every platform, so a seed means the same faults
// everywhere.
class SeededRandom {
public:
    explicit SeededRandom(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(Next() & 0xFFu); }
    std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(Next() % bound); }

private:
    std::uint64_t m_state;
};

} // namespace

// The device itself: lives on the device thread for one Start..Stop run and owns what the
// device keeps in its memories (receive buffer, line rate, module and flash progress) and
// the random generators. What others may observe it publishes into the simulator's state.
class CDeviceSimulator::Device {
public:
    Device(CDeviceSimulator& owner, std::stop_token stop)
        : m_sim(owner), m_scenario(owner.m_scenario), m_index(*owner.m_index),
          m_stop(std::move(stop)), m_decisions(owner.m_scenario.seed),
          m_noise(owner.m_scenario.seed ^ 0xA5A5A5A5A5A5A5A5ull),
          m_programmed(owner.m_index->ImageSlots().size(), false) {
        for (const DevSimFault& fault : m_scenario.faults) {
            m_faultsLeft.push_back(fault.times);
        }
        m_bootloaderVersion.SetText(m_scenario.bootloaderVersion);
        m_flash = m_scenario.firmwarePresent ? Flash::Original : Flash::Empty;
    }

    void Run();

private:
    enum class Flash : std::uint8_t { Empty, Original, Erased, Image };

    template <typename F> void Publish(F&& change) {
        {
            std::lock_guard lock(m_sim.m_mutex);
            change(m_sim.m_state);
        }
        m_sim.m_changed.notify_all();
    }
    void Trace(const std::string& line) const;

    // Line.
    bool Interrupted() const;
    bool SleepUntil(Clock::time_point deadline);
    bool Sleep(Clock::duration duration) { return SleepUntil(Clock::now() + duration); }
    void GarbleForHostRate(Bytes& bytes);
    bool Transmit(Bytes bytes);
    bool Answer(const DevSimRecordRef& record, Bytes bytes);
    void StartBabble(const DevSimRecordRef& record);
    void StopBabble();
    void PumpBabble();
    void StopReading(const DevSimRecordRef& record);
    void ResumeReading();
    void PublishFault(DevSimFaultEvent::Kind kind, const DevSimRecordRef& record);
    void ReadIncoming();
    void HangUp();

    // Power and commands.
    void ApplyCommands();
    void PowerOn();
    void PowerOff();
    void CheckPowerUp();

    // Records.
    bool ProcessBuffer();
    void PublishDropped(std::size_t count);
    bool HandleRecord(const CDevSimPackageIndex::Record& record);
    bool HandleDataRecord(const CDevSimPackageIndex::Record& record, bool babble);
    bool Refuse(const CDevSimPackageIndex::Record& record, const char* why);
    std::optional<DevSimFault> TakeFault(const DevSimRecordRef& record, std::size_t arrival);
    bool LoaderFits(const VersionDescriptor& loader) const;
    std::vector<std::string> InformationLines(std::uint32_t list) const;
    std::vector<std::string> RunModule(const CDevSimPackageIndex::Module& module);
    void Program(int slot);
    bool HoldsCompleteImage() const;
    bool FirmwareRuns() const;

    CDeviceSimulator& m_sim;
    const DevSimScenario& m_scenario;
    const CDevSimPackageIndex& m_index;
    std::stop_token m_stop;
    SeededRandom m_decisions; // drop / corrupt / garbage, three draws per answer
    SeededRandom m_noise;     // the bytes of garbage and corruption

    Bytes m_buffer;
    std::vector<Clock::time_point> m_arrivals; // when each byte of m_buffer was read
    Clock::time_point m_powerUpAt;
    Clock::time_point m_lastActivity;
    std::vector<int> m_faultsLeft;
    std::size_t m_answers = 0;
    VersionDescriptor m_bootloaderVersion;
    std::vector<bool> m_programmed; // the flash, by image slot
    std::size_t m_programmedCount = 0;
    std::size_t m_contiguous = 0; // leading slots programmed
    std::uint32_t m_baud = 0;
    int m_loadingModule = -1; // module whose records are arriving
    int m_loadedRecords = 0;  // of that module, received in order
    Flash m_flash = Flash::Empty;
    bool m_lineGone = false;
    bool m_everPowered = false;
    bool m_poweredOn = false;
    bool m_poweredUp = false;
    bool m_bootloaderActive = false;
    bool m_firmwareRunning = false;
    bool m_deadSilent = false;
    bool m_flashModuleLoaded = false;
    bool m_eraseArmed = false; // the flash module erases before it programs the first record
    bool m_outOfOrder = false;
    std::size_t m_received = 0;   // records recognised since Start, for faults tied to arrivals
    std::uint16_t m_wordMask = 0; // applied to the next answer's reply word, then cleared
    bool m_babbling = false;
    Bytes m_babbleOut;                 // babble bytes not yet taken by the line
    std::size_t m_babbleLineBytes = 0; // of m_babbleOut, until the current line is complete
    Clock::time_point m_babbleDue;
    bool m_readingStopped = false;
};

void CDeviceSimulator::Device::Trace(const std::string& line) const {
    if (!m_sim.m_trace) {
        return;
    }
    const auto elapsed = std::chrono::duration<double>(Clock::now() - m_sim.m_startedAt).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%9.3f ", elapsed);
    m_sim.m_trace(stamp + line);
}

// ---------------------------------------------------------------------------------------
// Line

bool CDeviceSimulator::Device::Interrupted() const {
    if (m_stop.stop_requested() || m_lineGone) {
        return true;
    }
    pollfd wake{m_sim.m_wakeFd, POLLIN, 0};
    return ::poll(&wake, 1, 0) > 0;
}

// Waits on the wake descriptor, so a stop or a power command cuts any delay short.
bool CDeviceSimulator::Device::SleepUntil(Clock::time_point deadline) {
    for (;;) {
        if (m_stop.stop_requested() || m_lineGone) {
            return false;
        }
        const auto now = Clock::now();
        const auto left = deadline - now;
        pollfd wake{m_sim.m_wakeFd, POLLIN, 0};
        if (left <= Clock::duration::zero()) {
            return ::poll(&wake, 1, 0) <= 0;
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec timeout{static_cast<time_t>(ns / 1'000'000'000),
                         static_cast<long>(ns % 1'000'000'000)};
        const int ready = ::ppoll(&wake, 1, &timeout, nullptr);
        if (ready > 0) {
            return false;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

// What the host receives while its port runs at another rate than the device: garbage of
// the same length.
void CDeviceSimulator::Device::GarbleForHostRate(Bytes& bytes) {
    const std::uint32_t hostBaud = m_sim.m_pty.SlaveBaudRate();
    if (bytes.empty() || hostBaud == 0 || hostBaud == m_baud) {
        return;
    }
    for (std::uint8_t& byte : bytes) {
        byte = m_noise.Byte();
    }
    Trace("tx garbled: host at " + std::to_string(hostBaud) + " baud, device at " +
          std::to_string(m_baud));
}

// Puts bytes on the line at the device's rate.
bool CDeviceSimulator::Device::Transmit(Bytes bytes) {
    if (bytes.empty()) {
        return true;
    }
    GarbleForHostRate(bytes);
    const auto start = Clock::now();
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const std::size_t chunk =
            m_scenario.pacing ? std::min(kPacingChunk, bytes.size() - sent) : bytes.size() - sent;
        if (m_scenario.pacing && !SleepUntil(start + LineTime(sent + chunk, m_baud))) {
            return false;
        }
        std::size_t done = 0;
        while (done < chunk) {
            if (Interrupted()) {
                return false;
            }
            const ssize_t n =
                m_sim.m_pty.Write(bytes.data() + sent + done, chunk - done, kWriteSliceMs);
            if (n < 0) {
                Trace("line gone while sending");
                m_lineGone = true;
                return false;
            }
            done += static_cast<std::size_t>(n);
            Publish([n](DevSimState& state) { state.bytesSent += static_cast<std::size_t>(n); });
        }
        sent += chunk;
    }
    return true;
}

// One answer of the device: counted, possibly dropped, corrupted or preceded by garbage
// as the scenario's probabilities say, then transmitted.
bool CDeviceSimulator::Device::Answer(const DevSimRecordRef& record, Bytes bytes) {
    const std::size_t number = m_answers++;
    if (m_wordMask != 0 && bytes.size() >= 2) {
        bytes[0] = static_cast<std::uint8_t>(bytes[0] ^ (m_wordMask >> 8));
        bytes[1] = static_cast<std::uint8_t>(bytes[1] ^ (m_wordMask & 0xFFu));
        m_wordMask = 0;
        PublishFault(DevSimFaultEvent::Kind::WordCorrupted, record);
        Trace("fault: reply word altered");
    }
    const bool drop = m_decisions.Uniform() < m_scenario.dropProbability;
    const bool corrupt = m_decisions.Uniform() < m_scenario.corruptProbability;
    const bool garbage = m_decisions.Uniform() < m_scenario.garbageProbability;
    std::vector<DevSimFaultEvent> events;
    if (drop) {
        events.push_back({DevSimFaultEvent::Kind::Dropped, record, number});
    } else {
        if (corrupt && !bytes.empty()) {
            const std::size_t at = m_noise.Below(bytes.size());
            bytes[at] = static_cast<std::uint8_t>(bytes[at] ^ (1u + m_noise.Below(255)));
            events.push_back({DevSimFaultEvent::Kind::Corrupted, record, number});
        }
        if (garbage) {
            Bytes noise(1 + m_noise.Below(8));
            for (std::uint8_t& byte : noise) {
                byte = m_noise.Byte();
            }
            bytes.insert(bytes.begin(), noise.begin(), noise.end());
            events.push_back({DevSimFaultEvent::Kind::Garbage, record, number});
        }
    }
    Publish([&](DevSimState& state) {
        ++state.answersSent;
        state.faultEvents.insert(state.faultEvents.end(), events.begin(), events.end());
    });
    if (drop) {
        Trace("tx dropped (answer " + std::to_string(number) + ")");
        return true;
    }
    Trace("tx " + Hex(bytes) + (events.empty() ? "" : " (faulty)"));
    return Transmit(std::move(bytes));
}

void CDeviceSimulator::Device::PublishFault(DevSimFaultEvent::Kind kind,
                                            const DevSimRecordRef& record) {
    Publish([&](DevSimState& state) { state.faultEvents.push_back({kind, record, 0}); });
}

void CDeviceSimulator::Device::StartBabble(const DevSimRecordRef& record) {
    m_babbling = true;
    m_babbleOut.clear();
    m_babbleLineBytes = 0;
    m_babbleDue = Clock::now();
    Publish([&](DevSimState& state) {
        state.babbling = true;
        state.faultEvents.push_back({DevSimFaultEvent::Kind::Babbled, record, 0});
    });
    Trace("fault: babbling from now on");
}

void CDeviceSimulator::Device::StopBabble() {
    if (!m_babbling) {
        return;
    }
    m_babbling = false;
    m_babbleOut.clear();
    m_babbleLineBytes = 0;
    Publish([](DevSimState& state) { state.babbling = false; });
    Trace("babble ends");
}

// Puts what the line takes now of the endless text, without waiting: the device thread
// goes back to its poll, so records, commands and a stop are still seen at once.
void CDeviceSimulator::Device::PumpBabble() {
    const std::size_t lineSize = m_scenario.babbleLine.size() + 1;
    if (m_babbleOut.empty()) {
        const std::size_t lines =
            m_scenario.pacing ? 1 : std::max<std::size_t>(1, kBabbleBurst / lineSize);
        for (std::size_t i = 0; i < lines; ++i) {
            m_babbleOut.insert(m_babbleOut.end(), m_scenario.babbleLine.begin(),
                               m_scenario.babbleLine.end());
            m_babbleOut.push_back(0);
        }
        GarbleForHostRate(m_babbleOut);
    }
    const ssize_t n = m_sim.m_pty.Write(m_babbleOut.data(), m_babbleOut.size(), 0);
    if (n < 0) {
        Trace("line gone while babbling");
        m_lineGone = true;
        return;
    }
    const auto count = static_cast<std::size_t>(n);
    m_babbleOut.erase(m_babbleOut.begin(), m_babbleOut.begin() + n);
    m_babbleLineBytes += count;
    const std::size_t lines = m_babbleLineBytes / lineSize;
    m_babbleLineBytes %= lineSize;
    Publish([&](DevSimState& state) {
        state.bytesSent += count;
        state.babbleLines += lines;
    });
    if (m_scenario.pacing && count > 0) {
        m_babbleDue = Clock::now() + LineTime(count, m_baud);
    }
}

void CDeviceSimulator::Device::StopReading(const DevSimRecordRef& record) {
    m_readingStopped = true;
    if (const int error = m_sim.m_pty.HoldSlaveOutput(true); error != 0) {
        Trace("cannot hold the port's output: errno " + std::to_string(error));
    }
    Publish([&](DevSimState& state) {
        state.readingStopped = true;
        state.faultEvents.push_back({DevSimFaultEvent::Kind::StoppedReading, record, 0});
    });
    Trace("fault: the device stops reading the line");
}

void CDeviceSimulator::Device::ResumeReading() {
    if (!m_readingStopped) {
        return;
    }
    m_readingStopped = false;
    m_sim.m_pty.HoldSlaveOutput(false);
    // What piled up meanwhile was never heard.
    std::uint8_t chunk[kReadChunk];
    while (m_sim.m_pty.Read(chunk, sizeof chunk, 0) > 0) {
    }
    Publish([](DevSimState& state) { state.readingStopped = false; });
    Trace("reading the line again");
}

void CDeviceSimulator::Device::ReadIncoming() {
    std::uint8_t chunk[kReadChunk];
    const ssize_t n = m_sim.m_pty.Read(chunk, sizeof chunk, 0);
    if (n < 0) {
        Trace("line gone while receiving");
        m_lineGone = true;
        return;
    }
    if (n == 0 || !m_poweredOn) {
        return;
    }
    const auto count = static_cast<std::size_t>(n);
    const std::uint32_t hostBaud = m_sim.m_pty.SlaveBaudRate();
    if (hostBaud != 0 && hostBaud != m_baud) {
        // Sent at the wrong rate: nothing of it can be made out.
        Publish([&](DevSimState& state) { state.wrongRateBytes += count; });
        Trace("rx " + std::to_string(count) + " bytes at " + std::to_string(hostBaud) +
              " baud while the device listens at " + std::to_string(m_baud) + ": unreadable");
        return;
    }
    m_buffer.insert(m_buffer.end(), chunk, chunk + count);
    m_arrivals.insert(m_arrivals.end(), count, Clock::now());
}

void CDeviceSimulator::Device::HangUp() {
    Trace("hang-up");
    {
        // CreateLink on the owner's thread looks at the descriptors too.
        std::lock_guard lock(m_sim.m_mutex);
        m_sim.m_pty.HangUp();
    }
    m_lineGone = true;
    Publish([](DevSimState& state) { state.hungUp = true; });
}

// ---------------------------------------------------------------------------------------
// Power

void CDeviceSimulator::Device::ApplyCommands() {
    std::uint64_t value = 0;
    while (::read(m_sim.m_wakeFd, &value, sizeof value) > 0) {
    }
    std::vector<Command> commands;
    {
        std::lock_guard lock(m_sim.m_mutex);
        commands.swap(m_sim.m_commands);
    }
    for (Command command : commands) {
        switch (command) {
        case Command::PowerOff:
            PowerOff();
            break;
        case Command::PowerOn:
            PowerOn();
            break;
        case Command::HangUp:
            if (!m_lineGone) {
                HangUp();
            }
            break;
        }
    }
    if (!commands.empty()) {
        Publish([&](DevSimState&) { m_sim.m_commandsApplied += commands.size(); });
    }
}

void CDeviceSimulator::Device::PowerOn() {
    if (m_poweredOn) {
        return;
    }
    const bool first = !m_everPowered;
    m_everPowered = true;
    m_poweredOn = true;
    m_poweredUp = false;
    m_powerUpAt = Clock::now() + m_scenario.powerUpDelay;
    m_baud = m_scenario.initialBaud;
    m_buffer.clear();
    m_arrivals.clear();
    m_lastActivity = Clock::now();
    Trace("power on");
    Publish([&](DevSimState& state) {
        state.poweredOn = true;
        state.baud = m_baud;
        if (!first) {
            ++state.powerCycles;
        }
    });
    CheckPowerUp();
}

void CDeviceSimulator::Device::PowerOff() {
    if (!m_poweredOn) {
        return;
    }
    StopBabble();
    ResumeReading();
    m_poweredOn = false;
    m_poweredUp = false;
    m_bootloaderActive = false;
    m_firmwareRunning = false;
    m_deadSilent = false;
    m_loadingModule = -1;
    m_loadedRecords = 0;
    m_flashModuleLoaded = false;
    m_eraseArmed = false;
    m_buffer.clear();
    m_arrivals.clear();
    Trace("power off");
    Publish([](DevSimState& state) {
        state.poweredOn = false;
        state.poweredUp = false;
        state.bootloaderActive = false;
        state.launched = false;
        state.startupPrinted = false;
        state.deadSilent = false;
        state.flashModuleLoaded = false;
        state.loadedModules.clear();
    });
}

void CDeviceSimulator::Device::CheckPowerUp() {
    if (!m_poweredOn || m_poweredUp || Clock::now() < m_powerUpAt) {
        return;
    }
    m_poweredUp = true;
    Trace("powered up at " + std::to_string(m_baud) + " baud");
    Publish([](DevSimState& state) { state.poweredUp = true; });
    if (m_scenario.powerUpGarbage > 0) {
        Bytes noise(m_scenario.powerUpGarbage);
        for (std::uint8_t& byte : noise) {
            byte = m_noise.Byte();
        }
        Trace("tx power-up noise " + Hex(noise));
        Transmit(std::move(noise));
    }
}

// ---------------------------------------------------------------------------------------
// Main loop

void CDeviceSimulator::Device::Run() {
    if (m_scenario.poweredAtStart) {
        PowerOn();
    }
    while (!m_stop.stop_requested() && !m_lineGone) {
        ApplyCommands();
        CheckPowerUp();
        if (!m_readingStopped && !ProcessBuffer()) {
            continue;
        }

        const auto now = Clock::now();
        int timeoutMs = -1;
        const auto waitAtMost = [&timeoutMs, now](Clock::time_point until) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
            const int ms = static_cast<int>(std::max<std::int64_t>(0, left.count()));
            timeoutMs = timeoutMs < 0 ? ms : std::min(timeoutMs, ms);
        };
        if (m_poweredOn && !m_poweredUp) {
            waitAtMost(m_powerUpAt);
        }
        const bool babbleDue = m_babbling && now >= m_babbleDue;
        if (m_babbling && !babbleDue) {
            waitAtMost(m_babbleDue);
        }
        // A device that no longer reads must not be woken by what waits on the line, or
        // this loop would spin.
        const short lineEvents =
            static_cast<short>((m_readingStopped ? 0 : POLLIN) | (babbleDue ? POLLOUT : 0));
        pollfd fds[2] = {{m_sim.m_pty.MasterFd(), lineEvents, 0}, {m_sim.m_wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            Trace("poll failed");
            break;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            ReadIncoming();
        } else if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            Trace("line gone");
            m_lineGone = true;
        } else if ((fds[0].revents & POLLOUT) != 0 && m_babbling) {
            PumpBabble();
        }
    }
    if (m_readingStopped && !m_lineGone) {
        m_sim.m_pty.HoldSlaveOutput(false);
    }
    Publish([](DevSimState& state) { state.running = false; });
}

void CDeviceSimulator::Device::PublishDropped(std::size_t count) {
    Publish([count](DevSimState& state) { state.unrecognisedBytes += count; });
    Trace("rx " + std::to_string(count) + " unrecognisable bytes dropped");
}

// Takes every whole record off the head of the received bytes. Bytes that cannot begin
// any payload are dropped one at a time, which finds the next record after noise, a
// truncated record or a record sent at the wrong rate. False when a command, a stop or
// the loss of the line cut the work short.
bool CDeviceSimulator::Device::ProcessBuffer() {
    std::size_t dropped = 0;
    bool whole = true;
    while (!m_buffer.empty() && !m_readingStopped) {
        const auto match = m_index.MatchHead(m_buffer);
        if (match.match != CDevSimPackageIndex::Match::None) {
            // A babbling device still listens: a record coming in ends the babble.
            StopBabble();
        }
        if (match.match == CDevSimPackageIndex::Match::Partial) {
            break;
        }
        if (match.match == CDevSimPackageIndex::Match::None) {
            m_buffer.erase(m_buffer.begin());
            m_arrivals.erase(m_arrivals.begin());
            ++dropped;
            continue;
        }
        const CDevSimPackageIndex::Record& record = *match.record;
        // The host's write is instant on a pseudo-terminal; on a wire the last byte
        // arrives only after the whole record has been clocked through.
        if (m_scenario.pacing &&
            !SleepUntil(m_arrivals.front() + LineTime(record.payload.size(), m_baud))) {
            whole = false;
            break;
        }
        const auto length = static_cast<std::ptrdiff_t>(record.payload.size());
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + length);
        m_arrivals.erase(m_arrivals.begin(), m_arrivals.begin() + length);
        if (dropped > 0) {
            PublishDropped(dropped);
            dropped = 0;
        }
        if (!HandleRecord(record)) {
            whole = false;
            break;
        }
    }
    if (dropped > 0) {
        PublishDropped(dropped);
    }
    return whole;
}

// ---------------------------------------------------------------------------------------
// Records

std::optional<DevSimFault> CDeviceSimulator::Device::TakeFault(const DevSimRecordRef& record,
                                                               std::size_t arrival) {
    for (std::size_t i = 0; i < m_scenario.faults.size(); ++i) {
        const DevSimFault& fault = m_scenario.faults[i];
        const bool hit = fault.nth != 0 ? fault.nth == arrival : fault.record == record;
        if (hit && m_faultsLeft[i] != 0) {
            if (m_faultsLeft[i] > 0) {
                --m_faultsLeft[i];
            }
            return m_scenario.faults[i];
        }
    }
    return std::nullopt;
}

bool CDeviceSimulator::Device::HandleRecord(const CDevSimPackageIndex::Record& record) {
    const auto now = Clock::now();
    const std::uint16_t type = record.header.type;
    const bool activation = type == kActivationBlock;
    const std::size_t arrival = ++m_received;
    m_wordMask = 0;

    if (!activation && m_bootloaderActive && m_scenario.idleTimeout.count() > 0 &&
        now - m_lastActivity > m_scenario.idleTimeout) {
        m_bootloaderActive = false;
        Trace("bootloader idle too long: inactive");
        Publish([](DevSimState& state) { state.bootloaderActive = false; });
    }
    const char* ignoredWhy = nullptr;
    if (m_deadSilent) {
        ignoredWhy = "device silent";
    } else if (m_firmwareRunning) {
        ignoredWhy = "firmware running";
    } else if (!m_poweredUp) {
        ignoredWhy = "still powering up";
    } else if (!activation && !m_bootloaderActive) {
        ignoredWhy = "bootloader not activated";
    }

    DevSimReceivedRecord received;
    received.record = record.ref;
    received.type = type;
    received.parameter = record.header.parameter;
    received.baud = m_baud;
    received.ignored = ignoredWhy != nullptr;
    received.at = now;
    Publish([&](DevSimState& state) { state.records.push_back(received); });
    Trace("rx " + ToString(record.ref) + " " + TypeText(type) + " " + m_index.Describe(record) +
          (ignoredWhy != nullptr ? std::string(" ignored: ") + ignoredWhy : std::string()));
    if (ignoredWhy != nullptr) {
        return true;
    }
    m_lastActivity = now;

    bool babble = false;
    if (const auto fault = TakeFault(record.ref, arrival)) {
        switch (fault->kind) {
        case DevSimFault::Kind::HangUp:
            Publish([&](DevSimState& state) {
                state.faultEvents.push_back({DevSimFaultEvent::Kind::HungUp, record.ref, 0});
            });
            HangUp();
            return false;
        case DevSimFault::Kind::Silent:
            if (fault->times < 0) {
                m_deadSilent = true;
            }
            Publish([&](DevSimState& state) {
                state.faultEvents.push_back({DevSimFaultEvent::Kind::Silenced, record.ref, 0});
                state.deadSilent = m_deadSilent;
            });
            Trace(m_deadSilent ? "fault: the device falls silent for good" : "fault: no answer");
            return true;
        case DevSimFault::Kind::Refuse:
            Publish([&](DevSimState& state) {
                state.faultEvents.push_back({DevSimFaultEvent::Kind::Refused, record.ref, 0});
            });
            Trace("fault: refused");
            return Sleep(m_scenario.replyLatency) &&
                   Answer(record.ref,
                          Word(static_cast<std::uint16_t>(0x8000u | record.header.Code())));
        case DevSimFault::Kind::Redirect:
            Publish([&](DevSimState& state) {
                state.faultEvents.push_back({DevSimFaultEvent::Kind::Redirected, record.ref, 0});
            });
            Trace("fault: redirected to code " + TypeText(fault->code));
            return Sleep(m_scenario.replyLatency) &&
                   Answer(record.ref,
                          Word(static_cast<std::uint16_t>(0x8000u | (fault->code & kCodeMask))));
        case DevSimFault::Kind::StopReading:
            StopReading(record.ref);
            return false;
        case DevSimFault::Kind::Babble:
            babble = true;
            break;
        case DevSimFault::Kind::CorruptWord:
            m_wordMask = fault->code != 0 ? fault->code : 0x8000;
            break;
        case DevSimFault::Kind::Echo:
            PublishFault(DevSimFaultEvent::Kind::Echoed, record.ref);
            Trace("fault: echoing the record");
            if (!Transmit(record.payload)) {
                return false;
            }
            break;
        }
    }
    if (m_scenario.echoProbability > 0 && m_decisions.Uniform() < m_scenario.echoProbability) {
        PublishFault(DevSimFaultEvent::Kind::Echoed, record.ref);
        Trace("echoing the record");
        if (!Transmit(record.payload)) {
            return false;
        }
    }

    if (record.module >= 0) {
        return HandleDataRecord(record, babble);
    }
    if (type == kInformationRequest) {
        if (m_scenario.informationReply == DevSimReplyMode::Silent) {
            PublishFault(DevSimFaultEvent::Kind::Silenced, record.ref);
            Trace("information request unanswered");
            return true;
        }
        babble = babble || m_scenario.informationReply == DevSimReplyMode::Babble;
    }
    if (!Sleep(m_scenario.replyLatency)) {
        return false;
    }
    if (babble && type != kInformationRequest) {
        // A request that expects no text: its word, then the babble; it is not carried out.
        if (!Answer(record.ref, Word(static_cast<std::uint16_t>(type & ~kReplyFlag)))) {
            return false;
        }
        StartBabble(record.ref);
        return true;
    }
    switch (type) {
    case kActivationBlock:
        m_bootloaderActive = true;
        Publish([](DevSimState& state) {
            state.bootloaderActive = true;
            ++state.activationsAnswered;
        });
        return Answer(record.ref, Word(type));
    case kInformationRequest: {
        Bytes reply = Word(type);
        AppendLines(reply, InformationLines(record.header.parameter), !babble);
        if (!Answer(record.ref, std::move(reply))) {
            return false;
        }
        if (babble) {
            StartBabble(record.ref);
        }
        return true;
    }
    case kBaudRateRequest: {
        if (!Answer(record.ref, Word(static_cast<std::uint16_t>(type & ~kReplyFlag)))) {
            return false;
        }
        if (m_scenario.ignoreBaudChange) {
            PublishFault(DevSimFaultEvent::Kind::BaudChangeIgnored, record.ref);
            Trace("fault: speed change acknowledged, line stays at " + std::to_string(m_baud) +
                  " baud");
            return true;
        }
        if (record.header.parameter != 0) {
            m_baud = record.header.parameter;
            Trace("line now at " + std::to_string(m_baud) + " baud");
            Publish([&](DevSimState& state) {
                state.baud = m_baud;
                state.baudChanges.push_back(m_baud);
            });
        }
        return true;
    }
    case kLaunchRequest: {
        if (!Answer(record.ref, Word(static_cast<std::uint16_t>(type & ~kReplyFlag)))) {
            return false;
        }
        if (!FirmwareRuns()) {
            // Nothing to start: the bootloader stays in charge.
            Trace("launch: no runnable firmware in the flash");
            return true;
        }
        m_firmwareRunning = true;
        m_bootloaderActive = false;
        Publish([](DevSimState& state) {
            state.launched = true;
            state.bootloaderActive = false;
        });
        Trace("launching the firmware");
        if (!m_scenario.printStartup || !Sleep(m_scenario.startupDelay)) {
            return true;
        }
        const std::string& text = m_scenario.startupText;
        if (!Transmit(Bytes(text.begin(), text.end()))) {
            return false;
        }
        Trace("start-up text sent");
        Publish([](DevSimState& state) { state.startupPrinted = true; });
        return true;
    }
    default:
        // A command this bootloader does not know.
        return Answer(record.ref, Word(static_cast<std::uint16_t>(0x8000u | record.header.Code())));
    }
}

bool CDeviceSimulator::Device::Refuse(const CDevSimPackageIndex::Record& record, const char* why) {
    Trace(std::string("refused: ") + why);
    return Sleep(m_scenario.replyLatency) &&
           Answer(record.ref, Word(static_cast<std::uint16_t>(0x8000u | record.header.Code())));
}

bool CDeviceSimulator::Device::LoaderFits(const VersionDescriptor& loader) const {
    return ::strcasecmp(loader.product.c_str(), m_scenario.bootloaderProduct.c_str()) == 0 &&
           m_bootloaderVersion.major == loader.major && !loader.IsGreater(m_bootloaderVersion);
}

bool CDeviceSimulator::Device::HandleDataRecord(const CDevSimPackageIndex::Record& record,
                                                bool babble) {
    const auto moduleIndex = static_cast<std::size_t>(record.module);
    const CDevSimPackageIndex::Module& module = m_index.Modules()[moduleIndex];
    if (module.role == CDevSimPackageIndex::Role::BoardId) {
        if (m_scenario.boardIdReply == DevSimReplyMode::Silent) {
            PublishFault(DevSimFaultEvent::Kind::Silenced, record.ref);
            Trace("board identification record unanswered");
            return true;
        }
        babble = babble || m_scenario.boardIdReply == DevSimReplyMode::Babble;
    }
    if (module.loader && !LoaderFits(*module.loader)) {
        return Refuse(record, "module made for another bootloader");
    }
    if (module.role == CDevSimPackageIndex::Role::Image) {
        if (!m_flashModuleLoaded) {
            return Refuse(record, "no flash programming module loaded");
        }
    } else if (record.ordinal == 0) {
        m_loadingModule = record.module;
        m_loadedRecords = 0;
    } else if (m_loadingModule != record.module || m_loadedRecords < record.ordinal) {
        return Refuse(record, "module record out of sequence");
    }

    if (!Sleep(m_scenario.replyLatency) ||
        !Answer(record.ref, Word(static_cast<std::uint16_t>(record.header.type & ~kReplyFlag)))) {
        return false;
    }
    if (record.header.ExpectsReply() && !Sleep(m_scenario.programmingTime)) {
        return false;
    }

    std::vector<std::string> lines;
    if (module.role == CDevSimPackageIndex::Role::Image) {
        Program(record.imageSlot);
    } else {
        m_loadedRecords = std::max(m_loadedRecords, record.ordinal + 1);
        if (record.ordinal + 1 == static_cast<int>(module.records.size())) {
            lines = RunModule(module);
        }
    }
    if (!record.header.ExpectsReply()) {
        if (babble) {
            StartBabble(record.ref);
        }
        return true;
    }
    Bytes reply = Word(record.header.type);
    AppendLines(reply, lines, !babble);
    if (!Answer(record.ref, std::move(reply))) {
        return false;
    }
    if (babble) {
        StartBabble(record.ref);
    }
    return true;
}

std::vector<std::string>
CDeviceSimulator::Device::RunModule(const CDevSimPackageIndex::Module& module) {
    Trace("module " + module.name + " loaded");
    std::vector<std::string> lines;
    std::optional<std::string> crcLine;
    switch (module.role) {
    case CDevSimPackageIndex::Role::BoardId: {
        if (!m_scenario.boardTypeId.empty()) {
            std::string line;
            char digits[4];
            for (char c : m_scenario.boardTypeId) {
                if (c != ';') {
                    std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned char>(c));
                    line += digits;
                }
            }
            lines.push_back(line + m_scenario.boardIdTrailer);
        }
        break;
    }
    case CDevSimPackageIndex::Role::Flash:
        m_flashModuleLoaded = true;
        m_eraseArmed = true;
        break;
    case CDevSimPackageIndex::Role::Crc:
        if (m_scenario.crcVerdict == DevSimCrcVerdict::Bad ||
            (m_scenario.crcVerdict == DevSimCrcVerdict::Good && !HoldsCompleteImage())) {
            crcLine = "-";
        } else if (m_scenario.crcVerdict == DevSimCrcVerdict::Good) {
            char text[8];
            std::snprintf(text, sizeof text, "0x%04X", m_index.ImageCrc());
            crcLine = text;
        }
        if (crcLine) {
            lines.push_back(*crcLine);
        }
        break;
    case CDevSimPackageIndex::Role::Image:
    case CDevSimPackageIndex::Role::Other:
        break;
    }
    Publish([&](DevSimState& state) {
        state.loadedModules.push_back(module.name);
        state.flashModuleLoaded = m_flashModuleLoaded;
        if (module.role == CDevSimPackageIndex::Role::Crc) {
            state.crcLines.push_back(crcLine.value_or(""));
        }
    });
    return lines;
}

void CDeviceSimulator::Device::Program(int slot) {
    if (slot < 0) {
        return;
    }
    if (m_eraseArmed) {
        m_eraseArmed = false;
        std::fill(m_programmed.begin(), m_programmed.end(), false);
        m_programmedCount = 0;
        m_contiguous = 0;
        m_outOfOrder = false;
        m_flash = Flash::Erased;
        Trace("flash erased");
    }
    const auto at = static_cast<std::size_t>(slot);
    if (at > m_contiguous) {
        m_outOfOrder = true;
    }
    if (!m_programmed[at]) {
        m_programmed[at] = true;
        ++m_programmedCount;
    }
    while (m_contiguous < m_programmed.size() && m_programmed[m_contiguous]) {
        ++m_contiguous;
    }
    if (HoldsCompleteImage()) {
        m_flash = Flash::Image;
    }
    Publish([&](DevSimState& state) {
        state.imageRecordsProgrammed = m_programmedCount;
        state.imageOutOfOrder = m_outOfOrder;
        state.holdsCompleteImage = HoldsCompleteImage();
    });
}

bool CDeviceSimulator::Device::HoldsCompleteImage() const {
    return m_flash != Flash::Original && m_flash != Flash::Empty && !m_outOfOrder &&
           m_contiguous == m_programmed.size() && !m_programmed.empty();
}

bool CDeviceSimulator::Device::FirmwareRuns() const {
    return m_flash == Flash::Original || m_flash == Flash::Image;
}

std::vector<std::string> CDeviceSimulator::Device::InformationLines(std::uint32_t list) const {
    std::vector<std::string> lines;
    // "VERS" first: the host's reading of a version line starts its record afresh.
    auto add = [&lines](const char* tag, const std::string& value) {
        if (!value.empty()) {
            lines.push_back(std::string(tag) + value);
        }
    };
    if (list == 0) {
        if (!m_scenario.bootloaderLines.empty()) {
            return m_scenario.bootloaderLines;
        }
        add("VERS:", m_scenario.bootloaderVersion);
        add("PROD:", m_scenario.bootloaderProduct);
        add("BILD:", m_scenario.bootloaderBuild);
    } else if (list == 1) {
        if (m_flash == Flash::Image) {
            const VersionDescriptor& image = m_index.ImageDescription();
            add("VERS:", image.text);
            add("PROD:", image.product);
            add("BILD:", image.buildStamp);
        } else if (m_flash == Flash::Original) {
            if (!m_scenario.firmwareLines.empty()) {
                return m_scenario.firmwareLines;
            }
            add("VERS:", m_scenario.firmwareVersion);
            add("PROD:", m_scenario.firmwareProduct);
            add("BILD:", m_scenario.firmwareBuild);
        }
    }
    return lines;
}

// ---------------------------------------------------------------------------------------
// The simulator

CDeviceSimulator::CDeviceSimulator(DevSimScenario scenario)
    : CDeviceSimulator(std::move(scenario), EmbeddedResources::UtilityPackage(),
                       EmbeddedResources::FirmwareImage()) {
}

CDeviceSimulator::CDeviceSimulator(DevSimScenario scenario, std::span<const std::uint8_t> utility,
                                   std::span<const std::uint8_t> image)
    : m_scenario(std::move(scenario)),
      m_index(std::make_unique<const CDevSimPackageIndex>(utility, image)) {
    m_state.baud = m_scenario.initialBaud;
    m_state.imageRecordCount = m_index->ImageSlots().size();
}

CDeviceSimulator::~CDeviceSimulator() {
    Stop();
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
    }
}

void CDeviceSimulator::SetTrace(TraceSink sink) {
    m_trace = std::move(sink);
}

Status CDeviceSimulator::Start() {
    if (m_thread.joinable()) {
        return kErrorAlreadyInitialized;
    }
    if (m_wakeFd < 0) {
        m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (m_wakeFd < 0) {
            return StatusFromErrno(errno);
        }
    }
    // A wake-up left over from the last Stop would cut the new run's first delays short.
    std::uint64_t stale = 0;
    while (::read(m_wakeFd, &stale, sizeof stale) > 0) {
    }
    if (const int error = m_pty.Open(); error != 0) {
        return StatusFromErrno(error);
    }
    {
        std::lock_guard lock(m_mutex);
        m_state = DevSimState{};
        m_state.running = true;
        m_state.baud = m_scenario.initialBaud;
        m_state.imageRecordCount = m_index->ImageSlots().size();
        m_commands.clear();
        m_commandsPosted = 0;
        m_commandsApplied = 0;
        m_slavePath = m_pty.SlavePath();
    }
    m_startedAt = std::chrono::steady_clock::now();
    m_thread = std::jthread([this](std::stop_token stop) { Run(stop); });
    return kOk;
}

void CDeviceSimulator::Run(const std::stop_token& stop) {
    Device device(*this, stop);
    device.Run();
}

void CDeviceSimulator::Stop() {
    if (m_thread.joinable()) {
        m_thread.request_stop();
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
        m_thread.join();
    }
    m_pty.Close();
    {
        std::lock_guard lock(m_mutex);
        m_state.running = false;
    }
    m_changed.notify_all();
}

std::string CDeviceSimulator::SlavePath() const {
    std::lock_guard lock(m_mutex);
    return m_slavePath;
}

int CDeviceSimulator::CreateLink(const std::string& path) {
    return m_pty.CreateLink(path);
}

void CDeviceSimulator::PostCommand(Command command) {
    std::unique_lock lock(m_mutex);
    if (!m_state.running) {
        return;
    }
    m_commands.push_back(command);
    const std::size_t ticket = ++m_commandsPosted;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
    m_changed.wait(lock, [&] { return m_commandsApplied >= ticket || !m_state.running; });
}

void CDeviceSimulator::PowerOff() {
    PostCommand(Command::PowerOff);
}

void CDeviceSimulator::PowerOn() {
    PostCommand(Command::PowerOn);
}

void CDeviceSimulator::PowerCycle() {
    PostCommand(Command::PowerOff);
    PostCommand(Command::PowerOn);
}

void CDeviceSimulator::HangUp() {
    PostCommand(Command::HangUp);
}

DevSimState CDeviceSimulator::Snapshot() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

bool CDeviceSimulator::HoldsCompleteImage() const {
    std::lock_guard lock(m_mutex);
    return m_state.holdsCompleteImage;
}

std::vector<DevSimReceivedRecord> CDeviceSimulator::ReceivedRecords() const {
    std::lock_guard lock(m_mutex);
    return m_state.records;
}

std::uint32_t CDeviceSimulator::CurrentBaud() const {
    std::lock_guard lock(m_mutex);
    return m_state.baud;
}

bool CDeviceSimulator::WaitFor(const std::function<bool(const DevSimState&)>& predicate,
                               Milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return predicate(m_state); });
}

bool CDeviceSimulator::WaitForActivation(Milliseconds timeout) const {
    return WaitFor([](const DevSimState& state) { return state.activationsAnswered > 0; }, timeout);
}

bool CDeviceSimulator::WaitForRecordCount(std::size_t count, Milliseconds timeout) const {
    return WaitFor([count](const DevSimState& state) { return state.records.size() >= count; },
                   timeout);
}

bool CDeviceSimulator::WaitForStartupText(Milliseconds timeout) const {
    return WaitFor([](const DevSimState& state) { return state.startupPrinted; }, timeout);
}

bool CDeviceSimulator::WaitForHangUp(Milliseconds timeout) const {
    return WaitFor([](const DevSimState& state) { return state.hungUp; }, timeout);
}

} // namespace quillon
