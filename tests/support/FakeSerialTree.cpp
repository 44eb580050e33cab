#include "tests/support/FakeSerialTree.h"

#include <fstream>
#include <system_error>

namespace quillon::testing {

namespace fs = std::filesystem;

namespace {

void Link(const fs::path& target, const fs::path& link) {
    std::error_code ignored;
    fs::remove(link, ignored);
    fs::create_directories(link.parent_path());
    fs::create_symlink(target, link);
}

} // namespace

FakeSerialTree::FakeSerialTree() {
    for (const char* folder :
         {"sys/class/tty", "sys/devices", "sys/bus/usb/drivers", "sys/bus/usb-serial/drivers",
          "sys/bus/pnp/drivers", "sys/bus/platform/drivers", "dev", "proc"}) {
        fs::create_directories(temp_.Path() / folder);
    }
}

DiscoveryRoots FakeSerialTree::Roots() const {
    DiscoveryRoots roots;
    roots.sysClassTty = Sys() / "class" / "tty";
    roots.dev = Dev();
    roots.proc = Proc();
    return roots;
}

void FakeSerialTree::WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

fs::path FakeSerialTree::AddClassEntry(const std::string& name, const fs::path& ttyParent,
                                       const fs::path& device) {
    // /sys/class/tty/<name> -> .../<ttyParent>/tty/<name>, whose "device" leads back up.
    const fs::path classDevice = ttyParent / "tty" / name;
    fs::create_directories(classDevice);
    WriteFile(classDevice / "dev", "188:0\n");
    if (!device.empty()) {
        Link(fs::relative(device, classDevice), classDevice / "device");
    }
    Link(classDevice, Sys() / "class" / "tty" / name);
    return classDevice;
}

fs::path FakeSerialTree::AddUsbSerial(const std::string& name, const FakeUsbIdentity& usb,
                                      bool withDeviceNode) {
    const fs::path usbDevice = Sys() / "devices" / "pci0000:00" / "usb1" / usb.location;
    const fs::path interfaceDir = usbDevice / (usb.location + ":1.0");
    const fs::path serialDevice = interfaceDir / name;
    fs::create_directories(serialDevice);
    auto optionalFile = [](const fs::path& path, const std::string& text) {
        if (!text.empty()) {
            WriteFile(path, text + "\n");
        }
    };
    optionalFile(usbDevice / "idVendor", usb.vendorId);
    optionalFile(usbDevice / "idProduct", usb.productId);
    optionalFile(usbDevice / "manufacturer", usb.manufacturer);
    optionalFile(usbDevice / "product", usb.product);
    optionalFile(usbDevice / "serial", usb.serial);
    optionalFile(interfaceDir / "interface", usb.interfaceName);
    Link(Sys() / "bus" / "usb-serial", serialDevice / "subsystem");
    if (!usb.driver.empty()) {
        fs::create_directories(Sys() / "bus" / "usb-serial" / "drivers" / usb.driver);
        Link(Sys() / "bus" / "usb-serial" / "drivers" / usb.driver, serialDevice / "driver");
    }
    Link(Sys() / "bus" / "usb", interfaceDir / "subsystem");
    AddClassEntry(name, serialDevice, serialDevice);
    if (withDeviceNode) {
        WriteFile(Dev() / name, "");
    }
    return usbDevice;
}

fs::path FakeSerialTree::AddAcm(const std::string& name, const FakeUsbIdentity& usb) {
    const fs::path usbDevice = Sys() / "devices" / "pci0000:00" / "usb1" / usb.location;
    const fs::path interfaceDir = usbDevice / (usb.location + ":1.0");
    fs::create_directories(interfaceDir);
    auto optionalFile = [](const fs::path& path, const std::string& text) {
        if (!text.empty()) {
            WriteFile(path, text + "\n");
        }
    };
    optionalFile(usbDevice / "idVendor", usb.vendorId);
    optionalFile(usbDevice / "idProduct", usb.productId);
    optionalFile(usbDevice / "manufacturer", usb.manufacturer);
    optionalFile(usbDevice / "product", usb.product);
    optionalFile(usbDevice / "serial", usb.serial);
    optionalFile(interfaceDir / "interface", usb.interfaceName);
    Link(Sys() / "bus" / "usb", interfaceDir / "subsystem");
    if (!usb.driver.empty()) {
        fs::create_directories(Sys() / "bus" / "usb" / "drivers" / usb.driver);
        Link(Sys() / "bus" / "usb" / "drivers" / usb.driver, interfaceDir / "driver");
    }
    AddClassEntry(name, interfaceDir, interfaceDir);
    WriteFile(Dev() / name, "");
    return usbDevice;
}

void FakeSerialTree::AddUart(const std::string& name, std::optional<int> uartType) {
    const fs::path device = Sys() / "devices" / "pnp0" / ("00:0" + name.substr(name.size() - 1));
    fs::create_directories(device);
    Link(Sys() / "bus" / "pnp", device / "subsystem");
    fs::create_directories(Sys() / "bus" / "pnp" / "drivers" / "serial");
    Link(Sys() / "bus" / "pnp" / "drivers" / "serial", device / "driver");
    const fs::path classDevice = AddClassEntry(name, device, device);
    if (uartType) {
        WriteFile(classDevice / "type", std::to_string(*uartType) + "\n");
    }
    WriteFile(Dev() / name, "");
}

void FakeSerialTree::AddVirtual(const std::string& name) {
    AddClassEntry(name, Sys() / "devices" / "virtual", {});
    WriteFile(Dev() / name, "");
}

void FakeSerialTree::AddByIdLink(const std::string& link, const std::string& target) {
    Link(target, Dev() / "serial" / "by-id" / link);
}

void FakeSerialTree::Remove(const std::string& name) {
    std::error_code ignored;
    const fs::path classEntry = Sys() / "class" / "tty" / name;
    const fs::path classDevice = fs::canonical(classEntry, ignored);
    const fs::path device = fs::canonical(classEntry / "device", ignored);
    fs::remove(Dev() / name, ignored);
    fs::remove(classEntry, ignored);
    if (!device.empty()) {
        fs::remove_all(device, ignored);
    }
    if (!classDevice.empty()) {
        fs::remove_all(classDevice, ignored);
    }
}

void FakeSerialTree::AddHolder(int pid, const std::string& comm, const std::string& devicePath,
                               int fd) {
    const fs::path process = Proc() / std::to_string(pid);
    WriteFile(process / "comm", comm + "\n");
    Link(devicePath, process / "fd" / std::to_string(fd));
}

} // namespace quillon::testing
