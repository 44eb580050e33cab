#pragma once

#include <cstddef>

namespace quillon {

// What the process holds right now, from /proc/self: threads, open file descriptors and
// resident memory. 0 where the figure cannot be read.
struct ProcessFigures {
    std::size_t threads = 0;
    std::size_t descriptors = 0;
    std::size_t residentKiB = 0;

    static ProcessFigures Now();
};

} // namespace quillon
