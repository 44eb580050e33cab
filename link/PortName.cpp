#include "link/PortName.h"

#include "platform/SerialPortDiscovery.h"

namespace quillon {

std::string DevicePathForPort(const std::string& portName) {
    return SerialDevicePath(portName);
}

} // namespace quillon
