#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace quillon {

// A pseudo-terminal pair standing in for a serial cable: the program under test opens the
// slave path like a serial port, the other end (a test or the device simulator) talks
// through the master. The object keeps a slave descriptor of its own open, so the master
// never sees a permanent hang-up while the port is closed between runs. HangUp closes the
// master: to the slave side that is a pulled-out USB adapter.
//
// Threads: one thread reads the master while another writes it; Open, HangUp and Close
// belong to the owner and must not overlap Read or Write.
class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Creates the pair; master and slave in raw mode. Returns 0 or an errno value.
    int Open();
    bool IsOpen() const { return master_ >= 0; }
    // /dev/pts/N; empty when not open.
    const std::string& SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }

    // Adds a symbolic link to the slave (for a stable port name); removed on Close.
    // Returns 0 or an errno value.
    int CreateLink(const std::string& linkPath);
    const std::string& LinkPath() const { return linkPath_; }

    // Reads what the slave side sent: waits up to timeoutMs (-1 for ever) for the first
    // byte, then takes what is there, at most size. Returns the count, 0 on timeout, -1 on
    // error or when the master is closed.
    ssize_t Read(void* buffer, std::size_t size, int timeoutMs);
    // Reads exactly size bytes unless timeoutMs passes first; returns the count read.
    std::size_t ReadExactly(void* buffer, std::size_t size, int timeoutMs);
    // Sends all bytes to the slave side (waits while the slave's input queue is full, at most
    // timeoutMs). Returns the count written, -1 on error.
    ssize_t Write(const void* data, std::size_t size, int timeoutMs = 5000);

    // The speed the slave side was last configured with (0 when unknown or closed). The
    // simulator reads it to follow the host's baud changes.
    std::uint32_t SlaveBaudRate() const;
    // Bytes the slave side has written that the master has not read yet.
    std::uint32_t PendingFromSlave() const;

    // Holds (true) or releases the slave side's output, as flow control held off by the
    // far end does: the slave's writes then block (or fail with EAGAIN), and purging the
    // slave's queues does not release them. Returns 0 or an errno value.
    int HoldSlaveOutput(bool hold);

    // Closes the master and the own slave descriptor: the slave side sees a hang-up.
    void HangUp();
    // HangUp plus removal of the link.
    void Close();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string linkPath_;
};

} // namespace quillon
