#include "cli/CReceipt.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(ReceiptTimeTest, WritesUtcToTheMillisecond) {
    const struct {
        long long ms;
        const char* text;
    } cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {1709622489123, "2024-03-05T07:08:09.123Z"},
        {951868799999, "2000-02-29T23:59:59.999Z"},
        {-1, "1969-12-31T23:59:59.999Z"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CReceipt::IsoTime(CReceipt::TimePoint(std::chrono::milliseconds(c.ms))), c.text);
    }
}

} // namespace
} // namespace quillon
