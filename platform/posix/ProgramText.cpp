#include "platform/ProgramText.h"

namespace quillon {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    // The terminal's bytes are taken as they come: Linux file names are bytes, UTF-8 by
    // convention.
    return {argv + (argc > 0 ? 1 : 0), argv + argc};
}

} // namespace quillon
