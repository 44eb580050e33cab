// The engine's whole conversation (activation, identification, upload, start-up watch)
// over an in-memory link with the shipped packages: a device that answers every send as
// a healthy one does, and devices that never stop talking.

#include "resources/EmbeddedResources.h"
#include "tests/support/CMemoryLink.h"
#include "upload/CMessageQueue.h"
#include "upload/CStartupWatcher.h"
#include "upload/CUploadCore.h"
#include "upload/CWorstCaseTable.h"
#include "upload/ProtocolBounds.h"
#include "upload/ReplyParsing.h"
#include "upload/UploadTexts.h"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>

namespace quillon {
namespace {

using Bytes = CMemoryLink::Bytes;
using namespace std::chrono_literals;

// Sends of the shipped packages in a complete upload.
constexpr int kImageRecords = 57;
constexpr int kModuleRecords = 2;
// Every reply and start-up byte the engine may read: the reply word, the completion word
// and the text up to its bound (and the byte that passes it) per send, and the start-up
// watch's own bound.
constexpr std::size_t kBytesPerSend = 2 + 2 + kMaxReplyBytes + 1;
constexpr std::size_t kStartupBytes = CStartupWatcher::kMaxOutput;

Bytes Text(std::string_view text) {
    return {text.begin(), text.end()};
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const Bytes kActivated{0x3A, 0x00};
const Bytes kAccepted{0x00, 0x00};

// Answers a healthy device gives, one per send: activation, both information lists
// (bootloader Tovrin 1.0.10), the board identification (a board of the plain module
// variant), the flash module, the speed switch and the activation after it, the image,
// the CRC module with its verdict, and the launch followed by the start-up output.
Bytes HealthyDevice(std::string_view startupOutput) {
    Bytes stream;
    const auto answer = [&stream](const Bytes& bytes) { CMemoryLink::AppendAnswer(stream, bytes); };
    answer(kActivated);
    answer(Concat({{0x3A, 0x02}, Text(std::string("VERS:1.0.10\0PROD:Tovrin\0\0", 25))}));
    answer(Concat({{0x3A, 0x02}, Text(std::string("VERS:1.4.5\0PROD:KOLM\0\0", 22))}));
    answer(kAccepted);
    answer(Concat({{0x00, 0x01, 0x40, 0x01}, Text(std::string("3034313759334E2A\0\0", 18))}));
    for (int r = 0; r < kModuleRecords; ++r) {
        answer(kAccepted);
    }
    answer(kAccepted);
    answer(kActivated);
    for (int r = 0; r < kImageRecords; ++r) {
        answer(kAccepted);
    }
    answer(kAccepted);
    answer(Concat({{0x00, 0x01, 0x40, 0x01}, Text(std::string("0x1A2B\0\0", 8))}));
    answer(Concat({kAccepted, Text(startupOutput)}));
    return stream;
}

// Answers the activation, then echoes the information request and never ends its reply:
// short lines, one after another, for ever.
Bytes BabblingInformation() {
    Bytes stream;
    CMemoryLink::AppendAnswer(stream, kActivated);
    CMemoryLink::AppendAnswer(stream, Bytes{0x3A, 0x02, 'A', 'B', 'C'});
    return stream;
}

struct Conversation {
    const char* name;
    Bytes stream;
    bool endless;
    bool succeeds;
};

void PrintTo(const Conversation& conversation, std::ostream* out) {
    *out << conversation.name;
}

class MemoryConversationTest : public ::testing::TestWithParam<Conversation> {};

TEST_P(MemoryConversationTest, EndsWithTheDeviceVerdictAndBoundedReading) {
    const Conversation& conversation = GetParam();
    auto owned = std::make_unique<CMemoryLink>();
    CMemoryLink& link = *owned;
    CUploadCore core(std::move(owned));
    core.LoadPackages(EmbeddedResources::UtilityPackage(), EmbeddedResources::FirmwareImage());
    ASSERT_FALSE(core.CollectActivationBlocks());
    core.SetActivationSeed(7);
    link.SetDeviceStream(conversation.stream, conversation.endless);
    link.SetReadBudget(kBytesPerSend, kStartupBytes);

    ASSERT_EQ(core.ActivateBootloader(20, nullptr, false), kOk);
    core.IdentifyDevice();
    CMessageQueue queue;
    EXPECT_EQ(core.RunUpload(&queue), kOk);

    bool succeeded = false;
    bool ended = false;
    while (const std::optional<CMessageQueue::Message> message = queue.Take(0ms)) {
        ended = message->number == kMsgSequenceEnded;
        succeeded = succeeded ||
                    (message->number == kMsgStatus &&
                     std::strcmp(MessageText(message->lParam), texts::kTransferSucceeded) == 0);
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(succeeded, conversation.succeeds);
    EXPECT_FALSE(link.ReadBudgetSpent())
        << link.BytesRead() << " bytes read for " << link.Writes() << " sends";
    if (conversation.succeeds) {
        // Every answer went to the send it was written for, and nothing more was sent.
        EXPECT_EQ(link.Writes(), 3u * kModuleRecords + kImageRecords + 6);
        EXPECT_EQ(core.boardTypeId, "0;4;1;7;Y;3;N");
        EXPECT_EQ(core.deviceBootloader.product, "Tovrin");
        EXPECT_EQ(link.GetBaudRate(), 115200);
        EXPECT_EQ(link.Breaks(), 2u); // before each activation block, none for a resend
    }
}

INSTANTIATE_TEST_SUITE_P(
    Devices, MemoryConversationTest,
    ::testing::Values(
        Conversation{"Healthy", HealthyDevice("KOLM 1.4.6\r\n*** Unit Initialised\r\n"), false,
                     true},
        // After the launch the stream starts again: a device that talks for ever without
        // the start-up message.
        Conversation{"EndlessWithoutStartupMessage", HealthyDevice("KOLM 1.4.6\r\n"), true, false},
        Conversation{"EndlessInformationReply", BabblingInformation(), true, false}),
    [](const ::testing::TestParamInfo<Conversation>& param) { return param.param.name; });

// Devices that keep sending the image transfer back to records they already have, for
// ever: following them without limit would never end the transfer. Whatever the shape of
// the rewinds, the module ends as a redirect that could not be followed, within its send
// limit.
struct Rewinds {
    const char* name;
    int acceptedBefore;  // answers accepted before each redirect
    std::uint8_t backTo; // the code of the record asked for
};

void PrintTo(const Rewinds& rewinds, std::ostream* out) {
    *out << rewinds.name;
}

class MemoryModuleRewindTest : public ::testing::TestWithParam<Rewinds> {};

TEST_P(MemoryModuleRewindTest, EndlessRewindsEndWithinTheSendLimit) {
    auto owned = std::make_unique<CMemoryLink>();
    CMemoryLink& link = *owned;
    CUploadCore core(std::move(owned));
    core.LoadPackages(EmbeddedResources::UtilityPackage(), EmbeddedResources::FirmwareImage());
    Bytes stream;
    for (int k = 0; k < GetParam().acceptedBefore; ++k) {
        CMemoryLink::AppendAnswer(stream, kAccepted);
    }
    CMemoryLink::AppendAnswer(stream, Bytes{0x80, GetParam().backTo});
    link.SetDeviceStream(stream, true);

    CUploadCore::Lines lines;
    EXPECT_EQ(core.RunModule(true, core.packageFirmware.product, lines, nullptr), kSoftOutcome);
    const auto limit = static_cast<std::size_t>(bounds::ModuleSendLimit(kImageRecords));
    EXPECT_LE(link.Writes(), limit);
    // The device was followed as long as the limit lasted, not given up on at once.
    EXPECT_GE(link.Writes(), limit - kImageRecords);
}

INSTANTIATE_TEST_SUITE_P(Devices, MemoryModuleRewindTest,
                         ::testing::Values(
                             // Asks for the second record again whenever it gets the third.
                             Rewinds{"BackOneFromTheThird", 2, 2},
                             // From its second pass on, answers the image's last record with the
                             // second again: each rewind costs a pass over the whole image.
                             Rewinds{"LastBackToTheSecond", kImageRecords - 2, 2}),
                         [](const ::testing::TestParamInfo<Rewinds>& param) {
                             return param.param.name;
                         });

// The README's worst-case table is the one the engine's bounds give for the shipped
// packages; each phase's figure is at least what its sends cost when every one of them
// runs into its reply timeout.
TEST(WorstCaseTableTest, ReadmeShowsTheTableTheEngineImplies) {
    CUploadCore core;
    core.LoadPackages(EmbeddedResources::UtilityPackage(), EmbeddedResources::FirmwareImage());
    const CWorstCaseTable table(core.UtilityPackage(), core.FirmwareImage());
    std::ifstream readme(QUILLON_README);
    std::stringstream text;
    text << readme.rdbuf();
    EXPECT_NE(text.str().find(table.Markdown()), std::string::npos)
        << "the README's table should read:\n"
        << table.Markdown();

    // A healthy device at its slowest: every record on the line, then programmed for up
    // to its reply timeout.
    constexpr double kSlowestRecordMs = 61 * 32 * 10.0 * 1000 / 115200 + 10000;
    for (const CWorstCaseTable::Row& row : table.Rows()) {
        if (row.phase == "firmware image") {
            EXPECT_GE(row.fastMs, kImageRecords * kSlowestRecordMs);
            EXPECT_GT(row.slowMs, row.fastMs);
        }
    }
    EXPECT_GE(table.Rows().back().fastMs, static_cast<double>(CStartupWatcher::kBootTime.count()));
}

} // namespace
} // namespace quillon
