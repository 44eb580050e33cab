#include "platform/PathPattern.h"

#include <glob.h>

namespace quillon {

std::vector<std::string> ExpandPathPattern(const std::string& pattern) {
    glob_t matches{};
    std::vector<std::string> names;
    if (::glob(pattern.c_str(), GLOB_ERR, nullptr, &matches) == 0) {
        names.assign(matches.gl_pathv, matches.gl_pathv + matches.gl_pathc);
    }
    ::globfree(&matches);
    return names;
}

} // namespace quillon
