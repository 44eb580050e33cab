#include "package/CEncImageFile.h"
#include "package/DescriptorEntry.h"
#include "package/PackageDescription.h"
#include "package/VersionDescriptor.h"
#include "tests/package/TestPackages.h"

#include <gtest/gtest.h>
#include <limits>
#include <memory>

namespace quillon {
namespace {

using test::AppendDescriptor;
using test::AppendRecord;
using test::Bytes;
using test::Entries;

// Owns an exact-size copy of the bytes and the indexed package over it.
struct Image {
    explicit Image(Bytes b) : bytes(std::move(b)) {
        file.Attach(bytes.data(), bytes.size());
        file.BuildIndex();
    }
    Bytes bytes;
    CEncImageFile file;
};

TEST(DescriptorEntryTest, FindsTagsAnywhereIgnoringCase) {
    EXPECT_TRUE(HasTag("PROD:KOLM", "prod"));
    EXPECT_TRUE(HasTag("prod:abc", "prod"));
    EXPECT_TRUE(HasTag("xxPrOdUcT", "prod"));
    EXPECT_TRUE(HasTag("BILD:runtime 2", "time"));
    EXPECT_FALSE(HasTag("PRO D", "prod"));
    EXPECT_FALSE(HasTag("", "vers"));
    // Bytes above 0x7F are left alone by the lower-casing: no locale surprises.
    EXPECT_FALSE(HasTag("\xD0ROD", "prod"));
    EXPECT_TRUE(HasTag("\xFFVERS\x80", "vers"));
    EXPECT_EQ(ToLowerAscii("AbC\xC4\xE4"), "abc\xC4\xE4");
    EXPECT_TRUE(EqualsIgnoreCase("Tovrin48", "TOVRIN48"));
    EXPECT_FALSE(EqualsIgnoreCase("Tovrin", "Tovrin4"));
    EXPECT_FALSE(EqualsIgnoreCase("\xC4", "\xE4"));
}

TEST(DescriptorEntryTest, ValueIsTheTextAfterTheFirstColon) {
    EXPECT_EQ(TagValue("PROD:abc"), "abc");
    EXPECT_EQ(TagValue("BILD:May 15 2006 16:01:56"), "May 15 2006 16:01:56");
    EXPECT_EQ(TagValue("PRODUCT"), "PRODUCT");
    EXPECT_EQ(TagValue("Prod=abc"), "Prod=abc");
    EXPECT_EQ(TagValue("TGTY:"), "");
    EXPECT_EQ(TagValue(""), "");
}

TEST(DescriptorEntryTest, DecimalConversion) {
    EXPECT_EQ(ParseDecimal("16000"), 16000);
    EXPECT_EQ(ParseDecimal("abc"), 0);
    EXPECT_EQ(ParseDecimal(""), 0);
    EXPECT_EQ(ParseDecimal("  \t42ms"), 42);
    EXPECT_EQ(ParseDecimal("-17"), -17);
    EXPECT_EQ(ParseDecimal("+17"), 17);
    EXPECT_EQ(ParseDecimal("- 17"), 0);
    EXPECT_EQ(ParseDecimal("--1"), 0);
    EXPECT_EQ(ParseDecimal("2147483647"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(ParseDecimal("2147483648"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(ParseDecimal("99999999999999999999999999"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(ParseDecimal("-2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(ParseDecimal("-99999999999999999999999999"),
              std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(ParseDecimal("00000000000000000000000012"), 12);
}

TEST(DescriptorTest, ReadsModuleDescriptorEntries) {
    Bytes bytes;
    AppendRecord(bytes, 0x3A00, 1);
    AppendDescriptor(bytes, 0x8000,
                     {"VERS:1.0.3", "PROD:FwCRCMod5", "BILD:Oct 31 2007 11:27:50", "TIME:16000"},
                     2);
    Image image(bytes);
    VersionDescriptor d;
    EXPECT_EQ(image.file.FindModuleDescriptor(0, d), 1);
    EXPECT_EQ(d.text, "1.0.3");
    EXPECT_EQ(d.revision, 3);
    EXPECT_EQ(d.product, "FwCRCMod5");
    EXPECT_EQ(d.buildStamp, "Oct 31 2007 11:27:50");
    EXPECT_EQ(d.timeStamp, 16000);
    EXPECT_EQ(d.recordIndex, 1);
    EXPECT_EQ(d.recordCount, 2);
}

TEST(DescriptorTest, EntryRulesOneByOne) {
    struct Case {
        std::initializer_list<std::string> entries;
        std::string product;
        std::string buildStamp;
        std::int32_t time;
        std::string text;
    };
    const Case cases[] = {
        {{"prod:abc"}, "abc", "", 0, ""},
        {{"PRODUCT"}, "PRODUCT", "", 0, ""},
        {{"BILD:runtime 2"}, "", "runtime 2", 0, ""},
        {{"PROD:X", "VERS:1.2.3"}, "", "", 0, "1.2.3"},
        {{"VERS:1.2.3", "PROD:X"}, "X", "", 0, "1.2.3"},
        {{"TIME:16000"}, "", "", 16000, ""},
        {{"TIME:abc"}, "", "", 0, ""},
        {{"TIME:8000", "VERS:1.0.0"}, "", "", 0, "1.0.0"}, // VERS erases what came before
    };
    for (const Case& c : cases) {
        Bytes bytes;
        const Bytes payload = Entries(c.entries);
        AppendRecord(bytes, 0x8000, test::BlocksFor(payload), 0, 0, payload);
        Image image(bytes);
        VersionDescriptor d;
        ASSERT_EQ(image.file.FindModuleDescriptor(0, d), 0);
        EXPECT_EQ(d.product, c.product) << *c.entries.begin();
        EXPECT_EQ(d.buildStamp, c.buildStamp) << *c.entries.begin();
        EXPECT_EQ(d.timeStamp, c.time) << *c.entries.begin();
        EXPECT_EQ(d.text, c.text) << *c.entries.begin();
    }
}

TEST(DescriptorTest, LaterVersEntryParsesAgain) {
    Bytes bytes;
    AppendDescriptor(bytes, 0x8001, {"VERS:1.0.10", "PROD:Tovrin", "VERS:2.1.2"});
    Image image(bytes);
    VersionDescriptor d;
    EXPECT_EQ(image.file.FindLoaderDescriptor(0, d), 0);
    EXPECT_EQ(d.text, "2.1.2");
    EXPECT_EQ(d.product, ""); // the second VERS reset it
}

TEST(DescriptorTest, OneBlockLoaderDescriptor) {
    Bytes bytes;
    AppendRecord(bytes, 0x8001, 1, 0, 0, Entries({"VERS:1.0.10", "PROD:Tovrin"}));
    Image image(bytes);
    VersionDescriptor d;
    EXPECT_EQ(image.file.FindLoaderDescriptor(0, d), 0);
    EXPECT_EQ(d.text, "1.0.10");
    EXPECT_EQ(d.product, "Tovrin");
    EXPECT_EQ(d.recordCount, 0);
    EXPECT_EQ(d.recordIndex, 0);
    EXPECT_EQ(image.file.FindModuleDescriptor(0, d), -1); // type must be exactly 0x8000
}

TEST(DescriptorTest, FindersNeedTheExactTypeAndLeaveTheOutputAloneWithoutOne) {
    Bytes bytes;
    AppendRecord(bytes, 0x4001, 1, 0, 0, Entries({"PROD:not a descriptor"}));
    AppendRecord(bytes, 0xC000, 1, 0, 0, Entries({"PROD:reply bit set"}));
    AppendDescriptor(bytes, 0x8001, {"VERS:1.0.10", "PROD:Tovrin"});
    Image image(bytes);
    VersionDescriptor d;
    d.product = "kept";
    EXPECT_EQ(image.file.FindModuleDescriptor(0, d), -1);
    EXPECT_EQ(d.product, "kept");
    EXPECT_EQ(image.file.FindLoaderDescriptor(-7, d), 2); // negative start counts as 0
    EXPECT_EQ(image.file.FindLoaderDescriptor(3, d), -1);
    EXPECT_EQ(image.file.FindLoaderDescriptor(INT32_MAX, d), -1);

    std::vector<std::string> list{"x"};
    EXPECT_EQ(image.file.CollectTargetTypes(0, list), -1);
    EXPECT_EQ(list, std::vector<std::string>{"x"});
}

TEST(DescriptorTest, EntriesWithoutTheClosingEmptyEntryEndWithThePayload) {
    // 32 bytes exactly filled: "PROD:" + 26 characters + zero, no closing empty entry.
    Bytes full = Entries({"PROD:" + std::string(26, 'p')}, false);
    ASSERT_EQ(full.size(), 32u);
    Bytes bytes;
    AppendRecord(bytes, 0x8000, 1, 0, 0, full);
    // No zero byte at all: the entry runs to the end of the payload.
    Bytes noZero(32, 'q');
    std::copy_n("TIME:123", 8, noZero.begin());
    AppendRecord(bytes, 0x8000, 1, 0, 0, noZero);
    Image image(bytes);

    VersionDescriptor d;
    ASSERT_EQ(image.file.FindModuleDescriptor(0, d), 0);
    EXPECT_EQ(d.product, std::string(26, 'p'));
    ASSERT_EQ(image.file.FindModuleDescriptor(1, d), 1);
    EXPECT_EQ(d.timeStamp, 123);
    EXPECT_EQ(image.file.ReadEntries(1),
              std::vector<std::string>{"TIME:123" + std::string(24, 'q')});
}

TEST(DescriptorTest, EntriesStopAtTheFirstEmptyOne) {
    Bytes payload = Entries({"PROD:A"});
    const Bytes more = Entries({"PROD:B"});
    payload.insert(payload.end(), more.begin(), more.end());
    Bytes bytes;
    AppendRecord(bytes, 0x8000, 1, 0, 0, payload);
    AppendRecord(bytes, 0x8000, 1, 0, 0, Bytes(32, 0)); // no entries at all
    AppendRecord(bytes, 0x8000, 0);                     // no payload at all
    Image image(bytes);
    EXPECT_EQ(image.file.ReadEntries(0), std::vector<std::string>{"PROD:A"});
    EXPECT_TRUE(image.file.ReadEntries(1).empty());
    EXPECT_TRUE(image.file.ReadEntries(2).empty());
    VersionDescriptor d;
    EXPECT_EQ(image.file.FindModuleDescriptor(2, d), 2);
    EXPECT_EQ(d.recordIndex, 2);
    EXPECT_EQ(d.orderKey, -1);
}

TEST(DescriptorTest, TruncatedDescriptorReadsOnlyWhatIsThere) {
    Bytes bytes;
    AppendDescriptor(bytes, 0x8000, {"VERS:1.4.6", "PROD:KOLM", "BILD:May 15 2006 16:01:56"});
    bytes.resize(kRecordHeaderSize + 17); // cut after "PROD:K"
    Image image(bytes);
    VersionDescriptor d;
    ASSERT_EQ(image.file.FindModuleDescriptor(0, d), 0);
    EXPECT_EQ(d.text, "1.4.6");
    EXPECT_EQ(d.product, "K"); // the missing rest reads as zeros
    EXPECT_EQ(d.buildStamp, "");
}

TEST(DescriptorTest, HighBytesInEntriesAreKeptAsTheyAre) {
    Bytes bytes;
    AppendDescriptor(bytes, 0x8000, {"PROD:Caf\xE9", "TGTY:\xBB;\x80", "VERS:\xFF.1.2"});
    Image image(bytes);
    VersionDescriptor d;
    ASSERT_EQ(image.file.FindModuleDescriptor(0, d), 0);
    EXPECT_EQ(d.text, "\xFF.1.2");
    EXPECT_EQ(d.major, 0);
    std::vector<std::string> list;
    EXPECT_EQ(image.file.CollectTargetTypes(0, list), 0);
    EXPECT_EQ(list, std::vector<std::string>{"\xBB;\x80"});
}

TEST(DescriptorTest, CollectTargetTypesReadsOnlyTheFirstModuleDescriptor) {
    Bytes bytes;
    AppendDescriptor(bytes, 0x8001, {"TGTY:loader"});
    AppendDescriptor(bytes, 0x8000, {"VERS:1.4.6", "TGTY:a", "tgty:b", "XTGTYX"});
    AppendDescriptor(bytes, 0x8000, {"TGTY:c"});
    Image image(bytes);
    std::vector<std::string> list{"kept"};
    EXPECT_EQ(image.file.CollectTargetTypes(0, list), 1);
    EXPECT_EQ(list, (std::vector<std::string>{"kept", "a", "b", "XTGTYX"}));
    EXPECT_EQ(image.file.CollectTargetTypes(2, list), 2);
    EXPECT_EQ(list.back(), "c");

    CollectImageTargetTypes(image.file, list);
    EXPECT_EQ(list, (std::vector<std::string>{"a", "b", "XTGTYX"}));
}

TEST(PackageDescriptionTest, ImageDescriptionTakesTheFirstVersionOfEachDescriptor) {
    Bytes bytes;
    AppendDescriptor(bytes, 0x8000,
                     {"PROD:early", "VERS:1.4.6", "PROD:KOLM", "VERS:9.9.9", "BILD:stamp"}, 1);
    AppendRecord(bytes, 0x4001, 1);
    Image image(bytes);
    VersionDescriptor d;
    d.text = "old";
    d.recordIndex = 9;
    ReadImageDescription(image.file, d);
    EXPECT_EQ(d.text, "1.4.6"); // the second VERS of the record is ignored
    EXPECT_EQ(d.product, "KOLM");
    EXPECT_EQ(d.buildStamp, "stamp");
    EXPECT_EQ(d.recordIndex, 0);
    EXPECT_EQ(d.recordCount, 0);
}

TEST(PackageDescriptionTest, LaterDescriptorsReplaceTheDescription) {
    Bytes bytes;
    AppendDescriptor(bytes, 0x8000, {"VERS:1.0.0", "PROD:first", "TIME:5"});
    AppendDescriptor(bytes, 0x8000, {"PROD:second"});
    AppendDescriptor(bytes, 0x8000, {"BILD:stamp", "VERS:2.0.0"});
    Image image(bytes);
    VersionDescriptor d;
    ReadImageDescription(image.file, d);
    EXPECT_EQ(d.text, "2.0.0");
    EXPECT_EQ(d.product, ""); // the third descriptor's VERS emptied it
    EXPECT_EQ(d.buildStamp, "");
    EXPECT_EQ(d.timeStamp, 0);
}

TEST(PackageDescriptionTest, NoDescriptorLeavesTheDescriptionReset) {
    Bytes bytes;
    AppendRecord(bytes, 0x4001, 2);
    Image image(bytes);
    VersionDescriptor d;
    d.SetText("1.2.3");
    d.product = "x";
    ReadImageDescription(image.file, d);
    EXPECT_EQ(d.text, "");
    EXPECT_EQ(d.product, "");
    EXPECT_EQ(d.orderKey, -1);
    std::vector<std::string> list{"x"};
    CollectImageTargetTypes(image.file, list);
    EXPECT_TRUE(list.empty());
}

} // namespace
} // namespace quillon
