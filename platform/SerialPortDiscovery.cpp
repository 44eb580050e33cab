#include "platform/SerialPortDiscovery.h"

#include <algorithm>
#include <cctype>

namespace quillon {

namespace fs = std::filesystem;

namespace {

// \xNN for a byte, \uNNNN for a code point.
void AppendEscape(std::string& out, char kind, unsigned value) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    const int digits = kind == 'x' ? 2 : 4;
    out += '\\';
    out += kind;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        out += kDigits[(value >> shift) & 0xFu];
    }
}

// Code points that would let a text rearrange or hide what is shown around it.
bool IsInvisibleControl(char32_t c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

bool IsHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

char LowerAscii(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return LowerAscii(a) == LowerAscii(b); });
}

// The four hex digits after "VID_" or "PID_", anywhere in the id, in lower case.
std::string IdAfter(std::string_view id, std::string_view tag) {
    for (std::size_t at = 0; at + tag.size() + 4 <= id.size(); ++at) {
        if (!StartsWithNoCase(id.substr(at), tag)) {
            continue;
        }
        const std::string_view digits = id.substr(at + tag.size(), 4);
        const bool longer = at + tag.size() + 4 < id.size() && IsHexDigit(id[at + tag.size() + 4]);
        if (!std::all_of(digits.begin(), digits.end(), IsHexDigit) || longer) {
            continue;
        }
        std::string text(digits);
        std::transform(text.begin(), text.end(), text.begin(), LowerAscii);
        return text;
    }
    return {};
}

} // namespace

std::string SafeText(std::string_view text, std::size_t maxBytes) {
    const bool cut = text.size() > maxBytes;
    if (cut) {
        text = text.substr(0, maxBytes);
    }
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x20 || lead == 0x7F) {
            AppendEscape(out, 'x', lead);
            ++i;
            continue;
        }
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            ++i;
            continue;
        }
        // A well-formed UTF-8 sequence: no overlong forms, no surrogates, at most U+10FFFF.
        std::size_t length = 0;
        char32_t c = 0;
        char32_t lowest = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            c = lead & 0x1Fu;
            lowest = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            c = lead & 0x0Fu;
            lowest = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            c = lead & 0x07u;
            lowest = 0x10000;
        }
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0u) == 0x80u;
            c = (c << 6) | (next & 0x3Fu);
        }
        valid = valid && c >= lowest && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
        if (!valid) {
            AppendEscape(out, 'x', lead);
            ++i;
            continue;
        }
        if (IsInvisibleControl(c)) {
            AppendEscape(out, 'u', static_cast<unsigned>(c));
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    if (cut) {
        out += "...";
    }
    return out;
}

bool PortNameLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitA = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool digitB = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (digitA && digitB) {
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && std::isdigit(static_cast<unsigned char>(a[endA])) != 0) {
                ++endA;
            }
            while (endB < b.size() && std::isdigit(static_cast<unsigned char>(b[endB])) != 0) {
                ++endB;
            }
            std::string_view numberA(a.data() + i, endA - i);
            std::string_view numberB(b.data() + j, endB - j);
            while (numberA.size() > 1 && numberA.front() == '0') {
                numberA.remove_prefix(1);
            }
            while (numberB.size() > 1 && numberB.front() == '0') {
                numberB.remove_prefix(1);
            }
            if (numberA.size() != numberB.size()) {
                return numberA.size() < numberB.size();
            }
            if (numberA != numberB) {
                return numberA < numberB;
            }
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        }
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

UsbDeviceIds ParseUsbDeviceId(std::string_view id) {
    UsbDeviceIds ids;
    ids.vendorId = IdAfter(id, "VID_");
    ids.productId = IdAfter(id, "PID_");
    if (ids.vendorId.empty() || ids.productId.empty()) {
        return {};
    }
    // USB\<device part>\<instance part>: the instance part is the device's own serial number
    // unless Windows made it up, or the device part names one function (MI_xx) of a
    // composite device.
    if (!StartsWithNoCase(id, "USB\\")) {
        return ids;
    }
    const std::size_t second = id.find('\\', 4);
    if (second == std::string_view::npos) {
        return ids;
    }
    const std::string_view devicePart = id.substr(4, second - 4);
    const std::string_view instance = id.substr(second + 1);
    bool composite = false;
    for (std::size_t at = 0; at < devicePart.size(); ++at) {
        composite = composite || StartsWithNoCase(devicePart.substr(at), "&MI_");
    }
    if (!composite && !instance.empty() &&
        instance.find_first_of("&\\") == std::string_view::npos) {
        ids.serialNumber = SafeText(instance, 128);
    }
    return ids;
}

std::string PortDescription(const SerialPortInfo& port) {
    if (port.kind == "usb-serial" || port.kind == "usb-acm") {
        std::string text = port.product;
        if (text.empty()) {
            text = port.kind == "usb-acm" ? "USB modem" : "USB serial adapter";
            if (!port.vendorId.empty()) {
                text += " " + port.vendorId + ":" + port.productId;
            }
        }
        if (!port.interfaceName.empty() && port.interfaceName != port.product) {
            text += " - " + port.interfaceName;
        }
        if (!port.manufacturer.empty()) {
            text += " (" + port.manufacturer + ")";
        }
        if (!port.serialNumber.empty()) {
            text += ", serial " + port.serialNumber;
        }
        return text;
    }
    if (port.kind == "uart") {
        return "built-in serial port";
    }
    if (!port.product.empty()) {
        return port.product; // what Windows calls a port it knows nothing more of
    }
    if (fs::path(port.devicePath).parent_path().filename() == "pts") {
        return "pseudo-terminal";
    }
    return "serial port";
}

std::string HardwareId(const SerialPortInfo& port) {
    if (port.vendorId.empty()) {
        return {};
    }
    auto upper = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        return text;
    };
    std::string id = "USB VID:PID=" + upper(port.vendorId) + ":" + upper(port.productId);
    if (!port.serialNumber.empty()) {
        id += " SER=" + port.serialNumber;
    }
    if (!port.location.empty()) {
        id += " LOCATION=" + port.location;
    }
    return id;
}

std::vector<std::string> FindSerialPorts(const fs::path& sysClassTty, const fs::path& devFolder) {
    DiscoveryRoots roots;
    roots.sysClassTty = sysClassTty;
    roots.dev = devFolder;
    std::vector<std::string> paths;
    for (const SerialPortInfo& port : DiscoverSerialPorts(roots, HolderScan::kWithout)) {
        paths.push_back(port.devicePath);
    }
    return paths;
}

} // namespace quillon
