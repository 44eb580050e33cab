#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quillon {

// The serial ports of this computer, as device paths (/dev/ttyUSB0 ...): USB serial
// adapters, USB modems (ACM) and built-in ports (ttyS*) whose UART the kernel knows; the
// many ttyS* placeholders without hardware behind them are left out. Unsorted. The two
// folders can be replaced for tests.
std::vector<std::string>
FindSerialPorts(const std::filesystem::path& sysClassTty = "/sys/class/tty",
                const std::filesystem::path& devFolder = "/dev");

// Explains why a port could not be opened, from the errno behind the failure: a missing
// permission (with the group to join), a port in use, a port that is not there.
std::string DescribeOpenFailure(int systemError, const std::string& devicePath);

} // namespace quillon
