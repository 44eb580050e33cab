#include "cli/CPortsCommand.h"

#include "cli/CliExitStatus.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quillon {

namespace {

// Terminal columns a UTF-8 text takes, counting one per character (the texts are escaped
// already, so there are no control characters to count).
std::size_t Columns(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0u) != 0x80u;
    }));
}

std::string AccessText(const SerialPortInfo& port) {
    if (port.mayOpen) {
        return "yes";
    }
    switch (port.accessError) {
    case EACCES:
    case EPERM:
        return "no permission";
    case ENOENT:
        return "no device file";
    default:
        return std::strerror(port.accessError);
    }
}

bool PermissionMissing(const SerialPortInfo& port) {
    return !port.mayOpen && (port.accessError == EACCES || port.accessError == EPERM);
}

std::string HoldersText(const SerialPortInfo& port) {
    std::string text;
    for (const SerialPortHolder& holder : port.holders) {
        if (!text.empty()) {
            text += ", ";
        }
        text += std::to_string(holder.pid) + " " + holder.name;
    }
    return text.empty() ? "-" : text;
}

std::string UsbIdText(const SerialPortInfo& port) {
    return port.vendorId.empty() ? "-" : port.vendorId + ":" + port.productId;
}

QJsonValue TextOrNull(const std::string& text) {
    return text.empty() ? QJsonValue(QJsonValue::Null) : QJsonValue(QString::fromStdString(text));
}

QJsonObject PortObject(const SerialPortInfo& port) {
    QJsonObject object;
    object.insert(QStringLiteral("device"), QString::fromStdString(port.devicePath));
    object.insert(QStringLiteral("name"), QString::fromStdString(port.name));
    QJsonArray links;
    for (const std::string& link : port.byIdLinks) {
        links.append(QString::fromStdString(link));
    }
    // Where the system has no such links or tells no holders, the keys stay and say
    // "unknown" rather than "none".
    object.insert(QStringLiteral("by_id"), port.byIdKnown ? QJsonValue(links) : QJsonValue());
    object.insert(QStringLiteral("kind"), QString::fromStdString(port.kind));
    object.insert(QStringLiteral("description"), QString::fromStdString(PortDescription(port)));
    object.insert(QStringLiteral("hardware_id"), TextOrNull(HardwareId(port)));
    object.insert(QStringLiteral("vendor_id"), TextOrNull(port.vendorId));
    object.insert(QStringLiteral("product_id"), TextOrNull(port.productId));
    object.insert(QStringLiteral("manufacturer"), TextOrNull(port.manufacturer));
    object.insert(QStringLiteral("product"), TextOrNull(port.product));
    object.insert(QStringLiteral("serial_number"), TextOrNull(port.serialNumber));
    object.insert(QStringLiteral("interface"), TextOrNull(port.interfaceName));
    object.insert(QStringLiteral("driver"), TextOrNull(port.driver));
    object.insert(QStringLiteral("location"), TextOrNull(port.location));
    object.insert(QStringLiteral("may_open"), port.mayOpen);
    object.insert(QStringLiteral("access_error"),
                  port.mayOpen ? QJsonValue(QJsonValue::Null)
                               : QJsonValue(QString::fromUtf8(std::strerror(port.accessError))));
    object.insert(QStringLiteral("hint"),
                  port.mayOpen ? QJsonValue(QJsonValue::Null)
                               : QJsonValue(QString::fromStdString(
                                     DescribeOpenFailure(port.accessError, port.devicePath))));
    QJsonArray holders;
    for (const SerialPortHolder& holder : port.holders) {
        QJsonObject entry;
        entry.insert(QStringLiteral("pid"), holder.pid);
        entry.insert(QStringLiteral("name"), QString::fromStdString(holder.name));
        holders.append(entry);
    }
    object.insert(QStringLiteral("holders"),
                  port.holdersKnown ? QJsonValue(holders) : QJsonValue());
    return object;
}

void PrintTable(const std::vector<SerialPortInfo>& ports, std::ostream& out) {
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"PORT", "DESCRIPTION", "USB ID", "DRIVER", "ACCESS", "HELD BY"});
    for (const SerialPortInfo& port : ports) {
        rows.push_back({SafeText(port.devicePath), PortDescription(port), UsbIdText(port),
                        port.driver.empty() ? "-" : port.driver, AccessText(port),
                        HoldersText(port)});
    }
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            widths[c] = std::max(widths[c], Columns(row[c]));
        }
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::string line;
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            line += rows[r][c];
            if (c + 1 < rows[r].size()) {
                line += std::string(widths[c] - Columns(rows[r][c]) + 2, ' ');
            }
        }
        out << line << "\n";
        if (r == 0) {
            continue;
        }
        // The longer names of a port go underneath, so the table stays narrow.
        const SerialPortInfo& port = ports[r - 1];
        for (const std::string& link : port.byIdLinks) {
            out << "    by-id: " << SafeText(link) << "\n";
        }
        const std::string hardware = HardwareId(port);
        if (!hardware.empty()) {
            out << "    " << hardware << "\n";
        }
    }
}

} // namespace

CPortsCommand::CPortsCommand(std::string program)
    : CPortsCommand(std::move(program), RootsFromEnvironment()) {
}

CPortsCommand::CPortsCommand(std::string program, DiscoveryRoots roots)
    : program_(std::move(program)), roots_(std::move(roots)) {
}

DiscoveryRoots CPortsCommand::RootsFromEnvironment() {
    DiscoveryRoots roots;
    const char* root = std::getenv(kRootVariable);
    if (root != nullptr && *root != '\0') {
        const std::filesystem::path base = root;
        roots.sysClassTty = base / "sys" / "class" / "tty";
        roots.dev = base / "dev";
        roots.proc = base / "proc";
    }
    return roots;
}

std::string CPortsCommand::Summary() const {
    return "list the serial ports: what each is, who may open it, who holds it";
}

std::string CPortsCommand::Usage() const {
    return "Usage: " + program_ + " ports [--json] [PORT...]\n\n" +
           "Lists the serial ports of this machine (USB serial adapters, USB modems and\n"
           "built-in ports) with their /dev/serial/by-id names, USB vendor and product id,\n"
           "manufacturer, product and serial number, the driver, whether you may open them\n"
           "and which processes hold them open. With PORT names (a device path, a by-id\n"
           "link, ttyUSB0 or COMn) only those ports are shown, also ports the list leaves\n"
           "out, such as pseudo-terminals.\n\n"
           "Options:\n"
           "  --json      one JSON object per port and line (JSON Lines) with the keys\n"
           "              device, name, by_id, kind, description, hardware_id, vendor_id,\n"
           "              product_id, manufacturer, product, serial_number, interface,\n"
           "              driver, location, may_open, access_error, hint and holders\n"
           "              (a list of {pid, name}); unknown values are null\n"
           "  -h, --help  show this help and exit\n\n"
           "Texts from the devices are shown with control characters and bytes that are not\n"
           "UTF-8 escaped as \\xNN. A port you may not open is usually open to the \"dialout\"\n"
           "group. Exit status: 0, or 1 for a usage error, or 2 when a named port does not\n"
           "exist.\n\n"
           "Environment:\n"
           "  " +
           std::string(kRootVariable) +
           "  for tests: read sys/class/tty, dev and proc under this\n"
           "                          folder instead of the system's\n";
}

int CPortsCommand::Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool json = false;
    std::vector<std::string> names;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            out << Usage();
            return kExitSuccess;
        }
        if (!optionsEnded && arg == "--json") {
            json = true;
        } else if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && !arg.empty() && arg.front() == '-') {
            err << program_ << " ports: unknown option '" << arg << "' (see " << program_
                << " ports --help)\n";
            return kExitUsage;
        } else {
            names.push_back(arg);
        }
    }

    int status = kExitSuccess;
    std::vector<SerialPortInfo> ports;
    if (names.empty()) {
        ports = DiscoverSerialPorts(roots_);
    }
    for (const std::string& name : names) {
        std::optional<SerialPortInfo> port = DescribeSerialPort(name, roots_);
        if (!port) {
            err << program_ << " ports: "
                << DescribeOpenFailure(ENOENT, SerialDevicePath(SafeText(name), roots_.dev))
                << "\n";
            status = kExitPortNotOpened;
            continue;
        }
        ports.push_back(std::move(*port));
    }

    if (json) {
        for (const SerialPortInfo& port : ports) {
            const QByteArray line = QJsonDocument(PortObject(port)).toJson(QJsonDocument::Compact);
            out << std::string_view(line.constData(), static_cast<std::size_t>(line.size()))
                << "\n";
        }
        out.flush();
        return status;
    }
    if (ports.empty()) {
        if (names.empty()) {
            out << "No serial ports found.\n";
        }
        return status;
    }
    PrintTable(ports, out);
    if (std::any_of(ports.begin(), ports.end(), PermissionMissing)) {
        out << "\nPorts marked \"no permission\" are usually open to members of the \"dialout\"\n"
               "group: ask an administrator to add your account to it (sudo usermod -aG\n"
               "dialout $USER), then log out and in again.\n";
    }
    return status;
}

} // namespace quillon
