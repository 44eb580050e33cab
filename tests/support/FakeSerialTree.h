#pragma once

#include "platform/SerialPortDiscovery.h"
#include "tests/support/TempDirectory.h"

#include <filesystem>
#include <optional>
#include <string>

namespace quillon::testing {

// The USB identity a faked adapter shows in sysfs; an empty text leaves its file out.
struct FakeUsbIdentity {
    std::string vendorId = "0403";
    std::string productId = "6001";
    std::string manufacturer = "FTDI";
    std::string product = "FT232R USB UART";
    std::string serial = "A1B2C3D4";
    std::string interfaceName;
    std::string driver = "ftdi_sio";
    std::string location = "1-1.2";
};

// A faked /sys, /dev and /proc in a temporary folder, laid out as the kernel lays them out
// (class links into the device tree, device, subsystem and driver links), for the port
// discovery to read. Device nodes are plain files.
//
// Threads: belongs to the thread that made it.
class FakeSerialTree {
public:
    FakeSerialTree();

    DiscoveryRoots Roots() const;
    const std::filesystem::path& Root() const { return temp_.Path(); }
    std::filesystem::path Sys() const { return temp_.Path() / "sys"; }
    std::filesystem::path Dev() const { return temp_.Path() / "dev"; }
    std::filesystem::path Proc() const { return temp_.Path() / "proc"; }

    // A USB serial adapter (the tty's device is a child of the USB interface) and a CDC ACM
    // modem (the tty's device is the interface). Returns the folder of the USB device.
    std::filesystem::path AddUsbSerial(const std::string& name, const FakeUsbIdentity& usb,
                                       bool withDeviceNode = true);
    std::filesystem::path AddAcm(const std::string& name, const FakeUsbIdentity& usb);
    // A built-in port; without a type the kernel's "type" file is missing.
    void AddUart(const std::string& name, std::optional<int> uartType);
    // A tty without a device behind it (virtual terminal, console).
    void AddVirtual(const std::string& name);
    // /dev/serial/by-id/<link> pointing at target (relative, as udev makes them).
    void AddByIdLink(const std::string& link, const std::string& target);
    // The adapter pulled out: its class entry, device folder and node go; by-id links stay
    // behind dangling unless removed too.
    void Remove(const std::string& name);
    // A process holding devicePath open as descriptor fd.
    void AddHolder(int pid, const std::string& comm, const std::string& devicePath, int fd = 3);

    static void WriteFile(const std::filesystem::path& path, const std::string& bytes);

private:
    std::filesystem::path AddClassEntry(const std::string& name,
                                        const std::filesystem::path& ttyParent,
                                        const std::filesystem::path& device);

    TempDirectory temp_;
};

} // namespace quillon::testing
