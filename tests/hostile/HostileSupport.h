#pragma once

#include "tests/support/TestText.h"

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quillon::testing {

// Another process that opens a serial port as this program does (exclusive lock included)
// and holds it until the object goes.
class PortHolder {
public:
    explicit PortHolder(const std::string& path);
    ~PortHolder();
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;

    // True once the child holds the port.
    bool Holding() const { return holding_; }
    // Ends the child and waits for it.
    void Release();

private:
    pid_t child_ = -1;
    int release_ = -1; // closing it tells the child to let go
    bool holding_ = false;
};

// A reader on a FIFO that keeps it open (non-blocking) so writers do not fail for want of
// one, and tells how many bytes arrived.
class FifoReader {
public:
    explicit FifoReader(const std::string& path);
    ~FifoReader();
    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;
    bool IsOpen() const { return fd_ >= 0; }
    std::size_t Drain();

private:
    int fd_ = -1;
};

// quillon-cli run in this process with the given words after the program name.
struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
    std::chrono::milliseconds took{0};
};
CliResult RunCli(const std::vector<std::string>& args);

// Runs `check` in a child process and returns its verdict (0 held, 1 did not). For
// operations that leave state behind in this process, such as a settings object that keeps
// the values of a failed save pending for the next one.
int RunInChild(const std::function<bool()>& check);

// Runs `check` in a child process in which `folder` is read-only: a read-only bind mount in
// a mount namespace of the child's own where the system allows it (it does for root, whom
// file modes do not stop), else the folder's write bits cleared. The child's verdict: 0
// the check held, 1 it did not, 77 the folder could not be made read-only here. Call it
// while this process runs no other threads.
inline constexpr int kNoReadOnlyFolder = 77;
int RunWithReadOnlyFolder(const std::string& folder, const std::function<bool()>& check);

// The settings file the wizard and the command line read: $XDG_CONFIG_HOME/Veldra/Quillon.conf.
std::string SettingsFolder();
std::string SettingsFile();
// Gives the settings file a modification time of its own, so a settings cache keyed on
// time and size re-reads it.
void TouchUniquely(const std::string& path);

} // namespace quillon::testing
