#include "package/CEncImageFile.h"
#include "package/RecordHeader.h"
#include "package/VersionDescriptor.h"
#include "tools/pkgbuild/CManifest.h"
#include "tools/pkgbuild/CPackageBuilder.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace quillon {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Build(const std::string& manifestText) {
    CManifest manifest;
    EXPECT_TRUE(manifest.Parse(manifestText)) << manifest.Error();
    CPackageBuilder builder;
    Bytes bytes;
    EXPECT_TRUE(builder.Build(manifest, bytes)) << builder.Error();
    return bytes;
}

std::string ParseError(const std::string& manifestText) {
    CManifest manifest;
    EXPECT_FALSE(manifest.Parse(manifestText));
    return manifest.Error();
}

std::string BuildError(const std::string& manifestText) {
    CManifest manifest;
    EXPECT_TRUE(manifest.Parse(manifestText)) << manifest.Error();
    CPackageBuilder builder;
    Bytes bytes;
    EXPECT_FALSE(builder.Build(manifest, bytes));
    return builder.Error();
}

const char* const kSmall = R"(# a comment
seed 0x1234
expect size=262 records=5

record 0x8000 blocks=2 param=3   # module descriptor
  entry VERS:1.0.3
  entry PROD:Mod # with a hash
record 0x7A05 blocks=1 timeout=250
record 0x4001 blocks=1 param=7 timeout=250 count=3 step=1
)";

TEST(PackageBuilderTest, BuildsRecordsAsTheManifestSays) {
    const Bytes bytes = Build(kSmall);
    ASSERT_EQ(bytes.size(), 262u);
    CEncImageFile file;
    file.Attach(bytes.data(), bytes.size());
    ASSERT_TRUE(file.BuildIndex());
    ASSERT_EQ(file.GetRecordCount(), 5);
    RecordHeader h;
    const std::uint16_t types[] = {0x8000, 0x7A05, 0x4001, 0x4002, 0x4003};
    for (int n = 0; n < 5; ++n) {
        ASSERT_TRUE(file.ReadHeader(n, h));
        EXPECT_EQ(h.type, types[n]);
    }
    file.ReadHeader(3, h);
    EXPECT_EQ(h.parameter, 7u);
    EXPECT_EQ(h.replyTimeout, 250u);

    VersionDescriptor d;
    ASSERT_EQ(file.FindModuleDescriptor(0, d), 0);
    EXPECT_EQ(d.text, "1.0.3");
    EXPECT_EQ(d.product, "Mod # with a hash"); // "#" inside an entry is text
    EXPECT_EQ(d.recordCount, 3);
    Bytes payload(64);
    ASSERT_EQ(file.ReadPayload(0, payload.data(), payload.size()), kOk);
    // "VERS:1.0.3" and "PROD:Mod # with a hash" with their zeros fill 34 bytes; the closing
    // empty entry and zeros to the block boundary follow.
    EXPECT_EQ(payload[10], 0);
    EXPECT_EQ(payload[33], 0);
    EXPECT_EQ(std::count(payload.begin() + 33, payload.end(), 0), 31);
}

TEST(PackageBuilderTest, SameManifestSamePackageOtherSeedOtherPayloads) {
    EXPECT_EQ(Build(kSmall), Build(kSmall));
    std::string reseeded = kSmall;
    reseeded.replace(reseeded.find("0x1234"), 6, "0x1235");
    const Bytes a = Build(kSmall);
    const Bytes b = Build(reseeded);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_NE(a, b);
    // The descriptors do not depend on the seed.
    EXPECT_TRUE(std::equal(a.begin(), a.begin() + 14 + 64, b.begin()));
}

TEST(PackageBuilderTest, GeneratedPayloadsAreDistinctPerRecord) {
    std::set<Bytes> seen;
    for (std::uint64_t index = 0; index < 2000; ++index) {
        EXPECT_TRUE(seen.insert(CPackageBuilder::GeneratePayload(7, index, 32)).second);
    }
    const Bytes longer = CPackageBuilder::GeneratePayload(7, 3, 61 * 32);
    EXPECT_TRUE(std::equal(longer.begin(), longer.begin() + 32,
                           CPackageBuilder::GeneratePayload(7, 3, 32).begin()));
    // Looks enciphered: every byte value turns up in a few kilobytes.
    std::set<std::uint8_t> values(longer.begin(), longer.end());
    EXPECT_EQ(values.size(), 256u);
}

TEST(PackageBuilderTest, RefusesManifestMistakesWithTheLine) {
    EXPECT_EQ(ParseError("seed 1\nrecord 0x3A00\n"), "line 2: a record needs blocks=N");
    EXPECT_EQ(
        ParseError("seed 1\nrecord 0x10000 blocks=1\n").rfind("line 2: a record needs a type", 0),
        0u);
    EXPECT_EQ(ParseError("record 0x3A00 blocks=1 colour=red\n"),
              "line 1: bad or unknown setting \"colour=red\"");
    EXPECT_EQ(ParseError("record 0x3A00 blocks=70000\n"),
              "line 1: bad or unknown setting \"blocks=70000\"");
    EXPECT_EQ(ParseError("record 0x3A00 blocks=1 count=0\n"),
              "line 1: bad or unknown setting \"count=0\"");
    EXPECT_EQ(ParseError("record 0x4001 blocks=1\nentry PROD:x\n"),
              "line 2: an entry must follow a descriptor record (type with bit 15 set)");
    EXPECT_EQ(ParseError("record 0x8000 blocks=1 count=2\nentry PROD:x\n"),
              "line 2: a descriptor record with entries must have count 1");
    EXPECT_EQ(ParseError("record 0x8000 blocks=1\nentry   \n"),
              "line 2: an empty entry would end the descriptor's entries");
    EXPECT_EQ(ParseError("record 0x3A00 blocks=1\nseed 5\n"),
              "line 2: the seed must be given once, before the first record");
    EXPECT_EQ(ParseError("launch 0x3A04\n"), "line 1: unknown statement \"launch\"");
    EXPECT_EQ(ParseError("record 0xFFFF blocks=1 count=2 step=1\n"),
              "line 1: the types of the repeated records run past 0xFFFF");
    EXPECT_EQ(ParseError("# nothing\n"), "line 1: the manifest describes no records");
}

TEST(PackageBuilderTest, RefusesPackagesThatCannotBeSound) {
    // 31 bytes of entry + its zero fill one block; the closing empty entry does not fit.
    EXPECT_EQ(BuildError("record 0x8000 blocks=1\nentry PROD:" + std::string(26, 'x') + "\n"),
              "line 1: the entries and the closing empty entry need more than the record's "
              "32 bytes");
    EXPECT_EQ(BuildError("expect size=10\nrecord 0x3A00 blocks=1\n"),
              "the package has 46 bytes, expected 10");
    EXPECT_EQ(BuildError("expect records=2\nrecord 0x3A00 blocks=1\n"),
              "the package has 1 records, expected 2");
    // One byte shorter fits exactly.
    Build("record 0x8000 blocks=1\nentry PROD:" + std::string(25, 'x') + "\n");
}

} // namespace
} // namespace quillon
