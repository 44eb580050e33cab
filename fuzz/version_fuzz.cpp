// Version texts and descriptor entry values from arbitrary bytes: the parse, the five
// orderings (which must form one consistent total order), and the entry helpers it
// builds on, each against a plain reference.

#include "FuzzCheck.h"
#include "package/DescriptorEntry.h"
#include "package/VersionDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <limits>
#include <string>

namespace {

using quillon::VersionDescriptor;

// Blanks, one sign, then digits; saturating.
std::int32_t ReferenceDecimal(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' ||
                               text[i] == '\n' || text[i] == '\v' || text[i] == '\f')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > std::int64_t{1} << 32) {
            value = std::int64_t{1} << 32;
        }
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

void CheckEntryHelpers(const std::string& entry) {
    const std::string lower = quillon::ToLowerAscii(entry);
    QUILLON_FUZZ_CHECK(lower.size() == entry.size());
    QUILLON_FUZZ_CHECK(quillon::EqualsIgnoreCase(entry, lower));
    for (std::string_view tag :
         {quillon::kTagVersion, quillon::kTagProduct, quillon::kTagBuildStamp, quillon::kTagTime,
          quillon::kTagTargetType}) {
        QUILLON_FUZZ_CHECK(quillon::HasTag(entry, tag) == (lower.find(tag) != std::string::npos));
    }
    const std::string value = quillon::TagValue(entry);
    const auto colon = entry.find(':');
    QUILLON_FUZZ_CHECK(value == (colon == std::string::npos ? entry : entry.substr(colon + 1)));
    QUILLON_FUZZ_CHECK(quillon::ParseDecimal(entry) == ReferenceDecimal(entry));
}

void CheckParse(const std::string& input, const VersionDescriptor& v, bool parsed) {
    QUILLON_FUZZ_CHECK(input.size() >= v.text.size() &&
                       input.compare(input.size() - v.text.size(), v.text.size(), v.text) == 0);
    QUILLON_FUZZ_CHECK(v.product.empty() && v.buildStamp.empty());
    QUILLON_FUZZ_CHECK(v.recordCount == 0 && v.recordIndex == 0 && v.timeStamp == 0);
    const bool placeholder = quillon::EqualsIgnoreCase(input, "unknown") ||
                             quillon::EqualsIgnoreCase(input, "unavailable");
    if (!parsed || placeholder) {
        QUILLON_FUZZ_CHECK(parsed == placeholder || !parsed);
        QUILLON_FUZZ_CHECK(v.major == -1 && v.minor == -1 && v.revision == -1 && v.build == -1);
        QUILLON_FUZZ_CHECK(v.orderKey == -1);
        QUILLON_FUZZ_CHECK(v.text == input);
        return;
    }
    QUILLON_FUZZ_CHECK(v.orderKey == VersionDescriptor::MakeOrderKey(v.major, v.minor, v.revision));
    QUILLON_FUZZ_CHECK(v.build >= -1 && v.build < 1000);
    // The kept text parses to the same version again.
    VersionDescriptor again;
    QUILLON_FUZZ_CHECK(again.SetText(v.text));
    QUILLON_FUZZ_CHECK(again.major == v.major && again.minor == v.minor &&
                       again.revision == v.revision && again.build == v.build &&
                       again.orderKey == v.orderKey && again.text == v.text);
    // A version of non-negative numbers orders above an unset one.
    if (v.major >= 0 && v.minor >= 0 && v.revision >= 0) {
        QUILLON_FUZZ_CHECK(v.IsGreater(VersionDescriptor{}));
    }
}

void CheckOrder(const VersionDescriptor& a, const VersionDescriptor& b) {
    const bool less = a.IsLess(b);
    const bool equal = a.IsEqual(b);
    const bool greater = a.IsGreater(b);
    QUILLON_FUZZ_CHECK(int{less} + int{equal} + int{greater} == 1);
    QUILLON_FUZZ_CHECK(a.IsLessOrEqual(b) == (less || equal));
    QUILLON_FUZZ_CHECK(a.IsGreaterOrEqual(b) == (greater || equal));
    QUILLON_FUZZ_CHECK(b.IsGreater(a) == less && b.IsLess(a) == greater && b.IsEqual(a) == equal);
    QUILLON_FUZZ_CHECK(equal == (a.orderKey == b.orderKey));
}

VersionDescriptor Parse(const std::string& input) {
    VersionDescriptor v;
    v.product = "stale";
    v.recordCount = 9;
    const bool parsed = v.SetText(input);
    CheckParse(input, v, parsed);
    // Parsing a descriptor's own text in place must not read freed memory.
    VersionDescriptor self = v;
    self.SetText(self.text);
    QUILLON_FUZZ_CHECK(self.orderKey == v.orderKey);
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const std::string first = provider.ConsumeRandomLengthString(256);
    const std::string second = provider.ConsumeRandomLengthString(256);
    const std::string third = provider.ConsumeRemainingBytesAsString();
    CheckEntryHelpers(first);
    CheckEntryHelpers(third);

    const VersionDescriptor a = Parse(first);
    const VersionDescriptor b = Parse(second);
    const VersionDescriptor c = Parse(third);
    CheckOrder(a, b);
    CheckOrder(b, c);
    CheckOrder(a, c);
    CheckOrder(a, a);
    if (a.IsLessOrEqual(b) && b.IsLessOrEqual(c)) {
        QUILLON_FUZZ_CHECK(a.IsLessOrEqual(c));
    }
    if (a.IsLess(b) && b.IsLess(c)) {
        QUILLON_FUZZ_CHECK(a.IsLess(c));
    }
    return 0;
}
