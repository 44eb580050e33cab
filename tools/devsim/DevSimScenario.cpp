#include "tools/devsim/DevSimScenario.h"

#include <cctype>
#include <charconv>
#include <cstdio>

namespace quillon {

namespace {

std::string Lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// Decimal, or hexadecimal after "0x"; an optional leading "-" for decimal. The whole text
// must be the number.
std::optional<long long> ParseInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(at + 1);
    }
}

std::optional<int> ParseTimes(std::string_view text) {
    if (Lowered(text) == "always") {
        return -1;
    }
    const auto value = ParseInteger(text);
    if (!value || *value == 0 || *value > 1000000) {
        return std::nullopt;
    }
    return *value < 0 ? -1 : static_cast<int>(*value);
}

} // namespace

DevSimScenario DevSimScenario::Realistic() {
    DevSimScenario scenario;
    scenario.powerUpDelay = Milliseconds{500};
    scenario.replyLatency = Milliseconds{2};
    scenario.programmingTime = Milliseconds{30};
    scenario.startupDelay = Milliseconds{300};
    scenario.pacing = true;
    return scenario;
}

std::optional<DevSimRecordRef> ParseDevSimRecordRef(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string package = Lowered(text.substr(0, colon));
    DevSimRecordRef ref;
    if (package == "image" || package == "firmware" || package == "fw") {
        ref.package = DevSimPackage::Image;
    } else if (package == "utility" || package == "util") {
        ref.package = DevSimPackage::Utility;
    } else {
        return std::nullopt;
    }
    const auto index = ParseInteger(text.substr(colon + 1));
    if (!index || *index < 0 || *index > 0xFFFF) {
        return std::nullopt;
    }
    ref.index = static_cast<int>(*index);
    return ref;
}

std::optional<DevSimFault> ParseDevSimFault(DevSimFault::Kind kind, std::string_view text) {
    using Kind = DevSimFault::Kind;
    const auto parts = Split(text, ':');
    if (parts.size() < 2) {
        return std::nullopt;
    }
    DevSimFault fault;
    fault.kind = kind;
    if (Lowered(parts[0]) == "nth") {
        const auto nth = ParseInteger(parts[1]);
        if (!nth || *nth < 1 || *nth > 100000000) {
            return std::nullopt;
        }
        fault.nth = static_cast<std::size_t>(*nth);
    } else {
        const std::string recordText = std::string(parts[0]) + ":" + std::string(parts[1]);
        const auto record = ParseDevSimRecordRef(recordText);
        if (!record) {
            return std::nullopt;
        }
        fault.record = *record;
    }
    std::size_t next = 2;
    if (kind == Kind::Redirect) {
        if (parts.size() <= next) {
            return std::nullopt;
        }
        const auto code = ParseInteger(parts[next++]);
        if (!code || *code < 0 || *code > 0x3FFF) {
            return std::nullopt;
        }
        fault.code = static_cast<std::uint16_t>(*code);
    }
    if (kind == Kind::HangUp || kind == Kind::StopReading) {
        return parts.size() == next ? std::optional<DevSimFault>(fault) : std::nullopt;
    }
    // An arrival happens once: a count makes no sense there, but a mask still does.
    if (parts.size() > next && fault.nth == 0) {
        const auto times = ParseTimes(parts[next++]);
        if (!times) {
            return std::nullopt;
        }
        fault.times = *times;
    }
    if (kind == Kind::CorruptWord) {
        fault.code = 0x8000;
        if (parts.size() > next) {
            const auto mask = ParseInteger(parts[next++]);
            if (!mask || *mask <= 0 || *mask > 0xFFFF) {
                return std::nullopt;
            }
            fault.code = static_cast<std::uint16_t>(*mask);
        }
    }
    if (parts.size() != next) {
        return std::nullopt;
    }
    return fault;
}

std::optional<DevSimCrcVerdict> ParseDevSimCrcVerdict(std::string_view text) {
    const std::string lowered = Lowered(text);
    if (lowered == "good") {
        return DevSimCrcVerdict::Good;
    }
    if (lowered == "bad") {
        return DevSimCrcVerdict::Bad;
    }
    if (lowered == "none") {
        return DevSimCrcVerdict::NoLine;
    }
    return std::nullopt;
}

std::optional<DevSimReplyMode> ParseDevSimReplyMode(std::string_view text) {
    const std::string lowered = Lowered(text);
    if (lowered == "normal") {
        return DevSimReplyMode::Normal;
    }
    if (lowered == "silent") {
        return DevSimReplyMode::Silent;
    }
    if (lowered == "babble") {
        return DevSimReplyMode::Babble;
    }
    return std::nullopt;
}

std::string UnescapeDevSimText(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        const char next = text[++i];
        switch (next) {
        case 'r':
            out.push_back('\r');
            break;
        case 'n':
            out.push_back('\n');
            break;
        case 't':
            out.push_back('\t');
            break;
        case '\\':
            out.push_back('\\');
            break;
        case 'x': {
            unsigned value = 0;
            std::size_t digits = 0;
            while (digits < 2 && i + 1 < text.size() &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 1])) != 0) {
                const char d =
                    static_cast<char>(std::tolower(static_cast<unsigned char>(text[++i])));
                value = value * 16 + static_cast<unsigned>(d <= '9' ? d - '0' : d - 'a' + 10);
                ++digits;
            }
            if (digits == 0) {
                out += "\\x";
            } else {
                out.push_back(static_cast<char>(value));
            }
            break;
        }
        default:
            out.push_back('\\');
            out.push_back(next);
            break;
        }
    }
    return out;
}

std::string ToString(const DevSimRecordRef& record) {
    return (record.package == DevSimPackage::Image ? "image:" : "utility:") +
           std::to_string(record.index);
}

std::string ToString(DevSimCrcVerdict verdict) {
    switch (verdict) {
    case DevSimCrcVerdict::Good:
        return "good";
    case DevSimCrcVerdict::Bad:
        return "bad";
    case DevSimCrcVerdict::NoLine:
        return "none";
    }
    return "good";
}

std::string ToString(DevSimReplyMode mode) {
    switch (mode) {
    case DevSimReplyMode::Normal:
        return "normal";
    case DevSimReplyMode::Silent:
        return "silent";
    case DevSimReplyMode::Babble:
        return "babble";
    }
    return "normal";
}

std::string ToString(DevSimFault::Kind kind) {
    using Kind = DevSimFault::Kind;
    switch (kind) {
    case Kind::Refuse:
        return "refuse";
    case Kind::Redirect:
        return "redirect";
    case Kind::Silent:
        return "silent";
    case Kind::HangUp:
        return "hang-up";
    case Kind::Babble:
        return "babble";
    case Kind::StopReading:
        return "stop-reading";
    case Kind::CorruptWord:
        return "corrupt-word";
    case Kind::Echo:
        return "echo";
    }
    return "?";
}

} // namespace quillon
