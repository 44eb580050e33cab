#include "package/CEncImageFile.h"

#include "package/CInvalidFileError.h"
#include "package/VersionDescriptor.h"
#include "tests/package/TestPackages.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

namespace quillon {
namespace {

using test::AppendRecord;
using test::Bytes;

// Heap copy of exactly the package's bytes, so that the sanitizers see any read past them.
class Package {
public:
    explicit Package(const Bytes& bytes)
        : size_(bytes.size()), data_(new std::uint8_t[std::max<std::size_t>(size_, 1)]) {
        std::copy(bytes.begin(), bytes.end(), data_.get());
        file_.Attach(size_ == 0 ? nullptr : data_.get(), size_);
    }
    CEncImageFile& File() { return file_; }
    const std::uint8_t* Data() const { return data_.get(); }

private:
    std::size_t size_;
    std::unique_ptr<std::uint8_t[]> data_;
    CEncImageFile file_;
};

Bytes ThreeRecords() {
    Bytes bytes;
    AppendRecord(bytes, 0x3A00, 1, 0, 1000, Bytes(32, 0xA1));
    AppendRecord(bytes, 0x4001, 2, 7, 10000, Bytes(64, 0xB2));
    AppendRecord(bytes, 0x8001, 1, 0, 0, Bytes(32, 0xC3));
    return bytes;
}

TEST(CMemFileTest, SeeksAndReadsInsideTheRangeOnly) {
    const Bytes bytes{1, 2, 3, 4, 5};
    CMemFile file;
    file.Attach(bytes.data(), bytes.size());
    EXPECT_EQ(file.GetLength(), 5u);
    EXPECT_EQ(file.Bytes().data(), bytes.data()); // attached in place, not copied

    std::uint8_t buffer[8] = {};
    EXPECT_EQ(file.Read(buffer, 2), 2u);
    EXPECT_EQ(buffer[1], 2);
    EXPECT_EQ(file.GetPosition(), 2u);
    EXPECT_EQ(file.Seek(1, CMemFile::SeekOrigin::Current), 3);
    EXPECT_EQ(file.Read(buffer, 8), 2u); // only what is there
    EXPECT_EQ(buffer[0], 4);
    EXPECT_EQ(buffer[1], 5);

    EXPECT_EQ(file.Seek(100, CMemFile::SeekOrigin::Begin), 100); // past the end is allowed
    EXPECT_EQ(file.Read(buffer, 8), 0u);
    EXPECT_EQ(file.GetPosition(), 100u);

    EXPECT_EQ(file.Seek(-1, CMemFile::SeekOrigin::Begin), -1); // before the start is not
    EXPECT_EQ(file.GetPosition(), 100u);
    EXPECT_EQ(file.Seek(-2, CMemFile::SeekOrigin::End), 3);
    EXPECT_EQ(file.Seek(INT64_MAX, CMemFile::SeekOrigin::Current), -1); // no overflow
    EXPECT_EQ(file.GetPosition(), 3u);
}

TEST(CMemFileTest, KeepsTheNameAsGiven) {
    CEncImageFile file;
    EXPECT_EQ(file.GetFileName(), "");
    file.SetFilePath("Utility.bin");
    EXPECT_EQ(file.GetFileName(), "Utility.bin");
}

TEST(CEncImageFileTest, IndexesRecordsBackToBack) {
    Package package(ThreeRecords());
    CEncImageFile& file = package.File();
    EXPECT_TRUE(file.BuildIndex());
    ASSERT_EQ(file.GetRecordCount(), 3);
    EXPECT_EQ(file.GetRecordOffset(0), 0u);
    EXPECT_EQ(file.GetRecordOffset(1), 14u + 32u);
    EXPECT_EQ(file.GetRecordOffset(2), 14u + 32u + 14u + 64u);

    RecordHeader header;
    ASSERT_TRUE(file.ReadHeader(1, header));
    EXPECT_EQ(header.size, 14);
    EXPECT_EQ(header.type, 0x4001);
    EXPECT_EQ(header.blocks, 2);
    EXPECT_EQ(header.parameter, 7u);
    EXPECT_EQ(header.replyTimeout, 10000u);
    EXPECT_EQ(file.GetPosition(), 14u + 32u + 14u); // at the payload
}

TEST(CEncImageFileTest, EmptyRangeGivesAnEmptyTable) {
    CEncImageFile file;
    file.Attach(nullptr, 0);
    EXPECT_TRUE(file.BuildIndex());
    EXPECT_EQ(file.GetRecordCount(), 0);
    RecordHeader header;
    EXPECT_FALSE(file.ReadHeader(0, header));
    EXPECT_EQ(file.FindRecord(0, 0), -1);
}

TEST(CEncImageFileTest, PackageEndingInsideAHeaderKeepsTheRecordsBefore) {
    for (std::size_t extra = 1; extra <= 13; ++extra) {
        Bytes bytes = ThreeRecords();
        Bytes next;
        AppendRecord(next, 0x3A00, 1);
        bytes.insert(bytes.end(), next.begin(), next.begin() + static_cast<long>(extra));
        Package package(bytes);
        EXPECT_FALSE(package.File().BuildIndex()) << extra;
        EXPECT_EQ(package.File().GetRecordCount(), 3) << extra;
        RecordHeader header;
        EXPECT_TRUE(package.File().ReadHeader(2, header));
    }
}

TEST(CEncImageFileTest, RecordNumbersOutOfRangeAreRefusedQuietly) {
    Package package(ThreeRecords());
    CEncImageFile& file = package.File();
    file.BuildIndex();
    RecordHeader header;
    header.type = 0x1234;
    EXPECT_FALSE(file.ReadHeader(-1, header));
    EXPECT_FALSE(file.ReadHeader(3, header));
    EXPECT_FALSE(file.ReadHeader(INT32_MIN, header));
    EXPECT_EQ(header.type, 0x1234); // untouched
    std::uint8_t buffer[64] = {};
    EXPECT_EQ(file.ReadPayload(-1, buffer, sizeof buffer), kEFail);
    EXPECT_EQ(file.ReadPayload(3, buffer, sizeof buffer), kEFail);
    EXPECT_EQ(file.FindRecord(3, 0x3A00), -1);
    EXPECT_EQ(file.FindRecord(-5, 0x3A00), 0); // a negative start counts as 0
}

TEST(CEncImageFileTest, BadSizeFieldRaisesTheInvalidFileError) {
    Bytes bytes;
    AppendRecord(bytes, 0x3A00, 1);
    AppendRecord(bytes, 0x3A02, 1, 0, 0, {}, 12);
    Package package(bytes);
    CEncImageFile& file = package.File();
    file.SetFilePath("Utility.bin");
    EXPECT_TRUE(file.BuildIndex()); // the size field is not looked at while indexing
    ASSERT_EQ(file.GetRecordCount(), 2);

    RecordHeader header;
    EXPECT_TRUE(file.ReadHeader(0, header));
    try {
        file.ReadHeader(1, header);
        FAIL() << "no error raised";
    } catch (const CInvalidFileError& error) {
        EXPECT_EQ(error.FileName(), "Utility.bin");
        EXPECT_EQ(error.Cause(), 6);
        EXPECT_NE(std::string(error.what()).find("Utility.bin"), std::string::npos);
    }
    // Everything built on ReadHeader passes it on.
    EXPECT_THROW(file.FindRecord(0, 0x3A02), CInvalidFileError);
    std::uint8_t buffer[32];
    EXPECT_THROW(file.ReadPayload(1, buffer, sizeof buffer), CInvalidFileError);
    VersionDescriptor descriptor;
    EXPECT_THROW(file.FindModuleDescriptor(0, descriptor), CInvalidFileError);
    // ...but a search that ends before the bad record does not reach it.
    EXPECT_EQ(file.FindRecord(0, 0x3A00), 0);
}

TEST(CEncImageFileTest, ZeroAndHugeSizeFieldsAreInvalidToo) {
    for (std::uint16_t size : {std::uint16_t{0}, std::uint16_t{15}, std::uint16_t{0xFFFF}}) {
        Bytes bytes;
        AppendRecord(bytes, 0x3A00, 1, 0, 0, {}, size);
        Package package(bytes);
        package.File().BuildIndex();
        RecordHeader header;
        EXPECT_THROW(package.File().ReadHeader(0, header), CInvalidFileError) << size;
    }
}

TEST(CEncImageFileTest, ReadPayloadNeedsRoomForEveryBlock) {
    Package package(ThreeRecords());
    CEncImageFile& file = package.File();
    file.BuildIndex();

    Bytes buffer(40, 0xEE);
    EXPECT_EQ(file.ReadPayload(0, buffer.data(), 31), kEFail);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](auto b) { return b == 0xEE; }));

    EXPECT_EQ(file.ReadPayload(0, buffer.data(), 32), kOk);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.begin() + 32, [](auto b) { return b == 0xA1; }));
    EXPECT_TRUE(std::all_of(buffer.begin() + 32, buffer.end(), [](auto b) { return b == 0xEE; }));

    Bytes large(100, 0xEE);
    EXPECT_EQ(file.ReadPayload(1, large.data(), large.size()), kOk);
    EXPECT_EQ(large[63], 0xB2);
    EXPECT_EQ(large[64], 0xEE); // exactly blocks x 32 bytes written
    EXPECT_EQ(file.ReadPayload(1, nullptr, 64), kEFail);
}

TEST(CEncImageFileTest, PayloadRunningPastTheEndIsZeroFilled) {
    Bytes bytes;
    AppendRecord(bytes, 0x3A00, 1, 0, 0, Bytes(32, 0x11));
    AppendRecord(bytes, 0x4001, 3, 0, 0, Bytes(96, 0x22));
    bytes.resize(bytes.size() - 96 + 40); // 40 of the 96 payload bytes are present
    Package package(bytes);
    CEncImageFile& file = package.File();
    EXPECT_TRUE(file.BuildIndex()); // ends inside the last payload
    ASSERT_EQ(file.GetRecordCount(), 2);

    Bytes buffer(96, 0xEE);
    EXPECT_EQ(file.ReadPayload(1, buffer.data(), buffer.size()), kOk);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.begin() + 40, [](auto b) { return b == 0x22; }));
    EXPECT_TRUE(std::all_of(buffer.begin() + 40, buffer.end(), [](auto b) { return b == 0; }));
}

TEST(CEncImageFileTest, PayloadOfAHeaderAtTheVeryEndIsAllZeros) {
    Bytes bytes;
    AppendRecord(bytes, 0x4001, 2, 0, 0, Bytes(64, 0x33));
    bytes.resize(kRecordHeaderSize);
    Package package(bytes);
    package.File().BuildIndex();
    ASSERT_EQ(package.File().GetRecordCount(), 1);
    Bytes buffer(64, 0xEE);
    EXPECT_EQ(package.File().ReadPayload(0, buffer.data(), buffer.size()), kOk);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](auto b) { return b == 0; }));
}

TEST(CEncImageFileTest, FindRecordComparesTheCodeBitsOnly) {
    Bytes bytes;
    AppendRecord(bytes, 0x3A00, 1);
    AppendRecord(bytes, 0x8001, 1);
    AppendRecord(bytes, 0x4001, 1);
    AppendRecord(bytes, 0x8000, 1);
    AppendRecord(bytes, 0x7A05, 1);
    Package package(bytes);
    CEncImageFile& file = package.File();
    file.BuildIndex();
    EXPECT_EQ(file.FindRecord(0, 1), 1);      // loader descriptor first
    EXPECT_EQ(file.FindRecord(2, 1), 2);      // then the data record
    EXPECT_EQ(file.FindRecord(0, 0), 3);      // code 0 is the module descriptor
    EXPECT_EQ(file.FindRecord(0, 0x3A05), 4); // 0x7A05 carries code 0x3A05
    EXPECT_EQ(file.FindRecord(0, 0xFA00), 0); // only bits 0 to 13 of the code count
    EXPECT_EQ(file.FindRecord(1, 0x3A00), -1);
}

TEST(CEncImageFileTest, ReattachingBuildsAFreshIndex) {
    Package first(ThreeRecords());
    first.File().BuildIndex();
    Bytes other;
    AppendRecord(other, 0x3A04, 1);
    first.File().Attach(other.data(), other.size());
    EXPECT_TRUE(first.File().BuildIndex());
    EXPECT_EQ(first.File().GetRecordCount(), 1);
}

} // namespace
} // namespace quillon
