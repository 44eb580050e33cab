#include "upload/BoardMatching.h"

#include "package/CEncImageFile.h"
#include "package/VersionDescriptor.h"
#include "resources/EmbeddedResources.h"
#include "tests/package/TestPackages.h"

#include <gtest/gtest.h>
#include <span>
#include <string>
#include <vector>

namespace quillon {
namespace {

using test::AppendDescriptor;
using test::AppendRecord;
using test::Bytes;

using List = std::vector<std::string>;

const char* const kPattern0 = "0;0,4;0,1;0,7;*;*;N,5";
const char* const kPattern1 = "1;0;0,1;0,7;*;*;N,5";
const char* const kPattern2 = "4,7;0-3;0-7;0,7;Y;*;N,5";

VersionDescriptor Bootloader(const char* product, const char* version) {
    VersionDescriptor v;
    v.SetText(version);
    v.product = product;
    return v;
}

// The shipped packages: those built from the manifests when the test knows where they
// are, else the embedded ones (which are the same in a default build).
std::span<const std::uint8_t> ShippedFirmware() {
#ifdef QUILLON_REFERENCE_FIRMWARE
    return test::ReferenceFirmware();
#else
    return EmbeddedResources::FirmwareImage();
#endif
}
std::span<const std::uint8_t> ShippedUtility() {
#ifdef QUILLON_REFERENCE_UTILITY
    return test::ReferenceUtility();
#else
    return EmbeddedResources::UtilityPackage();
#endif
}

class ShippedPackages : public ::testing::Test {
protected:
    void SetUp() override {
        utility_.Attach(ShippedUtility());
        firmware_.Attach(ShippedFirmware());
        ASSERT_TRUE(utility_.BuildIndex());
        ASSERT_TRUE(firmware_.BuildIndex());
        ASSERT_EQ(utility_.GetRecordCount(), 81);
        ASSERT_EQ(firmware_.GetRecordCount(), 58);
    }
    std::optional<ModuleLocation> Find(const char* name, const char* product, const char* version) {
        return FindSuitableModule(name, Bootloader(product, version), utility_, firmware_);
    }
    CEncImageFile utility_;
    CEncImageFile firmware_;
};

// Pads like the selection does, then matches.
bool Matches(std::string pattern, std::string id) {
    EqualizeFieldCounts(pattern, id);
    return MatchBoardType(pattern, id);
}

TEST(MatchBoardTypeTest, ShippedPatterns) {
    EXPECT_TRUE(Matches(kPattern0, "0;4;1;7;Y;3;5"));
    EXPECT_TRUE(Matches(kPattern0, "0;0;0;0;N;N;N"));
    EXPECT_FALSE(Matches(kPattern0, "0;5;1;7;Y;3;5")); // second field
    EXPECT_FALSE(Matches(kPattern0, "0;4;1;7;Y;3;8")); // seventh field

    EXPECT_TRUE(Matches(kPattern2, "7;3;7;0;Y;x;N"));
    EXPECT_TRUE(Matches(kPattern2, "4;0;0;7;Y;Z;5"));
    EXPECT_FALSE(Matches(kPattern2, "7;4;7;0;Y;x;N")); // 4 is outside 0-3
    EXPECT_FALSE(Matches(kPattern2, "7;3;7;0;N;x;N")); // fifth field
    EXPECT_FALSE(Matches(kPattern2, "5;3;7;0;Y;x;N")); // 5 is neither 4 nor 7
}

TEST(MatchBoardTypeTest, MissingFieldsArePaddedWithN) {
    EXPECT_TRUE(Matches(kPattern1, "1;0;1;7;Y;Y"));
    EXPECT_FALSE(Matches("1;0;0,1;0,7;*;*;5", "1;0;1;7;Y;Y")); // the padded N must match
    EXPECT_TRUE(Matches("1;0", "1;0;N;N"));
    EXPECT_FALSE(Matches("1;0", "1;0;N;5"));

    std::string pattern = "1;0";
    std::string id = "1;0;1;7";
    EqualizeFieldCounts(pattern, id);
    EXPECT_EQ(pattern, "1;0;N;N");
    EXPECT_EQ(id, "1;0;1;7");
    EqualizeFieldCounts(id, pattern);
    EXPECT_EQ(pattern, "1;0;N;N");

    std::string emptyId;
    std::string three = "a;b;c";
    EqualizeFieldCounts(three, emptyId);
    EXPECT_EQ(emptyId, ";N;N");
}

TEST(MatchBoardTypeTest, WithoutPaddingFieldCountsMustAgree) {
    EXPECT_FALSE(MatchBoardType("1;0;*", "1;0"));
    EXPECT_FALSE(MatchBoardType("1;0", "1;0;1"));
    EXPECT_TRUE(MatchBoardType("", ""));
    EXPECT_FALSE(MatchBoardType("*", ""));
    EXPECT_FALSE(MatchBoardType("", "1"));
}

TEST(MatchBoardTypeTest, PlaceholdersNeverMatch) {
    for (const char* id : {"Unknown", "Unavailable"}) {
        for (const char* pattern : {kPattern0, kPattern1, kPattern2, "*", "*;*;*;*;*;*;*"}) {
            EXPECT_FALSE(Matches(pattern, id)) << pattern << " / " << id;
        }
    }
}

TEST(MatchBoardTypeTest, MalformedPatternsDoNotMatch) {
    EXPECT_FALSE(Matches("10;0", "1;0"));   // a two-character item
    EXPECT_FALSE(Matches("1;0-", "1;0"));   // a range without its upper bound
    EXPECT_FALSE(Matches("1;0-3x", "1;2")); // junk after a range
    EXPECT_FALSE(Matches("1;;0", "1;0;0")); // an empty field has no item to hit
    EXPECT_FALSE(Matches(";", "1"));
    EXPECT_TRUE(Matches("1;0-3", "1;3")); // bounds inclusive
    EXPECT_TRUE(Matches("1;0-3", "1;0"));
    EXPECT_FALSE(Matches("1;3-0", "1;2")); // an inverted range holds nothing
    EXPECT_TRUE(Matches("*-9", "5"));      // "*" before "-" starts a range
    EXPECT_TRUE(Matches("a,b,c", "c"));
    EXPECT_FALSE(Matches("a,b,c", "C")); // letters are case-sensitive
}

TEST(MatchBoardTypeTest, RangesCompareSignedBytes) {
    EXPECT_TRUE(Matches("\x80-\x7F", "0")); // -128 to 127 holds everything
    EXPECT_TRUE(Matches("\x80-\x7F", "\xFF"));
    EXPECT_FALSE(Matches("0-\xFF", "5")); // 0 to -1 holds nothing
    EXPECT_TRUE(Matches("\xF0-\xFF", "\xF5"));
}

TEST(MatchBoardTypeTest, MalformedIdsDoNotMatch) {
    EXPECT_FALSE(Matches("*;*", "10;1")); // an ID field of two characters
    EXPECT_FALSE(Matches("*;*", "1;;"));
    EXPECT_FALSE(Matches("*", "12"));
    EXPECT_TRUE(MatchBoardType("1", "1;")); // a trailing ";" ends the ID
}

TEST(MatchBoardTypeTest, ArbitraryInputNeverReadsOutOfBounds) {
    // Every short string over an alphabet of the grammar's characters, both ways round;
    // the sanitizer build turns any out-of-bounds read into a failure.
    const std::string alphabet = "0;,-*N";
    std::vector<std::string> strings{""};
    for (std::size_t length = 1; length <= 4; ++length) {
        const std::size_t first = strings.size();
        for (std::size_t k = 0; k < first; ++k) {
            if (strings[k].size() + 1 != length) {
                continue;
            }
            for (char c : alphabet) {
                strings.push_back(strings[k] + c);
            }
        }
    }
    int matches = 0;
    for (const std::string& a : strings) {
        for (const std::string& b : strings) {
            matches += Matches(a, b) ? 1 : 0;
            matches += MatchBoardType(a, b) ? 1 : 0;
        }
    }
    EXPECT_GT(matches, 0);
}

TEST(SelectTargetBoardTypeTest, MovesTheLastMatchToTheFront) {
    List list{"9", "1;*", "*;1"};
    EXPECT_TRUE(SelectTargetBoardType(list, "1;1"));
    EXPECT_EQ(list, (List{"*;1", "9", "1;*"}));

    List shipped{kPattern0, kPattern1, kPattern2};
    EXPECT_TRUE(SelectTargetBoardType(shipped, "4;0;0;7;Y;Z;5"));
    EXPECT_EQ(shipped, (List{kPattern2, kPattern1, kPattern0}));
    EXPECT_TRUE(SelectTargetBoardType(shipped, "0;4;1;7;Y;3;5"));
    EXPECT_EQ(shipped, (List{kPattern0, kPattern1, kPattern2}));
}

TEST(SelectTargetBoardTypeTest, KeepsTheListWhenNothingMatches) {
    List list{kPattern0, kPattern1, kPattern2};
    EXPECT_FALSE(SelectTargetBoardType(list, "Unknown"));
    EXPECT_FALSE(SelectTargetBoardType(list, "Unavailable"));
    EXPECT_FALSE(SelectTargetBoardType(list, "9;9;9;9;9;9;9"));
    EXPECT_EQ(list, (List{kPattern0, kPattern1, kPattern2}));
    List empty;
    EXPECT_FALSE(SelectTargetBoardType(empty, "0;4;1;7;Y;3;5"));
}

TEST(SelectTargetBoardTypeTest, MatchAtIndexZeroStays) {
    List list{"1", "2"};
    EXPECT_TRUE(SelectTargetBoardType(list, "1"));
    EXPECT_EQ(list, (List{"1", "2"}));
}

TEST(TargetBoardIdsTextTest, ShowsTheFirstEntryAndHintsAtMore) {
    EXPECT_EQ(TargetBoardIdsText({}), "Unknown");
    EXPECT_EQ(TargetBoardIdsText({kPattern1}), kPattern1);
    EXPECT_EQ(TargetBoardIdsText({kPattern1, kPattern0}), std::string(kPattern1) + " ... \xBB");
}

TEST(BootloaderVersionTest, SufficientOnlyWithinTheSameMajorVersion) {
    VersionDescriptor minimum;
    minimum.SetText("2.1.2");
    EXPECT_TRUE(IsBootloaderSufficient(Bootloader("Tovrin48", "2.1.3"), minimum));
    EXPECT_TRUE(IsBootloaderSufficient(Bootloader("Tovrin48", "2.1.2"), minimum));
    EXPECT_TRUE(IsBootloaderSufficient(Bootloader("Tovrin48", "2.1.2012"), minimum));
    EXPECT_FALSE(IsBootloaderSufficient(Bootloader("Tovrin48", "2.1.1"), minimum));
    EXPECT_FALSE(IsBootloaderSufficient(Bootloader("Tovrin48", "3.0.0"), minimum));
    EXPECT_FALSE(IsBootloaderSufficient(Bootloader("Tovrin48", "Unknown"), minimum));

    const VersionDescriptor unset;
    EXPECT_FALSE(IsBootloaderSufficient(Bootloader("Tovrin48", "2.1.3"), unset));
    EXPECT_FALSE(IsBootloaderSufficient(Bootloader("X", "0.0.0"), unset));
    EXPECT_TRUE(IsBootloaderSufficient(Bootloader("X", "Unknown"), unset));
}

TEST(FirmwareVersionTest, SameOrNewerNeedsSameBuildAndProduct) {
    VersionDescriptor package;
    package.SetText("1.4.6");
    package.product = "KOLM";
    auto device = [](const char* text, const char* product) {
        VersionDescriptor v;
        v.SetText(text);
        v.product = product;
        return v;
    };
    EXPECT_TRUE(IsSameOrNewerFirmware(device("1.4.6", "KOLM"), package));
    EXPECT_TRUE(IsSameOrNewerFirmware(device("1.5.0", "KOLM"), package));
    EXPECT_FALSE(IsSameOrNewerFirmware(device("1.4.5", "KOLM"), package));
    EXPECT_FALSE(IsSameOrNewerFirmware(device("1.4.6", "kolm"), package));    // case counts
    EXPECT_FALSE(IsSameOrNewerFirmware(device("1.4.6012", "KOLM"), package)); // build differs
    EXPECT_FALSE(IsSameOrNewerFirmware(device("Unavailable", ""), package));

    // "Unavailable" is refused even where the rest would agree; "Unknown" is not special.
    VersionDescriptor unsetPackage;
    EXPECT_FALSE(IsSameOrNewerFirmware(device("Unavailable", ""), unsetPackage));
    EXPECT_TRUE(IsSameOrNewerFirmware(device("Unknown", ""), unsetPackage));
}

TEST(ModuleVariantNamesTest, SeventhFieldPicksTheVariant) {
    auto names = ModuleVariantNames("0;4;1;7;Y;3;N");
    EXPECT_EQ(names.flash, "FlashMod");
    EXPECT_EQ(names.crc, "FwCRCMod");
    names = ModuleVariantNames("0;4;1;7;Y;3;8");
    EXPECT_EQ(names.flash, "FlashMod8");
    EXPECT_EQ(names.crc, "FwCRCMod8");
    names = ModuleVariantNames("0;4;1;7;Y;3;5;9;9");
    EXPECT_EQ(names.flash, "FlashMod5");
    for (const char* id : {"0;4;1", "Unknown", "Unavailable", "", "0;4;1;7;Y;3;"}) {
        names = ModuleVariantNames(id);
        EXPECT_EQ(names.flash, "FlashMod") << id;
        EXPECT_EQ(names.crc, "FwCRCMod") << id;
    }
}

TEST_F(ShippedPackages, MinimumBootloaderVersionPerProduct) {
    EXPECT_EQ(GetMinimumBootloaderVersion(utility_, Bootloader("Tovrin", "1.1.1")), "1.0.10");
    EXPECT_EQ(GetMinimumBootloaderVersion(utility_, Bootloader("tovrin48", "9.9.9")), "2.1.2");
    EXPECT_EQ(GetMinimumBootloaderVersion(utility_, Bootloader("TOVRIN44", "Unknown")), "2.1.2");
    EXPECT_EQ(GetMinimumBootloaderVersion(utility_, Bootloader("Tovrin4", "2.1.2")), "");
    EXPECT_EQ(GetMinimumBootloaderVersion(utility_, Bootloader("", "Unknown")), "");
    EXPECT_EQ(GetMinimumBootloaderVersion(firmware_, Bootloader("Tovrin", "1.1.1")), "");
}

TEST_F(ShippedPackages, BootloaderOfAnUnnamedProductIsRefused) {
    VersionDescriptor minimum;
    minimum.SetText(GetMinimumBootloaderVersion(utility_, Bootloader("Other", "5.0.0")));
    EXPECT_FALSE(IsBootloaderSufficient(Bootloader("Other", "5.0.0"), minimum));
}

TEST_F(ShippedPackages, FindsTheModuleBehindTheRightLoader) {
    auto found = Find("BrdIDMod", "Tovrin", "1.0.10");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->package, &utility_);
    EXPECT_EQ(found->descriptorIndex, 38);
    EXPECT_EQ(found->descriptor.product, "BrdIDMod");
    EXPECT_EQ(found->descriptor.recordCount, 2);
    EXPECT_EQ(found->descriptor.timeStamp, 1000);

    found = Find("brdidmod", "Tovrin48", "2.1.2");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->descriptorIndex, 42);
    found = Find("BrdIDMod", "Tovrin44", "2.5.0");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->descriptorIndex, 46);

    found = Find("FlashMod8", "Tovrin48", "2.1.2");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->descriptorIndex, 54);
    EXPECT_EQ(found->descriptor.text, "1.0.1");

    found = Find("FwCRCMod", "Tovrin", "1.9.0");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->descriptorIndex, 66);
    EXPECT_EQ(found->descriptor.timeStamp, 8000);
}

TEST_F(ShippedPackages, Variant5NeedsTovrin111OfMajor1) {
    auto found = Find("FlashMod5", "Tovrin", "1.1.1");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->package, &utility_);
    EXPECT_EQ(found->descriptorIndex, 62);
    EXPECT_EQ(found->descriptor.product, "FlashMod5");
    EXPECT_TRUE(Find("FlashMod5", "Tovrin", "1.7.0"));
    EXPECT_TRUE(Find("FwCRCMod5", "Tovrin", "1.1.1"));

    EXPECT_FALSE(Find("FlashMod5", "Tovrin", "1.1.0"));
    EXPECT_FALSE(Find("FlashMod5", "Tovrin", "1.0.10"));
    EXPECT_FALSE(Find("FlashMod5", "Tovrin", "2.0.0")); // major differs
    EXPECT_FALSE(Find("FlashMod5", "Tovrin", "Unknown"));
    EXPECT_FALSE(Find("FlashMod5", "Tovrin48", "2.1.2"));
    EXPECT_FALSE(Find("FlashMod5", "Tovrin44", "2.1.2"));
    EXPECT_FALSE(Find("FwCRCMod5", "Tovrin", "1.1.0"));
}

TEST_F(ShippedPackages, RefusesBootloadersBelowTheLoadersVersion) {
    EXPECT_FALSE(Find("FlashMod", "Tovrin", "1.0.9"));
    EXPECT_FALSE(Find("FlashMod", "Tovrin", "2.0.0"));
    EXPECT_FALSE(Find("FlashMod8", "Tovrin48", "2.1.1"));
    EXPECT_FALSE(Find("FlashMod4", "Tovrin48", "2.1.2")); // a Tovrin44 module
    EXPECT_FALSE(Find("NoSuchMod", "Tovrin", "1.1.1"));
}

TEST_F(ShippedPackages, ModulesWithoutAGoverningLoaderAreTakenAsTheyCome) {
    // No loader descriptor names the product: the first module of that name is taken.
    auto found = Find("FlashMod", "Unknown", "Unknown");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->descriptorIndex, 50);
    // The firmware image's own descriptor is found behind the utility package.
    found = Find("kolm", "Tovrin", "1.1.1");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->package, &firmware_);
    EXPECT_EQ(found->descriptorIndex, 0);
    EXPECT_EQ(found->descriptor.recordCount, 57);
}

TEST(FindSuitableModuleTest, SearchesPastLoadersOfOtherProducts) {
    Bytes utilityBytes;
    AppendDescriptor(utilityBytes, 0x8001, {"VERS:3.0.0", "PROD:Other"});
    AppendDescriptor(utilityBytes, 0x8000, {"VERS:1.0.0", "PROD:Mod"}, 1);
    AppendRecord(utilityBytes, 0x4001, 1);
    AppendDescriptor(utilityBytes, 0x8001, {"VERS:1.0.0", "PROD:Mine"});
    AppendDescriptor(utilityBytes, 0x8000, {"VERS:1.0.1", "PROD:Mod"}, 1);
    AppendRecord(utilityBytes, 0x4001, 1);
    Bytes firmwareBytes;
    CEncImageFile utility;
    CEncImageFile firmware;
    utility.Attach(utilityBytes.data(), utilityBytes.size());
    utility.BuildIndex();
    firmware.Attach(firmwareBytes.data(), firmwareBytes.size());
    firmware.BuildIndex();

    auto found = FindSuitableModule("Mod", Bootloader("Mine", "1.2.0"), utility, firmware);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->descriptorIndex, 4);
    EXPECT_EQ(found->descriptor.text, "1.0.1");
    found = FindSuitableModule("Mod", Bootloader("Other", "3.0.0"), utility, firmware);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->descriptorIndex, 1);
    // Past the last loader of the product, a module is taken without a version test.
    found = FindSuitableModule("Mod", Bootloader("Other", "2.0.0"), utility, firmware);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->descriptorIndex, 4);
    EXPECT_FALSE(FindSuitableModule("Mod", Bootloader("Mine", "0.9.0"), utility, firmware));
}

TEST(FindSuitableModuleTest, EmptyPackagesFindNothing) {
    CEncImageFile utility;
    CEncImageFile firmware;
    utility.BuildIndex();
    firmware.BuildIndex();
    EXPECT_FALSE(FindSuitableModule("FlashMod", Bootloader("Tovrin", "1.1.1"), utility, firmware));
}

} // namespace
} // namespace quillon
