#include "cli/CInfoCommand.h"

#include "package/CEncImageFile.h"
#include "package/CInvalidFileError.h"
#include "package/PackageDescription.h"
#include "package/VersionDescriptor.h"
#include "resources/EmbeddedResources.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <span>
#include <sstream>

namespace quillon {

namespace {

// Package texts are single-byte Latin-1 strings; the terminal gets UTF-8.
std::string ForTerminal(const std::string& latin1) {
    const QByteArray utf8 =
        QString::fromLatin1(latin1.data(), static_cast<qsizetype>(latin1.size())).toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

std::string OrUnknown(const std::string& text) {
    return text.empty() ? std::string("Unknown") : text;
}

std::string Hex16(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFFu);
    return text;
}

std::string KindName(std::uint16_t type) {
    switch (type) {
    case kModuleDescriptor:
        return "module descriptor";
    case kLoaderDescriptor:
        return "loader descriptor";
    case kActivationBlock:
        return "activation block";
    case kInformationRequest:
        return "information request";
    case kBaudRateRequest:
        return "baud-rate request";
    case kLaunchRequest:
        return "launch request";
    case kModuleStartRecord:
        return "module start record";
    default:
        break;
    }
    if ((type & ~kCodeMask) == kReplyFlag && (type & kCodeMask) != 0) {
        return "data record " + std::to_string(type & kCodeMask);
    }
    return "other record";
}

// Rows of text cells printed in aligned columns; numeric columns are right-aligned.
class Table {
public:
    Table(std::string indent, std::vector<bool> rightAligned)
        : indent_(std::move(indent)), right_(std::move(rightAligned)) {}
    void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    void Print(std::ostream& out) const {
        std::vector<std::size_t> widths(right_.size(), 0);
        for (const auto& row : rows_) {
            for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) {
                widths[c] = std::max(widths[c], row[c].size());
            }
        }
        for (const auto& row : rows_) {
            std::string line = indent_;
            for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) {
                const std::string pad(widths[c] - row[c].size(), ' ');
                line += right_[c] ? pad + row[c] : row[c] + pad;
                if (c + 1 < row.size()) {
                    line += "  ";
                }
            }
            while (!line.empty() && line.back() == ' ') {
                line.pop_back();
            }
            out << ForTerminal(line) << "\n";
        }
    }

private:
    std::string indent_;
    std::vector<bool> right_;
    std::vector<std::vector<std::string>> rows_;
};

void PrintField(std::ostream& out, const std::string& label, const std::string& value) {
    constexpr std::size_t kLabelWidth = 14;
    std::string line = "  " + label + ":";
    line += std::string(kLabelWidth > label.size() ? kLabelWidth - label.size() : 1, ' ');
    out << ForTerminal(line + value) << "\n";
}

void PrintIndexWarning(std::ostream& out, bool indexed) {
    if (!indexed) {
        out << "  Warning: the package ends inside a record header; the records before it "
               "are shown.\n";
    }
}

struct Package {
    std::string label;  // for messages
    std::string origin; // file name, empty for the embedded package
    std::vector<std::uint8_t> storage;
    std::span<const std::uint8_t> bytes;
};

bool LoadFile(const std::string& path, Package& package) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    package.storage.clear();
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(chunk);
        package.storage.insert(package.storage.end(), bytes,
                               bytes + static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        return false;
    }
    package.origin = path;
    package.bytes = package.storage;
    return true;
}

} // namespace

CInfoCommand::CInfoCommand(std::string program) : program_(std::move(program)) {
}

std::string CInfoCommand::Summary() const {
    return "show the firmware image and the utility package this build carries";
}

std::string CInfoCommand::Usage() const {
    return "Usage: " + program_ + " info [--firmware FILE] [--utility FILE]\n\n" +
           "Shows the embedded firmware image (product, version, build stamp, size, records,\n"
           "target board types) and the embedded utility package (size, records by kind,\n"
           "modules with the bootloader each needs).\n\n"
           "Options:\n"
           "  --firmware FILE  show the firmware image in FILE instead of the embedded one\n"
           "  --utility FILE   show the utility package in FILE instead of the embedded one\n"
           "  -h, --help       show this help and exit\n";
}

int CInfoCommand::Fail(std::ostream& err, const std::string& message) const {
    err << program_ << " info: " << message << "\n";
    return 1;
}

int CInfoCommand::Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Package firmware{"firmware image", "", {}, EmbeddedResources::FirmwareImage()};
    Package utility{"utility package", "", {}, EmbeddedResources::UtilityPackage()};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            out << Usage();
            return 0;
        }
        Package* target = nullptr;
        std::string path;
        const std::pair<const char*, Package*> options[] = {{"--firmware", &firmware},
                                                            {"--utility", &utility}};
        for (const auto& [option, package] : options) {
            const std::string name = option;
            if (arg == name) {
                if (i + 1 >= args.size()) {
                    return Fail(err, "option " + name + " needs a file name (see " + program_ +
                                         " info --help)");
                }
                target = package;
                path = args[++i];
            } else if (arg.rfind(name + "=", 0) == 0) {
                target = package;
                path = arg.substr(name.size() + 1);
            }
        }
        if (target == nullptr) {
            const bool option = !arg.empty() && arg.front() == '-';
            return Fail(err, (option ? "unknown option '" : "unexpected argument '") + arg +
                                 "' (see " + program_ + " info --help)");
        }
        if (!LoadFile(path, *target)) {
            return Fail(err, "cannot read " + path);
        }
    }

    Package* current = &firmware;
    try {
        CEncImageFile image;
        image.Attach(firmware.bytes);
        image.SetFilePath(firmware.origin);
        const bool imageIndexed = image.BuildIndex();
        DescribeFirmware(image, imageIndexed, out);
        out << "\n";

        current = &utility;
        CEncImageFile utilityFile;
        utilityFile.Attach(utility.bytes);
        utilityFile.SetFilePath(utility.origin);
        const bool utilityIndexed = utilityFile.BuildIndex();
        DescribeUtility(utilityFile, utilityIndexed, out);
    } catch (const CInvalidFileError&) {
        out.flush();
        return Fail(err, "the " + current->label +
                             (current->origin.empty() ? "" : " " + current->origin) +
                             " is damaged: a record header cannot be read");
    }
    return 0;
}

void CInfoCommand::DescribeFirmware(CEncImageFile& image, bool indexed, std::ostream& out) const {
    out << "Firmware image\n";
    if (image.GetLength() == 0) {
        out << "  (none)\n";
        return;
    }
    VersionDescriptor description;
    ReadImageDescription(image, description);
    std::vector<std::string> patterns;
    CollectImageTargetTypes(image, patterns);

    PrintField(out, "Product", OrUnknown(description.product));
    PrintField(out, "Version", OrUnknown(description.text));
    PrintField(out, "Build stamp", OrUnknown(description.buildStamp));
    PrintField(out, "Size", std::to_string(image.GetLength()) + " bytes");
    PrintField(out, "Records", std::to_string(image.GetRecordCount()));
    PrintIndexWarning(out, indexed);
    if (patterns.empty()) {
        PrintField(out, "Target boards", "none");
        return;
    }
    out << "  Target board types:\n";
    for (std::size_t k = 0; k < patterns.size(); ++k) {
        out << ForTerminal("    " + std::to_string(k + 1) + ". " + patterns[k]) << "\n";
    }
}

void CInfoCommand::DescribeUtility(CEncImageFile& utility, bool indexed, std::ostream& out) const {
    out << "Utility package\n";
    if (utility.GetLength() == 0) {
        out << "  (none)\n";
        return;
    }
    PrintField(out, "Size", std::to_string(utility.GetLength()) + " bytes");
    PrintField(out, "Records", std::to_string(utility.GetRecordCount()));
    PrintIndexWarning(out, indexed);

    // Record kinds in order of first appearance.
    std::vector<std::uint16_t> order;
    std::map<std::uint16_t, int> counts;
    RecordHeader header;
    for (int n = 0; n < utility.GetRecordCount(); ++n) {
        utility.ReadHeader(n, header);
        if (counts[header.type]++ == 0) {
            order.push_back(header.type);
        }
    }
    if (!order.empty()) {
        out << "  Record kinds:\n";
        Table kinds("    ", {false, false, true});
        for (std::uint16_t type : order) {
            kinds.Add({Hex16(type), KindName(type), std::to_string(counts[type])});
        }
        kinds.Print(out);
    }

    Table modules("    ", {false, false, false, true, true, true, false, false});
    modules.Add({"Name", "Version", "Build stamp", "TIME (ms)", "Records", "Blocks", "Bootloader",
                 "Minimum version"});
    int moduleCount = 0;
    VersionDescriptor module;
    for (int m = utility.FindModuleDescriptor(0, module); m >= 0;
         m = utility.FindModuleDescriptor(m + 1, module)) {
        ++moduleCount;
        // The data records that belong to the module follow its descriptor.
        long long blocks = 0;
        const long long end = std::min<long long>(static_cast<long long>(m) + module.recordCount,
                                                  utility.GetRecordCount() - 1LL);
        for (int n = m + 1; n <= end; ++n) {
            utility.ReadHeader(n, header);
            blocks += header.blocks;
        }
        // The loader descriptor closest before the module names its bootloader.
        std::optional<VersionDescriptor> governing;
        VersionDescriptor loader;
        for (int l = utility.FindLoaderDescriptor(0, loader); l >= 0 && l < m;
             l = utility.FindLoaderDescriptor(l + 1, loader)) {
            governing = loader;
        }
        modules.Add({OrUnknown(module.product), OrUnknown(module.text), module.buildStamp,
                     std::to_string(module.timeStamp), std::to_string(module.recordCount),
                     std::to_string(blocks), governing ? governing->product : "-",
                     governing ? OrUnknown(governing->text) : "-"});
    }
    out << "  Modules: " << moduleCount << "\n";
    if (moduleCount > 0) {
        modules.Print(out);
    }
}

} // namespace quillon
