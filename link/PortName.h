#pragma once

#include <string>

namespace quillon {

// The device path for a port name: a leading "\\.\" is dropped; a name containing '/' is
// used as given; COMn in any letter case (n from 1) is /dev/ttyS(n-1), as other Linux ports
// of such programs map it; any other name is /dev/ + name.
std::string DevicePathForPort(const std::string& portName);

} // namespace quillon
