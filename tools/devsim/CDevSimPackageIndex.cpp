#include "tools/devsim/CDevSimPackageIndex.h"

#include "package/CEncImageFile.h"

#include <algorithm>
#include <cctype>
#include <functional>

namespace quillon {

namespace {

std::string Lowered(const std::string& text) {
    std::string out = text;
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::uint16_t Crc16Ccitt(std::uint16_t crc, std::span<const std::uint8_t> bytes) {
    for (std::uint8_t byte : bytes) {
        crc = static_cast<std::uint16_t>(crc ^ (byte << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000u) != 0 ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021u)
                                       : static_cast<std::uint16_t>(crc << 1);
        }
    }
    return crc;
}

} // namespace

CDevSimPackageIndex::Role CDevSimPackageIndex::RoleOfName(const std::string& name) {
    const std::string lowered = Lowered(name);
    if (lowered.starts_with("brdidmod")) {
        return Role::BoardId;
    }
    if (lowered.starts_with("flashmod")) {
        return Role::Flash;
    }
    if (lowered.starts_with("fwcrcmod")) {
        return Role::Crc;
    }
    return Role::Other;
}

CDevSimPackageIndex::CDevSimPackageIndex(std::span<const std::uint8_t> utility,
                                         std::span<const std::uint8_t> image) {
    AddPackage(DevSimPackage::Utility, utility);
    AddPackage(DevSimPackage::Image, image);

    for (const Module& module : m_modules) {
        if (module.package != DevSimPackage::Image) {
            continue;
        }
        for (int record : module.records) {
            m_records[static_cast<std::size_t>(record)].imageSlot =
                static_cast<int>(m_imageSlots.size());
            m_imageSlots.push_back(record);
            m_imageCrc =
                Crc16Ccitt(m_imageCrc, m_records[static_cast<std::size_t>(record)].payload);
        }
    }

    // Sorted by payload bytes so that the head of the received bytes is judged by a binary
    // search. Of two records with the same payload only the first can ever be recognised.
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        m_sortedByPayload.push_back(static_cast<int>(i));
        m_longestPayload = std::max(m_longestPayload, m_records[i].payload.size());
    }
    std::stable_sort(m_sortedByPayload.begin(), m_sortedByPayload.end(), [this](int a, int b) {
        return m_records[static_cast<std::size_t>(a)].payload <
               m_records[static_cast<std::size_t>(b)].payload;
    });
    auto same = [this](int a, int b) {
        return m_records[static_cast<std::size_t>(a)].payload ==
               m_records[static_cast<std::size_t>(b)].payload;
    };
    m_sortedByPayload.erase(std::unique(m_sortedByPayload.begin(), m_sortedByPayload.end(), same),
                            m_sortedByPayload.end());
    for (int index : m_sortedByPayload) {
        m_lengths.push_back(m_records[static_cast<std::size_t>(index)].payload.size());
    }
    std::sort(m_lengths.begin(), m_lengths.end(), std::greater<>());
    m_lengths.erase(std::unique(m_lengths.begin(), m_lengths.end()), m_lengths.end());
}

void CDevSimPackageIndex::AddPackage(DevSimPackage package, std::span<const std::uint8_t> bytes) {
    CEncImageFile file;
    file.Attach(bytes);
    file.BuildIndex();

    std::optional<VersionDescriptor> pendingLoader;
    bool described = false;
    int moduleOpen = -1; // index into m_modules while its data records follow
    int remaining = 0;
    for (int n = 0; n < file.GetRecordCount(); ++n) {
        RecordHeader header;
        file.ReadHeader(n, header);
        if (header.type == kLoaderDescriptor) {
            VersionDescriptor loader;
            file.FindLoaderDescriptor(n, loader);
            pendingLoader = loader;
            moduleOpen = -1;
            continue;
        }
        if (header.type == kModuleDescriptor) {
            VersionDescriptor descriptor;
            file.FindModuleDescriptor(n, descriptor);
            Module module;
            module.package = package;
            module.descriptorIndex = n;
            module.name = descriptor.product;
            module.role =
                package == DevSimPackage::Image ? Role::Image : RoleOfName(descriptor.product);
            module.loader = pendingLoader;
            pendingLoader.reset();
            m_modules.push_back(std::move(module));
            moduleOpen = static_cast<int>(m_modules.size()) - 1;
            remaining = std::max(0, descriptor.recordCount);
            if (package == DevSimPackage::Image && !described) {
                described = true;
                m_imageDescription = descriptor;
            }
            continue;
        }
        if (header.IsDescriptor()) {
            continue; // some other plain record: never on the line
        }

        Record record;
        record.ref = DevSimRecordRef{package, n};
        record.header = header;
        record.payload.resize(header.PayloadSize());
        if (!record.payload.empty()) {
            file.ReadPayload(n, record.payload.data(), record.payload.size());
        }
        if (moduleOpen >= 0 && remaining > 0) {
            Module& module = m_modules[static_cast<std::size_t>(moduleOpen)];
            record.module = moduleOpen;
            record.ordinal = static_cast<int>(module.records.size());
            module.records.push_back(static_cast<int>(m_records.size()));
            if (--remaining == 0) {
                moduleOpen = -1;
            }
        }
        if (!record.payload.empty()) {
            m_records.push_back(std::move(record));
        }
    }
}

std::string CDevSimPackageIndex::Describe(const Record& record) const {
    if (record.module >= 0) {
        const Module& module = m_modules[static_cast<std::size_t>(record.module)];
        return module.name + " record " + std::to_string(record.ordinal + 1) + " of " +
               std::to_string(module.records.size());
    }
    switch (record.header.type) {
    case kActivationBlock:
        return "activation block";
    case kInformationRequest:
        return "information request " + std::to_string(record.header.parameter);
    case kBaudRateRequest:
        return "baud-rate request " + std::to_string(record.header.parameter);
    case kLaunchRequest:
        return "launch request";
    default:
        return "request";
    }
}

const CDevSimPackageIndex::Record* CDevSimPackageIndex::Find(const DevSimRecordRef& ref) const {
    for (const Record& record : m_records) {
        if (record.ref == ref) {
            return &record;
        }
    }
    return nullptr;
}

CDevSimPackageIndex::MatchResult
CDevSimPackageIndex::MatchHead(std::span<const std::uint8_t> bytes) const {
    MatchResult result;
    if (bytes.empty()) {
        return result;
    }
    auto payloadOf = [this](int index) -> const std::vector<std::uint8_t>& {
        return m_records[static_cast<std::size_t>(index)].payload;
    };
    auto less = [](std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
    };

    // A whole payload at the head: one exact search per payload length, longest first.
    for (std::size_t length : m_lengths) {
        if (length > bytes.size()) {
            continue;
        }
        const auto head = bytes.first(length);
        auto it = std::lower_bound(m_sortedByPayload.begin(), m_sortedByPayload.end(), head,
                                   [&](int index, std::span<const std::uint8_t> key) {
                                       return less(payloadOf(index), key);
                                   });
        if (it != m_sortedByPayload.end() && std::ranges::equal(payloadOf(*it), head)) {
            result.match = Match::Complete;
            result.record = &m_records[static_cast<std::size_t>(*it)];
            return result;
        }
    }

    // The payloads that begin with the bytes follow each other from the first payload that
    // is not below them.
    auto it = std::lower_bound(
        m_sortedByPayload.begin(), m_sortedByPayload.end(), bytes,
        [&](int index, std::span<const std::uint8_t> key) { return less(payloadOf(index), key); });
    if (it != m_sortedByPayload.end()) {
        const auto& payload = payloadOf(*it);
        if (payload.size() > bytes.size() &&
            std::equal(bytes.begin(), bytes.end(), payload.begin())) {
            result.match = Match::Partial;
        }
    }
    return result;
}

} // namespace quillon
