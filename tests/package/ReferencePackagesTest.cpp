#include "package/CEncImageFile.h"
#include "package/PackageDescription.h"
#include "package/VersionDescriptor.h"
#include "resources/EmbeddedResources.h"
#include "tests/package/TestPackages.h"

#include <QResource>
#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <vector>

namespace quillon {
namespace {

struct Reference {
    explicit Reference(const test::Bytes& bytes) {
        file.Attach(bytes.data(), bytes.size());
        indexed = file.BuildIndex();
    }
    CEncImageFile file;
    bool indexed = false;
};

std::vector<RecordHeader> Headers(CEncImageFile& file) {
    std::vector<RecordHeader> headers(static_cast<std::size_t>(file.GetRecordCount()));
    for (int n = 0; n < file.GetRecordCount(); ++n) {
        EXPECT_TRUE(file.ReadHeader(n, headers[static_cast<std::size_t>(n)]));
    }
    return headers;
}

std::vector<test::Bytes> Payloads(CEncImageFile& file) {
    std::vector<test::Bytes> payloads;
    RecordHeader header;
    for (int n = 0; n < file.GetRecordCount(); ++n) {
        file.ReadHeader(n, header);
        test::Bytes payload(header.PayloadSize());
        EXPECT_EQ(file.ReadPayload(n, payload.data(), payload.size()), kOk);
        payloads.push_back(std::move(payload));
    }
    return payloads;
}

TEST(ReferencePackagesTest, FirmwareImageLayout) {
    Reference image(test::ReferenceFirmware());
    EXPECT_TRUE(image.indexed);
    EXPECT_EQ(image.file.GetLength(), 110988u);
    ASSERT_EQ(image.file.GetRecordCount(), 58);

    const auto headers = Headers(image.file);
    EXPECT_EQ(headers[0].type, 0x8000);
    EXPECT_EQ(headers[0].blocks, 5);
    EXPECT_EQ(headers[0].parameter, 57u);
    EXPECT_EQ(headers[0].replyTimeout, 0u);
    for (int n = 1; n <= 57; ++n) {
        const RecordHeader& h = headers[static_cast<std::size_t>(n)];
        EXPECT_EQ(h.size, 14);
        EXPECT_EQ(h.type, 0x4000 + n);
        EXPECT_EQ(h.blocks, n < 57 ? 61 : 22);
        EXPECT_EQ(h.parameter, 0u);
        EXPECT_EQ(h.replyTimeout, 10000u);
    }
    EXPECT_EQ(image.file.FindRecord(0, 0x0039), 57);
    EXPECT_EQ(image.file.FindRecord(58, 1), -1);
    EXPECT_EQ(image.file.FindRecord(0, 1), 1);
}

TEST(ReferencePackagesTest, FirmwareImageDescription) {
    Reference image(test::ReferenceFirmware());
    EXPECT_EQ(image.file.ReadEntries(0),
              (std::vector<std::string>{"VERS:1.4.6", "PROD:KOLM", "TGTY:0;0,4;0,1;0,7;*;*;N,5",
                                        "TGTY:1;0;0,1;0,7;*;*;N,5", "TGTY:4,7;0-3;0-7;0,7;Y;*;N,5",
                                        "BILD:May 15 2006 16:01:56"}));
    VersionDescriptor d;
    ReadImageDescription(image.file, d);
    EXPECT_EQ(d.text, "1.4.6");
    EXPECT_EQ(d.major, 1);
    EXPECT_EQ(d.minor, 4);
    EXPECT_EQ(d.revision, 6);
    EXPECT_EQ(d.build, -1);
    EXPECT_EQ(d.product, "KOLM");
    EXPECT_EQ(d.buildStamp, "May 15 2006 16:01:56");
    EXPECT_EQ(d.timeStamp, 0);

    std::vector<std::string> patterns{"stale"};
    CollectImageTargetTypes(image.file, patterns);
    EXPECT_EQ(patterns, (std::vector<std::string>{"0;0,4;0,1;0,7;*;*;N,5", "1;0;0,1;0,7;*;*;N,5",
                                                  "4,7;0-3;0-7;0,7;Y;*;N,5"}));
    std::vector<std::string> none;
    EXPECT_EQ(image.file.CollectTargetTypes(1, none), -1);
    EXPECT_TRUE(none.empty());

    VersionDescriptor module;
    EXPECT_EQ(image.file.FindModuleDescriptor(0, module), 0);
    EXPECT_EQ(module.recordCount, 57);
    EXPECT_EQ(module.product, "KOLM");
}

TEST(ReferencePackagesTest, UtilityPackageRequestRecords) {
    Reference utility(test::ReferenceUtility());
    EXPECT_TRUE(utility.indexed);
    EXPECT_EQ(utility.file.GetLength(), 16206u);
    ASSERT_EQ(utility.file.GetRecordCount(), 81);
    const auto headers = Headers(utility.file);

    std::vector<std::pair<std::uint16_t, std::uint32_t>> expected;
    for (int k = 0; k < 10; ++k) {
        expected.emplace_back(0x3A00, 0);
    }
    for (int k = 0; k < 10; ++k) {
        expected.emplace_back(0x3A02, k < 5 ? 0 : 1);
    }
    for (std::uint32_t baud : {19200u, 38400u, 57600u, 115200u}) {
        for (int k = 0; k < 3; ++k) {
            expected.emplace_back(0x3A03, baud);
        }
    }
    for (int k = 0; k < 5; ++k) {
        expected.emplace_back(0x3A04, 0);
    }
    ASSERT_EQ(expected.size(), 37u);
    for (std::size_t n = 0; n < expected.size(); ++n) {
        EXPECT_EQ(headers[n].type, expected[n].first) << n;
        EXPECT_EQ(headers[n].parameter, expected[n].second) << n;
        EXPECT_EQ(headers[n].blocks, 1) << n;
        EXPECT_EQ(headers[n].replyTimeout, 1000u) << n;
    }
    // 115200 is stored as the bytes 00 C2 01 00.
    const test::Bytes& bytes = test::ReferenceUtility();
    const std::size_t at = utility.file.GetRecordOffset(31) + 6;
    EXPECT_EQ(test::Bytes(bytes.begin() + static_cast<long>(at),
                          bytes.begin() + static_cast<long>(at) + 4),
              (test::Bytes{0x00, 0xC2, 0x01, 0x00}));
    EXPECT_EQ(utility.file.FindRecord(0, 0x3A00), 0);
    EXPECT_EQ(utility.file.FindRecord(10, 0x3A00), -1);
}

TEST(ReferencePackagesTest, UtilityPackageModules) {
    struct Module {
        const char* name;
        const char* version;
        std::int32_t time;
        std::uint16_t blocks;
        const char* bootloader;
        const char* bootloaderVersion;
        const char* stamp;
    };
    const Module table[] = {
        {"BrdIDMod", "1.1.1", 1000, 23, "Tovrin", "1.0.10", "Oct 31 2007 11:27:49"},
        {"BrdIDMod", "1.1.1", 1000, 20, "Tovrin48", "2.1.2", "Oct 31 2007 11:27:49"},
        {"BrdIDMod", "1.1.1", 1000, 20, "Tovrin44", "2.1.2", "Oct 31 2007 11:27:49"},
        {"FlashMod", "1.0.6", 1000, 33, "Tovrin", "1.0.10", "Oct 31 2007 11:27:48"},
        {"FlashMod8", "1.0.1", 1000, 49, "Tovrin48", "2.1.2", "Oct 31 2007 11:27:48"},
        {"FlashMod4", "1.0.1", 1000, 49, "Tovrin44", "2.1.2", "Oct 31 2007 11:27:48"},
        {"FlashMod5", "1.0.1", 1000, 38, "Tovrin", "1.1.1", "Oct 31 2007 11:27:48"},
        {"FwCRCMod", "1.0.4", 8000, 30, "Tovrin", "1.0.10", "Oct 31 2007 11:27:50"},
        {"FwCRCMod8", "1.0.2", 8000, 47, "Tovrin48", "2.1.2", "Oct 31 2007 11:27:50"},
        {"FwCRCMod4", "1.0.2", 8000, 47, "Tovrin44", "2.1.2", "Oct 31 2007 11:27:50"},
        {"FwCRCMod5", "1.0.3", 16000, 34, "Tovrin", "1.1.1", "Oct 31 2007 11:27:50"},
    };
    Reference utility(test::ReferenceUtility());
    const auto headers = Headers(utility.file);
    ASSERT_EQ(headers.size(), 81u);
    int n = 37;
    for (const Module& m : table) {
        SCOPED_TRACE(std::string(m.name) + " for " + m.bootloader);
        VersionDescriptor loader;
        VersionDescriptor module;
        ASSERT_EQ(utility.file.FindLoaderDescriptor(n, loader), n);
        ASSERT_EQ(utility.file.FindModuleDescriptor(n, module), n + 1);
        EXPECT_EQ(headers[static_cast<std::size_t>(n)].blocks, 1);
        EXPECT_EQ(headers[static_cast<std::size_t>(n)].parameter, 0u);
        EXPECT_EQ(headers[static_cast<std::size_t>(n)].replyTimeout, 0u);
        EXPECT_EQ(loader.product, m.bootloader);
        EXPECT_EQ(loader.text, m.bootloaderVersion);
        EXPECT_EQ(loader.recordCount, 0);

        EXPECT_EQ(headers[static_cast<std::size_t>(n + 1)].blocks, 2);
        EXPECT_EQ(module.product, m.name);
        EXPECT_EQ(module.text, m.version);
        EXPECT_EQ(module.buildStamp, m.stamp);
        EXPECT_EQ(module.timeStamp, m.time);
        EXPECT_EQ(module.recordCount, 2);
        EXPECT_EQ(module.recordIndex, n + 1);

        const RecordHeader& start = headers[static_cast<std::size_t>(n + 2)];
        EXPECT_EQ(start.type, 0x7A05);
        EXPECT_EQ(start.blocks, 1);
        EXPECT_EQ(start.replyTimeout, static_cast<std::uint32_t>(m.time));
        const RecordHeader& data = headers[static_cast<std::size_t>(n + 3)];
        EXPECT_EQ(data.type, 0x4001);
        EXPECT_EQ(data.blocks, m.blocks);
        EXPECT_EQ(data.replyTimeout, static_cast<std::uint32_t>(m.time));
        n += 4;
    }
    EXPECT_EQ(n, 81);
}

TEST(ReferencePackagesTest, EveryEncipheredPayloadIsDistinct) {
    for (const test::Bytes* bytes : {&test::ReferenceFirmware(), &test::ReferenceUtility()}) {
        Reference package(*bytes);
        const auto headers = Headers(package.file);
        const auto payloads = Payloads(package.file);
        std::set<test::Bytes> seen;
        for (std::size_t n = 0; n < payloads.size(); ++n) {
            if (headers[n].IsDescriptor()) {
                continue;
            }
            EXPECT_TRUE(seen.insert(payloads[n]).second) << "record " << n;
            // Enciphered-looking: no long runs of one byte value.
            const auto zeros = std::count(payloads[n].begin(), payloads[n].end(), 0);
            EXPECT_LT(zeros, static_cast<long>(payloads[n].size() / 4)) << "record " << n;
        }
    }
}

TEST(ReferencePackagesTest, EmbeddedPackagesAreReadInPlace) {
    const auto firmware = EmbeddedResources::FirmwareImage();
    const auto utility = EmbeddedResources::UtilityPackage();
    ASSERT_FALSE(firmware.empty());
    ASSERT_FALSE(utility.empty());
    // Same memory on every call and the resource system's own bytes: nothing is copied.
    EXPECT_EQ(EmbeddedResources::FirmwareImage().data(), firmware.data());
    const QResource resource(QStringLiteral(":/quillon/packages/firmware.bin"));
    EXPECT_EQ(resource.compressionAlgorithm(), QResource::NoCompression);
    EXPECT_EQ(resource.data(), firmware.data());
#ifndef QUILLON_CUSTOM_PACKAGES
    EXPECT_TRUE(std::equal(firmware.begin(), firmware.end(), test::ReferenceFirmware().begin(),
                           test::ReferenceFirmware().end()));
    EXPECT_TRUE(std::equal(utility.begin(), utility.end(), test::ReferenceUtility().begin(),
                           test::ReferenceUtility().end()));
#endif
}

} // namespace
} // namespace quillon
