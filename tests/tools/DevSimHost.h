#pragma once

// The host's end of the line for the simulator's tests: the slave side of the
// pseudo-terminal, opened and driven with plain POSIX calls, as a serial program would.

#include "platform/LineSpeed.h"
#include "tools/devsim/CDeviceSimulator.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace quillon::devsimtest {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// Record numbers in the shipped packages.
inline constexpr int kFirstImageRecord = 1;
inline constexpr int kImageRecordCount = 57;
inline constexpr int kActivationRecord = 0;  // utility: 0 to 9
inline constexpr int kInfoRecordList0 = 10;  // utility: 10 to 14
inline constexpr int kInfoRecordList1 = 15;  // utility: 15 to 19
inline constexpr int kBaud19200Record = 20;  // utility: 20 to 22
inline constexpr int kBaud115200Record = 29; // utility: 29 to 31
inline constexpr int kLaunchRecord = 32;     // utility: 32 to 36
// Utility module m (0 BrdIDMod for Tovrin ... 10 FwCRCMod5): its two data records.
inline constexpr int ModuleRecord(int module, int ordinal) {
    return 39 + 4 * module + ordinal;
}
inline constexpr int kBrdIdMod = 0;
inline constexpr int kBrdIdMod8 = 1;
inline constexpr int kFlashMod8 = 4;
inline constexpr int kFlashMod5 = 6;
inline constexpr int kFwCrcMod5 = 10;

// The reference packages as built from the manifests (the embedded ones may have been
// replaced at build time; the record numbers above are those of the reference layout).
inline const Bytes& ReferencePackage(bool firmware) {
    static const Bytes utility = [] {
        std::ifstream in(QUILLON_REFERENCE_UTILITY, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    static const Bytes image = [] {
        std::ifstream in(QUILLON_REFERENCE_FIRMWARE, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    return firmware ? image : utility;
}

inline std::unique_ptr<CDeviceSimulator> MakeDevice(DevSimScenario scenario = {}) {
    return std::make_unique<CDeviceSimulator>(std::move(scenario), ReferencePackage(false),
                                              ReferencePackage(true));
}

inline DevSimRecordRef Utility(int index) {
    return {DevSimPackage::Utility, index};
}
inline DevSimRecordRef Image(int index) {
    return {DevSimPackage::Image, index};
}

inline Bytes Word(std::uint16_t word) {
    return {static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word & 0xFF)};
}
inline Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

class HostPort {
public:
    HostPort() = default;
    ~HostPort() { Close(); }
    HostPort(const HostPort&) = delete;
    HostPort& operator=(const HostPort&) = delete;

    bool Open(const std::string& path, std::uint32_t baud = 19200) {
        m_received = 0;
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0) {
            return false;
        }
        termios tio{};
        if (tcgetattr(m_fd, &tio) != 0) {
            return false;
        }
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        return tcsetattr(m_fd, TCSANOW, &tio) == 0 && SetBaud(baud);
    }
    void Close() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    bool SetBaud(std::uint32_t baud) { return SetLineSpeed(m_fd, baud) == 0; }

    bool Send(const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd pfd{m_fd, POLLOUT, 0};
                ::poll(&pfd, 1, 100);
            } else {
                return false;
            }
        }
        return true;
    }
    bool Send(const CDeviceSimulator& device, const DevSimRecordRef& ref) {
        const auto* record = device.Packages().Find(ref);
        return record != nullptr && Send(record->payload);
    }

    // Up to `count` bytes; stops early when nothing arrives for `timeout`.
    Bytes Read(std::size_t count, std::chrono::milliseconds timeout = 2000ms) {
        Bytes out;
        while (out.size() < count) {
            pollfd pfd{m_fd, POLLIN, 0};
            const int ready = ::poll(&pfd, 1, static_cast<int>(timeout.count()));
            if (ready <= 0) {
                break;
            }
            if ((pfd.revents & POLLIN) == 0) {
                m_hungUp = (pfd.revents & (POLLHUP | POLLERR)) != 0;
                break;
            }
            std::uint8_t byte[256];
            const ssize_t n = ::read(m_fd, byte, std::min(sizeof byte, count - out.size()));
            if (n <= 0) {
                if (n < 0 && errno == EAGAIN) {
                    continue;
                }
                m_hungUp = true;
                break;
            }
            out.insert(out.end(), byte, byte + n);
            m_received += static_cast<std::size_t>(n);
        }
        return out;
    }
    // Bytes read since Open.
    std::size_t Received() const { return m_received; }
    // Everything that arrives until the line has been quiet for `quiet`.
    Bytes ReadUntilQuiet(std::chrono::milliseconds quiet) { return Read(1 << 20, quiet); }

    // A completion or information reply after its two-byte word: text lines up to the
    // closing zero byte. Returns the lines; `complete` says whether the closing byte came.
    std::vector<std::string> ReadLines(bool& complete, std::chrono::milliseconds timeout = 2000ms) {
        std::vector<std::string> lines;
        std::string line;
        bool previousZero = false;
        complete = false;
        for (;;) {
            const Bytes b = Read(1, timeout);
            if (b.empty()) {
                return lines;
            }
            if (b[0] != 0) {
                line.push_back(static_cast<char>(b[0]));
                previousZero = false;
                continue;
            }
            if (previousZero) {
                complete = true;
                return lines;
            }
            if (!line.empty()) {
                lines.push_back(line);
            }
            line.clear();
            previousZero = true;
        }
    }

    // Reads text lines after the start of a reply until `count` of them have come; returns
    // them. `closed` tells whether the reply's closing empty line came among them.
    std::vector<std::string> ReadSomeLines(std::size_t count, bool& closed,
                                           std::chrono::milliseconds timeout = 5000ms) {
        std::vector<std::string> lines;
        std::string line;
        bool previousZero = false;
        closed = false;
        while (lines.size() < count) {
            const Bytes b = Read(1, timeout);
            if (b.empty()) {
                break;
            }
            if (b[0] != 0) {
                line.push_back(static_cast<char>(b[0]));
                previousZero = false;
                continue;
            }
            closed = closed || previousZero;
            if (!line.empty()) {
                lines.push_back(line);
            }
            line.clear();
            previousZero = true;
        }
        return lines;
    }

    // Sends a record that expects a completion reply and reads all of it: the acceptance
    // word, the full type word and the lines. Returns the acceptance word (or -1 when it
    // did not come); the rest only when the acceptance was one.
    int Exchange(const CDeviceSimulator& device, const DevSimRecordRef& ref,
                 std::vector<std::string>* lines = nullptr,
                 std::chrono::milliseconds timeout = 2000ms) {
        if (!Send(device, ref)) {
            return -1;
        }
        const Bytes word = Read(2, timeout);
        if (word.size() != 2) {
            return -1;
        }
        const int accepted = (word[0] << 8) | word[1];
        const auto* record = device.Packages().Find(ref);
        if ((accepted & 0x8000) != 0 || record == nullptr || !record->header.ExpectsReply()) {
            return accepted;
        }
        const Bytes type = Read(2, timeout);
        if (type != Word(record->header.type)) {
            return -2;
        }
        bool complete = false;
        auto got = ReadLines(complete, timeout);
        if (!complete) {
            return -3;
        }
        if (lines != nullptr) {
            lines->insert(lines->end(), got.begin(), got.end());
        }
        return accepted;
    }

    // Activation as the host does it: a block, a short wait, exactly ":" and 0 expected.
    bool Activate(const CDeviceSimulator& device, int attempts = 50) {
        const DevSimState before = device.Snapshot();
        const std::size_t received = m_received;
        for (int i = 0; i < attempts; ++i) {
            Send(device, Utility(kActivationRecord + i % 10));
            const Bytes reply = Read(2, 100ms);
            if (reply == Bytes{0x3A, 0x00}) {
                TakeLateActivationAnswers(device, before, received,
                                          static_cast<std::size_t>(i) + 1);
                return true;
            }
        }
        return false;
    }

    bool HungUp() const { return m_hungUp; }
    int Fd() const { return m_fd; }

private:
    // On a loaded machine an answer can come after the host has given up on it and sent the
    // next block, which is then answered as well. Such a late answer must not be read as
    // the reply to the record after activation: wait until the device has dealt with every
    // block sent and read everything it put on the line for them.
    void TakeLateActivationAnswers(const CDeviceSimulator& device, const DevSimState& before,
                                   std::size_t received, std::size_t sent) {
        const auto countFrom = [](const auto& list, std::size_t from, auto predicate) {
            return static_cast<std::size_t>(std::count_if(
                list.begin() + static_cast<std::ptrdiff_t>(from), list.end(), predicate));
        };
        device.WaitFor(
            [&](const DevSimState& state) {
                if (state.records.size() < before.records.size() + sent) {
                    return false;
                }
                const std::size_t ignored = countFrom(state.records, before.records.size(),
                                                      [](const auto& r) { return r.ignored; });
                const std::size_t dropped =
                    countFrom(state.faultEvents, before.faultEvents.size(), [](const auto& f) {
                        return f.kind == DevSimFaultEvent::Kind::Dropped;
                    });
                const std::size_t answers = state.answersSent - before.answersSent;
                return ignored + answers >= sent &&
                       state.bytesSent - before.bytesSent >= 2 * (answers - dropped);
            },
            5000ms);
        const std::size_t due = device.Snapshot().bytesSent - before.bytesSent;
        if (const std::size_t got = m_received - received; due > got) {
            Read(due - got, 1000ms);
        }
    }

    int m_fd = -1;
    bool m_hungUp = false;
    std::size_t m_received = 0;
};

} // namespace quillon::devsimtest
