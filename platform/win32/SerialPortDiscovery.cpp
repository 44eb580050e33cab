#include "platform/SerialPortDiscovery.h"

#include "platform/win32/DosDeviceNames.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
// clang-format off
// windows.h first, the others build on it; initguid.h before devguid.h defines the Ports
// class GUID in this file, so no import library has to carry it.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
#include <initguid.h>
#include <devguid.h>
// clang-format on

namespace quillon {

namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";

// Longest text kept from one device property, before escaping; properties longer than
// kMaxPropertyChars are not what we look for and are left out.
constexpr std::size_t kMaxShownBytes = 128;
constexpr DWORD kMaxPropertyChars = 2048;

std::string_view WithoutDevicePrefix(std::string_view name) {
    if (name.substr(0, kDevicePrefix.size()) == kDevicePrefix) {
        name.remove_prefix(kDevicePrefix.size());
    }
    return name;
}

std::string UpperAscii(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

std::string Utf8(const wchar_t* text) {
    const int wideLength = static_cast<int>(::wcsnlen(text, kMaxPropertyChars));
    if (wideLength == 0) {
        return {};
    }
    const int bytes =
        ::WideCharToMultiByte(CP_UTF8, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return {};
    }
    std::string out(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, wideLength, out.data(), bytes, nullptr, nullptr);
    return out;
}

struct DeviceListCloser {
    void operator()(void* list) const { ::SetupDiDestroyDeviceInfoList(list); }
};
using DeviceList = std::unique_ptr<void, DeviceListCloser>;

struct KeyCloser {
    void operator()(HKEY key) const { ::RegCloseKey(key); }
};
using Key = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// A text property of the device (for a list of texts, the first), as UTF-8; empty when
// the device has none.
std::string Property(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    std::vector<wchar_t> buffer(256);
    for (;;) {
        DWORD type = 0;
        DWORD required = 0;
        // Room for the terminators a stored value may lack.
        const DWORD room = static_cast<DWORD>((buffer.size() - 2) * sizeof(wchar_t));
        if (::SetupDiGetDeviceRegistryPropertyW(devices, &device, property, &type,
                                                reinterpret_cast<BYTE*>(buffer.data()), room,
                                                &required)) {
            if (type != REG_SZ && type != REG_MULTI_SZ && type != REG_EXPAND_SZ) {
                return {};
            }
            buffer[std::min<std::size_t>(required / sizeof(wchar_t), buffer.size() - 2)] = L'\0';
            return Utf8(buffer.data());
        }
        const DWORD wanted = required / sizeof(wchar_t) + 2;
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || wanted > kMaxPropertyChars) {
            return {};
        }
        buffer.assign(wanted, L'\0');
    }
}

std::string DeviceId(DEVINST instance) {
    std::vector<wchar_t> buffer(MAX_DEVICE_ID_LEN + 1, L'\0');
    if (::CM_Get_Device_IDW(instance, buffer.data(), MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) {
        return {};
    }
    return Utf8(buffer.data());
}

// The port name the Ports class driver gave the device ("COM3").
std::string PortNameOf(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    const HKEY raw =
        ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (raw == INVALID_HANDLE_VALUE || raw == nullptr) {
        return {};
    }
    const Key key(raw);
    wchar_t name[64] = {};
    DWORD type = 0;
    DWORD bytes = sizeof(name) - sizeof(wchar_t);
    if (::RegQueryValueExW(key.get(), L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name),
                           &bytes) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    return Utf8(name);
}

// What SetupAPI knows of the serial ports, by upper-case port name.
std::map<std::string, SerialPortInfo> DescribedPorts() {
    std::map<std::string, SerialPortInfo> ports;
    const HDEVINFO raw =
        ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (raw == INVALID_HANDLE_VALUE) {
        return ports;
    }
    const DeviceList devices(raw);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(devices.get(), index, &device); ++index) {
        const std::string portName = PortNameOf(devices.get(), device);
        if (!IsComPortName(portName)) {
            continue; // a printer port (LPT1) or a port without a name
        }
        SerialPortInfo info;
        info.product =
            SafeText(Property(devices.get(), device, SPDRP_FRIENDLYNAME), kMaxShownBytes);
        info.manufacturer = SafeText(Property(devices.get(), device, SPDRP_MFG), kMaxShownBytes);
        info.driver = SafeText(Property(devices.get(), device, SPDRP_SERVICE), kMaxShownBytes);
        info.location =
            SafeText(Property(devices.get(), device, SPDRP_LOCATION_INFORMATION), kMaxShownBytes);
        const std::string ownId = DeviceId(device.DevInst);
        UsbDeviceIds ids = ParseUsbDeviceId(ownId);
        if (ids.vendorId.empty()) {
            ids = ParseUsbDeviceId(Property(devices.get(), device, SPDRP_HARDWAREID));
        }
        // An adapter's port is a child of the USB device (FTDI's bus) or one function of a
        // composite device: the serial number is in the parent's id.
        DEVINST parent = 0;
        if (!ids.vendorId.empty() && ids.serialNumber.empty() &&
            ::CM_Get_Parent(&parent, device.DevInst, 0) == CR_SUCCESS) {
            const UsbDeviceIds parentIds = ParseUsbDeviceId(DeviceId(parent));
            if (parentIds.vendorId == ids.vendorId && parentIds.productId == ids.productId) {
                ids.serialNumber = parentIds.serialNumber;
            }
        }
        info.vendorId = ids.vendorId;
        info.productId = ids.productId;
        info.serialNumber = ids.serialNumber;
        if (!info.vendorId.empty()) {
            info.kind = UpperAscii(info.driver) == "USBSER" ? "usb-acm" : "usb-serial";
        } else if (UpperAscii(ownId).rfind("ACPI\\", 0) == 0 ||
                   UpperAscii(info.driver) == "SERIAL") {
            info.kind = "uart";
        }
        ports.emplace(UpperAscii(portName), std::move(info));
    }
    return ports;
}

SerialPortInfo PortNamed(const std::string& name,
                         const std::map<std::string, SerialPortInfo>& described) {
    SerialPortInfo info;
    if (const auto found = described.find(UpperAscii(name)); found != described.end()) {
        info = found->second;
    }
    if (info.kind.empty()) {
        info.kind = "other";
    }
    info.name = name;
    info.devicePath = name;
    // Finding out would mean opening it, which discovery never does: the open tells.
    info.mayOpen = true;
    info.accessError = 0;
    return info;
}

} // namespace

std::string SerialDevicePath(const std::string& portName, const std::filesystem::path&) {
    const std::string_view name = WithoutDevicePrefix(portName);
    return name.empty() ? std::string() : std::string(kDevicePrefix) + std::string(name);
}

std::vector<SerialPortInfo> DiscoverSerialPorts(const DiscoveryRoots&, HolderScan) {
    const std::map<std::string, SerialPortInfo> described = DescribedPorts();
    std::vector<SerialPortInfo> ports;
    for (const std::string& name : ComPortNames()) {
        ports.push_back(PortNamed(name, described));
    }
    return ports;
}

std::optional<SerialPortInfo> DescribeSerialPort(const std::string& portNameOrPath,
                                                 const DiscoveryRoots&) {
    const std::string given(WithoutDevicePrefix(portNameOrPath));
    if (given.empty() || given.find_first_of("\\/") != std::string::npos) {
        return std::nullopt;
    }
    char target[1024];
    if (::QueryDosDeviceA(given.c_str(), target, sizeof(target)) == 0 &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return std::nullopt; // no such device
    }
    // Shown as the system spells it (COM3 for com3).
    std::string name = given;
    for (const std::string& listed : ComPortNames()) {
        if (UpperAscii(listed) == UpperAscii(given)) {
            name = listed;
        }
    }
    return PortNamed(name, DescribedPorts());
}

std::string DescribeOpenFailure(int systemError, const std::string& devicePath) {
    const std::string port(WithoutDevicePrefix(devicePath));
    switch (systemError) {
    case EBUSY:
    case EACCES:
    case EPERM:
        return port + " is in use by another program. Close that program, or choose "
                      "another port.";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "There is no port " + port +
               " on this computer. Check the name, and that the adapter is plugged in.";
    case ENOTTY:
    case EINVAL:
        return port + " is not a serial port.";
    case 0:
        return "The port " + port + " could not be used.";
    default:
        return std::string(std::strerror(systemError)) + " (" + port + ").";
    }
}

} // namespace quillon
