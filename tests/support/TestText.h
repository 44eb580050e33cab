#pragma once

#include <string>
#include <vector>

namespace quillon::testing {

bool Contains(const std::string& text, const std::string& part);
// How often `part` occurs in `text`, not overlapping.
std::size_t Occurrences(const std::string& text, const std::string& part);
// The lines of a text, without their line ends ("\n" or "\r\n").
std::vector<std::string> Lines(const std::string& text);
// True when text starts with pattern, where '#' in the pattern stands for any digit.
bool StartsWithPattern(const std::string& text, const std::string& pattern);
// A whole file as bytes, its path in UTF-8; empty when it cannot be read.
std::string ReadText(const std::string& path);

// The header each session of the session log starts with; the time stamp as '#' digits
// (for StartsWithPattern).
extern const std::string kLogHeader;

} // namespace quillon::testing
