// Board type IDs against target board type patterns. Raw strings check that nothing
// crashes and that the list selection agrees with the single matcher; patterns and IDs
// built field by field from the input check the matcher against the meaning of the
// grammar (a field hits when one of its items - a character, "*" or a range - takes the
// device character).

#include "FuzzCheck.h"
#include "upload/BoardMatching.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

namespace {

std::size_t Fields(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), ';')) + 1;
}

void CheckRaw(FuzzedDataProvider& provider) {
    const std::string id = provider.ConsumeRandomLengthString(64);
    std::vector<std::string> list;
    const std::size_t count = provider.ConsumeIntegralInRange<std::size_t>(0, 6);
    for (std::size_t k = 0; k < count; ++k) {
        list.push_back(provider.ConsumeRandomLengthString(64));
    }

    bool anyMatch = false;
    for (const std::string& entry : list) {
        std::string pattern = entry;
        std::string padded = id;
        quillon::EqualizeFieldCounts(pattern, padded);
        QUILLON_FUZZ_CHECK(Fields(pattern) == Fields(padded));
        QUILLON_FUZZ_CHECK(pattern.compare(0, entry.size(), entry) == 0);
        QUILLON_FUZZ_CHECK(padded.compare(0, id.size(), id) == 0);
        anyMatch = quillon::MatchBoardType(pattern, padded) || anyMatch;
        (void)quillon::MatchBoardType(entry, id);
        // The placeholders never match.
        for (const char* placeholder : {"Unknown", "Unavailable"}) {
            std::string p = entry;
            std::string d = placeholder;
            quillon::EqualizeFieldCounts(p, d);
            QUILLON_FUZZ_CHECK(!quillon::MatchBoardType(p, d));
        }
    }

    std::vector<std::string> selected = list;
    const bool found = quillon::SelectTargetBoardType(selected, id);
    QUILLON_FUZZ_CHECK(found == anyMatch);
    QUILLON_FUZZ_CHECK(
        std::is_permutation(selected.begin(), selected.end(), list.begin(), list.end()));
    if (found) {
        std::string pattern = selected.front();
        std::string padded = id;
        quillon::EqualizeFieldCounts(pattern, padded);
        QUILLON_FUZZ_CHECK(quillon::MatchBoardType(pattern, padded));
    } else {
        QUILLON_FUZZ_CHECK(selected == list);
    }

    const std::string text = quillon::TargetBoardIdsText(selected);
    QUILLON_FUZZ_CHECK(selected.empty() ? text == "Unknown"
                                        : text.compare(0, selected[0].size(), selected[0]) == 0);

    const quillon::ModuleNames names = quillon::ModuleVariantNames(id);
    const bool variant = id.size() >= 13 && id[12] != 'N';
    QUILLON_FUZZ_CHECK(names.flash == (variant ? "FlashMod" + id.substr(12, 1) : "FlashMod"));
    QUILLON_FUZZ_CHECK(names.crc == (variant ? "FwCRCMod" + id.substr(12, 1) : "FwCRCMod"));
}

char ItemChar(FuzzedDataProvider& provider) {
    // Not one of the grammar's separators.
    char c = 0;
    do {
        c = static_cast<char>(provider.ConsumeIntegral<std::uint8_t>());
    } while ((c == ';' || c == ',' || c == '-') && provider.remaining_bytes() > 0);
    return (c == ';' || c == ',' || c == '-') ? 'x' : c;
}

void CheckStructured(FuzzedDataProvider& provider) {
    const std::size_t fields = provider.ConsumeIntegralInRange<std::size_t>(1, 9);
    std::string id;
    std::string pattern;
    bool expected = true;
    for (std::size_t f = 0; f < fields; ++f) {
        char d = static_cast<char>(provider.ConsumeIntegral<std::uint8_t>());
        if (d == ';') {
            d = 'N';
        }
        if (f > 0) {
            id += ';';
            pattern += ';';
        }
        id += d;

        const std::size_t items = provider.ConsumeIntegralInRange<std::size_t>(1, 4);
        bool hit = false;
        for (std::size_t k = 0; k < items; ++k) {
            if (k > 0) {
                pattern += ',';
            }
            switch (provider.ConsumeIntegralInRange<int>(0, 3)) {
            case 0:
                pattern += '*';
                hit = true;
                break;
            case 1: {
                const char low = ItemChar(provider);
                const char high = ItemChar(provider);
                pattern += low;
                pattern += '-';
                pattern += high;
                const auto s = static_cast<signed char>(d);
                hit = hit ||
                      (static_cast<signed char>(low) <= s && s <= static_cast<signed char>(high));
                break;
            }
            case 2:
                pattern += d == ',' || d == '-' ? 'x' : d;
                hit = hit || d == pattern.back();
                break;
            default: {
                const char c = ItemChar(provider);
                pattern += c;
                hit = hit || c == '*' || c == d;
                break;
            }
            }
        }
        expected = expected && hit;
    }
    QUILLON_FUZZ_CHECK(quillon::MatchBoardType(pattern, id) == expected);

    // A missing trailing field counts as "N".
    std::string shortId =
        id.substr(0, id.rfind(';') == std::string::npos ? id.size() : id.rfind(';'));
    if (fields > 1) {
        std::vector<std::string> list{pattern};
        std::string padded = shortId;
        std::string p = pattern;
        quillon::EqualizeFieldCounts(p, padded);
        QUILLON_FUZZ_CHECK(padded == shortId + ";N");
        QUILLON_FUZZ_CHECK(quillon::SelectTargetBoardType(list, shortId) ==
                           quillon::MatchBoardType(pattern, padded));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    if (provider.ConsumeBool()) {
        CheckStructured(provider);
    } else {
        CheckRaw(provider);
    }
    return 0;
}
