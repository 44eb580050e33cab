#include "tools/pkgbuild/CManifest.h"

#include <charconv>
#include <limits>

namespace quillon {

const char* const CManifest::kManifestSyntax =
    "Manifest syntax: one statement per line; a line whose first non-blank character is\n"
    "\"#\" is a comment, and so is the rest of a line other than an entry from a word\n"
    "that starts with \"#\"; blank lines are skipped.\n"
    "  seed N          seed of the payload generator (once, before the first record)\n"
    "  expect size=N records=N\n"
    "                  the built package must have exactly this many bytes and records\n"
    "  record TYPE blocks=N [param=N] [timeout=N] [count=N] [step=N]\n"
    "                  COUNT records (default 1) of the types TYPE, TYPE+STEP,\n"
    "                  TYPE+2*STEP, ... (STEP default 0), each with a payload of N blocks\n"
    "                  of 32 bytes, the parameter and the reply timeout in ms (default 0)\n"
    "  entry TEXT      a text entry of the descriptor record above (a TYPE with bit 15\n"
    "                  set, count 1); TEXT is the rest of the line without the blanks\n"
    "                  around it; the entries, an empty closing entry and zero bytes\n"
    "                  must fit in the record's blocks\n"
    "Numbers are decimal or hexadecimal with 0x. The payload of every record that is not\n"
    "a descriptor is generated from the seed and the record's position: the same manifest\n"
    "always gives the same package, and no two payloads are equal.\n";

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Splits off the next blank-separated word.
std::string_view NextWord(std::string_view& rest) {
    rest = Trim(rest);
    std::size_t end = 0;
    while (end < rest.size() && !IsBlank(rest[end])) {
        ++end;
    }
    const std::string_view word = rest.substr(0, end);
    rest.remove_prefix(end);
    return word;
}

std::optional<std::uint64_t> ParseNumber(std::string_view text, std::uint64_t max) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || ec != std::errc() || ptr != end || value > max) {
        return std::nullopt;
    }
    return value;
}

} // namespace

bool CManifest::Fail(int line, const std::string& message) {
    error_ = "line " + std::to_string(line) + ": " + message;
    return false;
}

bool CManifest::Parse(std::string_view text) {
    records_.clear();
    seed_ = 0;
    seedSeen_ = false;
    expectedSize_.reset();
    expectedRecords_.reset();
    error_.clear();
    int line = 0;
    while (!text.empty()) {
        ++line;
        const auto newline = text.find('\n');
        const std::string_view current = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (!ParseLine(line, current)) {
            return false;
        }
    }
    if (records_.empty()) {
        return Fail(line, "the manifest describes no records");
    }
    return true;
}

bool CManifest::ParseLine(int line, std::string_view text) {
    std::string_view rest = Trim(text);
    if (rest.empty() || rest.front() == '#') {
        return true;
    }
    const std::string_view keyword = NextWord(rest);

    if (keyword == "entry") {
        if (records_.empty() || (records_.back().type & 0x8000u) == 0) {
            return Fail(line, "an entry must follow a descriptor record (type with bit 15 set)");
        }
        if (records_.back().count != 1) {
            return Fail(line, "a descriptor record with entries must have count 1");
        }
        const std::string_view entry = Trim(rest);
        if (entry.empty()) {
            return Fail(line, "an empty entry would end the descriptor's entries");
        }
        records_.back().entries.emplace_back(entry);
        return true;
    }

    // Outside entries, a word starting with "#" begins a comment to the end of the line.
    for (std::size_t at = rest.find('#'); at != std::string_view::npos;
         at = rest.find('#', at + 1)) {
        if (at == 0 || IsBlank(rest[at - 1])) {
            rest = rest.substr(0, at);
            break;
        }
    }

    if (keyword == "seed") {
        if (seedSeen_ || !records_.empty()) {
            return Fail(line, "the seed must be given once, before the first record");
        }
        const auto value = ParseNumber(NextWord(rest), std::numeric_limits<std::uint64_t>::max());
        if (!value || !Trim(rest).empty()) {
            return Fail(line, "expected: seed N");
        }
        seed_ = *value;
        seedSeen_ = true;
        return true;
    }

    // The remaining statements are a keyword, maybe one plain word, then name=value pairs.
    std::string_view typeWord;
    if (keyword == "record") {
        typeWord = NextWord(rest);
        if (!ParseNumber(typeWord, 0xFFFF)) {
            return Fail(line, "a record needs a type from 0 to 0xFFFF, not \"" +
                                  std::string(typeWord) + "\"");
        }
    } else if (keyword != "expect") {
        return Fail(line, "unknown statement \"" + std::string(keyword) + "\"");
    }

    Record record;
    record.line = line;
    if (!typeWord.empty()) {
        record.type = static_cast<std::uint16_t>(*ParseNumber(typeWord, 0xFFFF));
    }
    bool blocksSeen = false;
    for (std::string_view word = NextWord(rest); !word.empty(); word = NextWord(rest)) {
        const auto equals = word.find('=');
        if (equals == std::string_view::npos) {
            return Fail(line, "expected name=value, not \"" + std::string(word) + "\"");
        }
        const std::string_view name = word.substr(0, equals);
        const std::string_view valueText = word.substr(equals + 1);
        auto number = [&](std::uint64_t max) { return ParseNumber(valueText, max); };
        std::optional<std::uint64_t> value;
        if (keyword == "expect") {
            if (name == "size" && (value = number(std::numeric_limits<std::uint64_t>::max()))) {
                expectedSize_ = *value;
            } else if (name == "records" &&
                       (value = number(std::numeric_limits<std::uint64_t>::max()))) {
                expectedRecords_ = *value;
            }
        } else if (name == "blocks" && (value = number(0xFFFF))) {
            record.blocks = static_cast<std::uint16_t>(*value);
            blocksSeen = true;
        } else if (name == "param" && (value = number(0xFFFFFFFFu))) {
            record.parameter = static_cast<std::uint32_t>(*value);
        } else if (name == "timeout" && (value = number(0xFFFFFFFFu))) {
            record.replyTimeout = static_cast<std::uint32_t>(*value);
        } else if (name == "count" && (value = number(0xFFFFFFFFu)) && *value > 0) {
            record.count = static_cast<std::uint32_t>(*value);
        } else if (name == "step" && (value = number(0xFFFF))) {
            record.step = static_cast<std::uint16_t>(*value);
        }
        if (!value || (name == "count" && *value == 0)) {
            return Fail(line, "bad or unknown setting \"" + std::string(word) + "\"");
        }
    }
    if (keyword == "expect") {
        return true;
    }
    if (!blocksSeen) {
        return Fail(line, "a record needs blocks=N");
    }
    const std::uint64_t lastType =
        std::uint64_t{record.type} + std::uint64_t{record.step} * (record.count - 1);
    if (lastType > 0xFFFF) {
        return Fail(line, "the types of the repeated records run past 0xFFFF");
    }
    records_.push_back(std::move(record));
    return true;
}

} // namespace quillon
