#include "package/VersionDescriptor.h"

#include "package/DescriptorEntry.h"

#include <limits>

namespace quillon {

void VersionDescriptor::Reset() {
    major = kUnset;
    minor = kUnset;
    revision = kUnset;
    build = kUnset;
    product.clear();
    buildStamp.clear();
    recordCount = 0;
    recordIndex = 0;
    timeStamp = 0;
    orderKey = -1;
}

bool VersionDescriptor::SetText(std::string_view value) {
    std::string kept(value); // `value` may point into our own text
    Reset();
    text = std::move(kept);
    const std::string_view all = text;

    if (EqualsIgnoreCase(all, "unknown") || EqualsIgnoreCase(all, "unavailable")) {
        return true;
    }
    const auto lastDot = all.rfind('.');
    if (lastDot == std::string_view::npos) {
        return false;
    }
    std::int32_t third = ParseDecimal(all.substr(lastDot + 1));
    std::int32_t split = kUnset;
    if (third >= 1000) {
        split = third % 1000;
        third /= 1000;
    }
    const std::string_view head = all.substr(0, lastDot);
    const auto middleDot = head.rfind('.');
    if (middleDot == std::string_view::npos) {
        return false;
    }
    const std::int32_t second = ParseDecimal(head.substr(middleDot + 1));
    const std::string_view front = head.substr(0, middleDot);
    const auto colon = front.rfind(':');
    const std::size_t majorStart = colon == std::string_view::npos ? 0 : colon + 1;
    const std::int32_t first = ParseDecimal(front.substr(majorStart));

    major = first;
    minor = second;
    revision = third;
    build = split;
    orderKey = MakeOrderKey(first, second, third);
    text.erase(0, majorStart);
    return true;
}

std::int64_t VersionDescriptor::MakeOrderKey(std::int32_t major, std::int32_t minor,
                                             std::int32_t revision) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    // The lower parts always fit: |minor| x 2^21 + |revision| < 2^53.
    const std::int64_t lower = std::int64_t{minor} * (std::int64_t{1} << 21) + revision;
    std::int64_t upper = 0;
    if (__builtin_mul_overflow(std::int64_t{major}, std::int64_t{1} << 42, &upper)) {
        upper = major < 0 ? kMin : kMax;
    }
    std::int64_t key = 0;
    if (__builtin_add_overflow(upper, lower, &key)) {
        key = lower < 0 ? kMin : kMax;
    }
    return key;
}

// The keys compare signed in their upper 32 bits and unsigned in their lower 32 bits,
// which is exactly the signed 64-bit order.
bool VersionDescriptor::IsLess(const VersionDescriptor& other) const {
    return orderKey < other.orderKey;
}
bool VersionDescriptor::IsLessOrEqual(const VersionDescriptor& other) const {
    return orderKey <= other.orderKey;
}
bool VersionDescriptor::IsGreater(const VersionDescriptor& other) const {
    return orderKey > other.orderKey;
}
bool VersionDescriptor::IsGreaterOrEqual(const VersionDescriptor& other) const {
    return orderKey >= other.orderKey;
}
bool VersionDescriptor::IsEqual(const VersionDescriptor& other) const {
    return orderKey == other.orderKey;
}

} // namespace quillon
