#pragma once

#include <string>

namespace quillon {

// What names a device's adapter for a receipt: its /dev/serial/by-id link and the USB
// serial number. Empty when the port has none (a built-in UART, a pseudo-terminal).
struct PortIdentity {
    std::string byId;
    std::string usbSerial;
};

PortIdentity LookUpPortIdentity(const std::string& port);

} // namespace quillon
