#include "cli/PortIdentity.h"

#include "platform/SerialPortDiscovery.h"

namespace quillon {

PortIdentity LookUpPortIdentity(const std::string& port) {
    PortIdentity identity;
    if (const std::optional<SerialPortInfo> info = DescribeSerialPort(port)) {
        if (!info->byIdLinks.empty()) {
            identity.byId = info->byIdLinks.front();
        }
        identity.usbSerial = info->serialNumber;
    }
    return identity;
}

} // namespace quillon
