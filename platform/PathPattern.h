#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// The ports a --ports pattern names, sorted; empty when nothing matches. On POSIX the
// shell's rules over the file system (glob). On Windows a name without a folder
// ("COM*", "\\.\COM1?") is matched against the COM ports the system has, in any letter
// case, COM2 before COM10; a path is matched in its last part against the folder's
// entries, ignoring case as the file system does.
std::vector<std::string> ExpandPathPattern(const std::string& pattern);

// Whether `name` matches `pattern`: "*" any run of characters, "?" one, "[abc]", "[a-z]"
// and "[!a]" one of a set of ASCII characters (or not of it); any other character itself,
// letters in either case when `ignoreCase`. The same on every system; Windows expands patterns with
// it.
bool MatchesPathPattern(std::string_view name, std::string_view pattern, bool ignoreCase);

} // namespace quillon
