#include "platform/PathPattern.h"

#include <cctype>

namespace quillon {

namespace {

bool Same(char a, char b, bool ignoreCase) {
    if (!ignoreCase) {
        return a == b;
    }
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
}

// Whether `c` is in the set that starts after the "[" at pattern[at]; `end` gets the index
// after its "]". A "[" without its "]" is no set (false, end unchanged).
bool InSet(std::string_view pattern, std::size_t at, char c, bool ignoreCase, std::size_t& end) {
    std::size_t i = at + 1;
    const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
    if (negated) {
        ++i;
    }
    bool found = false;
    bool first = true;
    for (; i < pattern.size() && (first || pattern[i] != ']'); ++i, first = false) {
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            auto low = static_cast<unsigned char>(pattern[i]);
            auto high = static_cast<unsigned char>(pattern[i + 2]);
            const auto u = static_cast<unsigned char>(c);
            found = found || (low <= u && u <= high);
            if (ignoreCase) {
                const auto l = static_cast<unsigned char>(std::tolower(u));
                const auto h = static_cast<unsigned char>(std::toupper(u));
                found = found || (low <= l && l <= high) || (low <= h && h <= high);
            }
            i += 2;
        } else {
            found = found || Same(pattern[i], c, ignoreCase);
        }
    }
    if (i >= pattern.size()) {
        return false;
    }
    end = i + 1;
    return found != negated;
}

// The length of the UTF-8 character at text[at]: names on Windows arrive as UTF-8, and "?"
// stands for a letter such as "ë", not for half of it.
std::size_t CharacterLength(std::string_view text, std::size_t at) {
    std::size_t length = 1;
    while (at + length < text.size() &&
           (static_cast<unsigned char>(text[at + length]) & 0xC0u) == 0x80u) {
        ++length;
    }
    return length;
}

} // namespace

bool MatchesPathPattern(std::string_view name, std::string_view pattern, bool ignoreCase) {
    // Greedy with one step back to the last "*": linear enough for names of ports and files.
    std::size_t n = 0;
    std::size_t p = 0;
    std::size_t starP = std::string_view::npos;
    std::size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
            continue;
        }
        if (p < pattern.size()) {
            std::size_t next = p + 1;
            std::size_t taken = 1;
            bool matched = false;
            if (pattern[p] == '?') {
                taken = CharacterLength(name, n);
                matched = true;
            } else if (pattern[p] == '[' && pattern.find(']', p + 2) != std::string_view::npos) {
                matched = InSet(pattern, p, name[n], ignoreCase, next);
            } else {
                matched = Same(pattern[p], name[n], ignoreCase);
            }
            if (matched) {
                p = next;
                n += taken;
                continue;
            }
        }
        if (starP == std::string_view::npos) {
            return false;
        }
        p = starP + 1;
        starN += CharacterLength(name, starN);
        n = starN;
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

} // namespace quillon
