#include "package/VersionDescriptor.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>

namespace quillon {
namespace {

VersionDescriptor Parsed(std::string_view text) {
    VersionDescriptor version;
    version.SetText(text);
    return version;
}

void ExpectUnset(const VersionDescriptor& v) {
    EXPECT_EQ(v.major, -1);
    EXPECT_EQ(v.minor, -1);
    EXPECT_EQ(v.revision, -1);
    EXPECT_EQ(v.build, -1);
    EXPECT_EQ(v.orderKey, -1);
}

TEST(VersionDescriptorTest, StartsUnsetWithEmptyTexts) {
    const VersionDescriptor v;
    ExpectUnset(v);
    EXPECT_EQ(v.text, "");
    EXPECT_EQ(v.product, "");
    EXPECT_EQ(v.buildStamp, "");
    EXPECT_EQ(v.recordCount, 0);
    EXPECT_EQ(v.recordIndex, 0);
    EXPECT_EQ(v.timeStamp, 0);
}

TEST(VersionDescriptorTest, ParsesThreeNumbers) {
    VersionDescriptor v;
    EXPECT_TRUE(v.SetText("1.4.6"));
    EXPECT_EQ(v.text, "1.4.6");
    EXPECT_EQ(v.major, 1);
    EXPECT_EQ(v.minor, 4);
    EXPECT_EQ(v.revision, 6);
    EXPECT_EQ(v.build, -1);
    EXPECT_EQ(v.orderKey, (std::int64_t{1} << 42) + (std::int64_t{4} << 21) + 6);

    EXPECT_TRUE(v.SetText("1.0.10"));
    EXPECT_EQ(v.revision, 10);
}

TEST(VersionDescriptorTest, DropsTheTagBeforeTheMajorNumber) {
    const VersionDescriptor v = Parsed("VERS:2.1.2");
    EXPECT_EQ(v.text, "2.1.2");
    EXPECT_EQ(v.major, 2);
    EXPECT_EQ(v.minor, 1);
    EXPECT_EQ(v.revision, 2);
    // Only up to the last colon in front of the major number.
    const VersionDescriptor w = Parsed("Boot:VERS:3.2.1");
    EXPECT_EQ(w.text, "3.2.1");
    EXPECT_EQ(w.major, 3);
}

TEST(VersionDescriptorTest, SplitsTheThousandsOfTheThirdNumberIntoTheBuild) {
    const VersionDescriptor v = Parsed("1.4.6012");
    EXPECT_EQ(v.revision, 6);
    EXPECT_EQ(v.build, 12);
    EXPECT_EQ(v.text, "1.4.6012");
    EXPECT_TRUE(v.IsEqual(Parsed("1.4.6")));
    EXPECT_EQ(Parsed("1.4.999").build, -1);
    EXPECT_EQ(Parsed("1.4.1000").revision, 1);
    EXPECT_EQ(Parsed("1.4.1000").build, 0);
}

TEST(VersionDescriptorTest, TextsWithFewerThanThreeNumbersStayUnset) {
    for (const char* text : {"1.4", "14", "", "VERS:", "abc", "VERS:1.4"}) {
        VersionDescriptor v;
        v.product = "stale";
        EXPECT_FALSE(v.SetText(text)) << text;
        ExpectUnset(v);
        EXPECT_EQ(v.text, text);
        EXPECT_EQ(v.product, "");
    }
}

TEST(VersionDescriptorTest, PlaceholdersAreAcceptedButUnset) {
    for (const char* text : {"Unavailable", "Unknown", "UNKNOWN", "unavailable"}) {
        VersionDescriptor v;
        EXPECT_TRUE(v.SetText(text)) << text;
        ExpectUnset(v);
        EXPECT_EQ(v.text, text);
    }
}

TEST(VersionDescriptorTest, MissingNumbersCountAsZero) {
    const VersionDescriptor trailing = Parsed("1.4.");
    EXPECT_EQ(trailing.revision, 0);
    EXPECT_EQ(trailing.minor, 4);
    const VersionDescriptor dots = Parsed("..");
    EXPECT_EQ(dots.major, 0);
    EXPECT_EQ(dots.minor, 0);
    EXPECT_EQ(dots.revision, 0);
    EXPECT_EQ(dots.orderKey, 0);
    const VersionDescriptor letters = Parsed("a.b.c");
    EXPECT_EQ(letters.orderKey, 0);
    const VersionDescriptor suffix = Parsed("1.2.3beta");
    EXPECT_EQ(suffix.revision, 3);
}

TEST(VersionDescriptorTest, SettingTheTextResetsEverythingElse) {
    VersionDescriptor v;
    v.product = "Tovrin";
    v.buildStamp = "Oct 31 2007";
    v.recordCount = 2;
    v.recordIndex = 5;
    v.timeStamp = 1000;
    v.SetText("1.0.10");
    EXPECT_EQ(v.product, "");
    EXPECT_EQ(v.buildStamp, "");
    EXPECT_EQ(v.recordCount, 0);
    EXPECT_EQ(v.recordIndex, 0);
    EXPECT_EQ(v.timeStamp, 0);

    v.Reset();
    ExpectUnset(v);
    EXPECT_EQ(v.text, "1.0.10"); // Reset keeps the text

    v.SetText(v.text); // from its own text
    EXPECT_EQ(v.revision, 10);
}

TEST(VersionDescriptorTest, OrdersByTheKeyOnly) {
    EXPECT_TRUE(Parsed("1.0.10").IsGreater(Parsed("1.0.9")));
    EXPECT_TRUE(Parsed("2.0.0").IsGreater(Parsed("1.99.99")));
    EXPECT_TRUE(Parsed("1.99.99").IsLess(Parsed("2.0.0")));
    EXPECT_TRUE(Parsed("2.1.2").IsGreaterOrEqual(Parsed("2.1.2")));
    EXPECT_TRUE(Parsed("2.1.2").IsLessOrEqual(Parsed("2.1.2")));
    EXPECT_FALSE(Parsed("2.1.2").IsLess(Parsed("2.1.2")));
    EXPECT_TRUE(Parsed("VERS:1.4.6").IsEqual(Parsed("1.4.6012")));
    VersionDescriptor a = Parsed("1.4.6");
    a.product = "KOLM";
    EXPECT_TRUE(a.IsEqual(Parsed("1.4.6"))); // product plays no part
}

TEST(VersionDescriptorTest, UnsetOrdersBelowEveryParsedVersion) {
    const VersionDescriptor unset = Parsed("Unknown");
    const VersionDescriptor failed = Parsed("14");
    EXPECT_TRUE(unset.IsLess(Parsed("0.0.0")));
    EXPECT_TRUE(failed.IsLess(Parsed("0.0.1")));
    EXPECT_TRUE(unset.IsEqual(failed));
    EXPECT_TRUE(Parsed("0.0.0").IsGreater(unset));
}

TEST(VersionDescriptorTest, KeyComparesSignedHighAndUnsignedLowHalves) {
    VersionDescriptor low;
    VersionDescriptor high;
    low.orderKey = 0x7FFFFFFF;
    high.orderKey = 0x80000000; // lower half above 2^31: unsigned there
    EXPECT_TRUE(low.IsLess(high));
    low.orderKey = -(std::int64_t{1} << 32); // upper half negative: signed there
    high.orderKey = 0;
    EXPECT_TRUE(low.IsLess(high));
    EXPECT_TRUE(high.IsGreater(low));
}

TEST(VersionDescriptorTest, NegativeNumbersAreSignExtendedIntoTheKey) {
    const VersionDescriptor v = Parsed("1.-1.0");
    EXPECT_EQ(v.minor, -1);
    EXPECT_EQ(v.orderKey, (std::int64_t{1} << 42) - (std::int64_t{1} << 21));
    EXPECT_TRUE(v.IsLess(Parsed("1.0.0")));
    EXPECT_TRUE(v.IsGreater(Parsed("0.99.99")));
}

TEST(VersionDescriptorTest, HugeNumbersSaturateInsteadOfWrapping) {
    const VersionDescriptor huge = Parsed("99999999999999999999.0.0");
    EXPECT_EQ(huge.major, std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(huge.orderKey, std::numeric_limits<std::int64_t>::max());
    EXPECT_TRUE(huge.IsGreater(Parsed("1000.0.0")));

    const VersionDescriptor tiny = Parsed("-99999999999999.0.0");
    EXPECT_EQ(tiny.major, std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(tiny.orderKey, std::numeric_limits<std::int64_t>::min());
    EXPECT_TRUE(tiny.IsLess(Parsed("Unknown")));

    // A major number just beyond the key's room also saturates rather than wrapping.
    EXPECT_TRUE(Parsed("2097152.0.0").IsGreater(Parsed("2097151.0.0")));
    EXPECT_FALSE(Parsed("2097152.0.0").IsLess(Parsed("1.0.0")));

    const VersionDescriptor bigRevision = Parsed("1.2.99999999999");
    EXPECT_EQ(bigRevision.revision, std::numeric_limits<std::int32_t>::max() / 1000);
    EXPECT_EQ(bigRevision.build, std::numeric_limits<std::int32_t>::max() % 1000);

    const VersionDescriptor bigMinor = Parsed("1.99999999999.0");
    EXPECT_EQ(bigMinor.minor, std::numeric_limits<std::int32_t>::max());
    EXPECT_GT(bigMinor.orderKey, 0);
}

TEST(VersionDescriptorTest, MakeOrderKeyIsExactInsideTheRange) {
    EXPECT_EQ(VersionDescriptor::MakeOrderKey(2097151, 0, 0), std::int64_t{2097151} << 42);
    EXPECT_EQ(VersionDescriptor::MakeOrderKey(-1, 0, 0), -(std::int64_t{1} << 42));
    EXPECT_EQ(VersionDescriptor::MakeOrderKey(0, 0, -1), -1);
}

TEST(VersionDescriptorTest, CopiesEveryField) {
    VersionDescriptor v = Parsed("VERS:1.0.10");
    v.product = "Tovrin";
    v.buildStamp = "stamp";
    v.recordCount = 2;
    v.recordIndex = 37;
    v.timeStamp = 8000;
    const VersionDescriptor copy = v;
    EXPECT_EQ(copy.text, "1.0.10");
    EXPECT_EQ(copy.product, "Tovrin");
    EXPECT_EQ(copy.buildStamp, "stamp");
    EXPECT_EQ(copy.recordCount, 2);
    EXPECT_EQ(copy.recordIndex, 37);
    EXPECT_EQ(copy.timeStamp, 8000);
    EXPECT_EQ(copy.orderKey, v.orderKey);
}

} // namespace
} // namespace quillon
