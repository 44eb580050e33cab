// The compatibility decision over the shipped packages, with the device side set as
// detection would leave it.

#include "upload/CompatibilityDecision.h"

#include "resources/EmbeddedResources.h"
#include "upload/CUploadCore.h"
#include "upload/DeviceIdentification.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

class CompatibilityDecisionTest : public ::testing::Test {
protected:
    void SetUp() override {
        core_.LoadPackages(EmbeddedResources::UtilityPackage(), EmbeddedResources::FirmwareImage());
        // A device that the shipped package suits.
        Detected("0;4;1;7;Y;3;5", {"VERS:1.1.1", "PROD:Tovrin"},
                 {"VERS:1.4.2", "PROD:KOLM", "BILD:Feb 03 2006 14:22:05"});
    }

    void Detected(const std::string& boardId, const std::vector<std::string>& bootloader,
                  const std::vector<std::string>& firmware) {
        core_.boardTypeId = boardId;
        ApplyDeviceLines(bootloader, core_.deviceBootloader, kUnknownText);
        ApplyDeviceLines(firmware, core_.deviceFirmware, kUnavailableText);
        core_.flashModuleName = "FlashMod";
        core_.crcModuleName = "FwCRCMod";
        if (boardId.size() >= 13 && boardId[12] != 'N') {
            core_.flashModuleName += boardId[12];
            core_.crcModuleName += boardId[12];
        }
    }

    CUploadCore core_;
};

TEST_F(CompatibilityDecisionTest, SuitableDeviceIsAccepted) {
    const CompatibilityResult result = AssessCompatibility(core_);
    EXPECT_EQ(result.outcome, CompatibilityOutcome::Accept);
    EXPECT_TRUE(result.nextEnabled);
    EXPECT_FALSE(result.highlight);
    EXPECT_EQ(core_.targetBoardText, std::string("0;0,4;0,1;0,7;*;*;N,5 ... \xBB"));
    EXPECT_EQ(core_.minimumBootloader.text, "1.0.10");
}

TEST_F(CompatibilityDecisionTest, UnknownBoardIsRefusedFirst) {
    Detected("Unknown", {}, {});
    const CompatibilityResult result = AssessCompatibility(core_);
    EXPECT_EQ(result.outcome, CompatibilityOutcome::Refuse);
    EXPECT_EQ(result.message, texts::kBoardNotSuitable);
    EXPECT_FALSE(result.nextEnabled);
    EXPECT_TRUE(result.highlight);
    // The target text is built from the list even though nothing matched.
    EXPECT_EQ(core_.targetBoardText, std::string("0;0,4;0,1;0,7;*;*;N,5 ... \xBB"));
}

TEST_F(CompatibilityDecisionTest, MatchingPatternMovesToTheFront) {
    Detected("7;3;7;0;Y;x;N", {"VERS:1.0.10", "PROD:Tovrin"}, {"VERS:1.0.0", "PROD:KOLM"});
    const CompatibilityResult result = AssessCompatibility(core_);
    EXPECT_EQ(result.outcome, CompatibilityOutcome::Accept);
    EXPECT_EQ(core_.targetTypes.front(), "4,7;0-3;0-7;0,7;Y;*;N,5");
    EXPECT_EQ(core_.targetBoardText, std::string("4,7;0-3;0-7;0,7;Y;*;N,5 ... \xBB"));
    // The next assessment starts from the image's own order again.
    Detected("0;4;1;7;Y;3;N", {"VERS:1.0.10", "PROD:Tovrin"}, {"VERS:1.0.0", "PROD:KOLM"});
    AssessCompatibility(core_);
    EXPECT_EQ(core_.targetTypes.front(), "0;0,4;0,1;0,7;*;*;N,5");
}

TEST_F(CompatibilityDecisionTest, OldOrForeignBootloaderIsRefused) {
    Detected("0;4;1;7;Y;3;N", {"VERS:1.0.9", "PROD:Tovrin"}, {});
    EXPECT_EQ(AssessCompatibility(core_).message, texts::kBootloaderTooOld);
    Detected("0;4;1;7;Y;3;N", {"VERS:2.1.2", "PROD:Tovrin"}, {}); // other major
    EXPECT_EQ(AssessCompatibility(core_).message, texts::kBootloaderTooOld);
    Detected("0;4;1;7;Y;3;N", {"VERS:1.5.0", "PROD:Orvel"}, {}); // no loader names it
    EXPECT_EQ(AssessCompatibility(core_).message, texts::kBootloaderTooOld);
    EXPECT_EQ(core_.minimumBootloader.text, "");
}

TEST_F(CompatibilityDecisionTest, SameFirmwareWarnsAndSkipsModuleChecks) {
    // A 1.0.10 bootloader has no suitable variant 5 flash module, yet the warning comes
    // first.
    Detected("0;4;1;7;Y;3;5", {"VERS:1.0.10", "PROD:Tovrin"},
             {"VERS:1.4.6", "PROD:KOLM", "BILD:May 15 2006 16:01:56"});
    const CompatibilityResult result = AssessCompatibility(core_);
    EXPECT_EQ(result.outcome, CompatibilityOutcome::Warn);
    EXPECT_EQ(result.message, texts::kSameOrNewerFirmware);
    EXPECT_TRUE(result.nextEnabled);
    EXPECT_TRUE(result.highlight);
}

TEST_F(CompatibilityDecisionTest, OtherProductOrUnavailableFirmwareDoesNotWarn) {
    Detected("0;4;1;7;Y;3;5", {"VERS:1.1.1", "PROD:Tovrin"},
             {"VERS:9.0.0", "PROD:MARL", "BILD:May 15 2006 16:01:56"});
    EXPECT_EQ(AssessCompatibility(core_).outcome, CompatibilityOutcome::Accept);
    Detected("0;4;1;7;Y;3;5", {"VERS:1.1.1", "PROD:Tovrin"}, {});
    EXPECT_EQ(AssessCompatibility(core_).outcome, CompatibilityOutcome::Accept);
}

TEST_F(CompatibilityDecisionTest, MissingModuleVariantsAreRefused) {
    // Variant 5 modules sit behind a Tovrin 1.1.1 loader descriptor: a 1.0.10 bootloader
    // passes the minimum but has no suitable flash module.
    Detected("0;4;1;7;Y;3;5", {"VERS:1.0.10", "PROD:Tovrin"}, {});
    EXPECT_EQ(AssessCompatibility(core_).message, texts::kFlashModuleNotSuitable);
    // With the flash module found but no CRC module of that variant.
    Detected("0;4;1;7;Y;3;5", {"VERS:1.1.1", "PROD:Tovrin"}, {});
    core_.crcModuleName = "FwCRCMod7";
    EXPECT_EQ(AssessCompatibility(core_).message, texts::kCrcModuleNotSuitable);
}

} // namespace
} // namespace quillon
