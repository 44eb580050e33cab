#include "upload/DeviceIdentification.h"

#include "package/DescriptorEntry.h"

namespace quillon {

void ApplyDeviceLines(const std::vector<std::string>& lines, VersionDescriptor& descriptor,
                      const char* placeholderWhenEmpty) {
    if (lines.empty()) {
        descriptor.SetText(placeholderWhenEmpty);
        return;
    }
    descriptor.SetText("");
    for (const std::string& line : lines) {
        if (HasTag(line, "vers")) {
            descriptor.SetText(line);
        }
        if (HasTag(line, "prod")) {
            descriptor.product = TagValue(line);
        }
        if (HasTag(line, "bild")) {
            descriptor.buildStamp = TagValue(line);
        }
        if (HasTag(line, "time")) {
            descriptor.timeStamp = ParseDecimal(TagValue(line));
        }
    }
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

std::string DecodeBoardTypeId(std::string_view line) {
    // The device composes the reply in a 64-character buffer; anything longer is not a
    // reply it can have sent.
    constexpr std::size_t kMaxLine = 64;
    if (line.size() < 2 || line.size() > kMaxLine) {
        return kUnavailableText;
    }
    const std::string_view digits = line.substr(0, line.size() - 2);
    if (digits.size() % 2 != 0) {
        return kUnavailableText;
    }
    std::string id;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int high = HexDigit(digits[i]);
        const int low = HexDigit(digits[i + 1]);
        if (high < 0 || low < 0) {
            return kUnavailableText;
        }
        const int code = high * 16 + low;
        if (code == 0) {
            break;
        }
        if (!id.empty()) {
            id += ';';
        }
        id += static_cast<char>(code);
    }
    if (id.empty()) {
        return kUnavailableText;
    }
    return id;
}

} // namespace quillon
