// quillon-cli info over package files with arbitrary contents: whatever the bytes, the
// command describes them or says which file is damaged, and never crashes.

#include "FuzzCheck.h"
#include "cli/CInfoCommand.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

std::string PackageFile() {
    static const std::string path = [] {
        // Every input is written to the file first: in memory where there is a place for it.
        std::string name = std::filesystem::is_directory("/dev/shm")
                               ? "/dev/shm/quillon-fuzz-info-XXXXXX"
                               : "/tmp/quillon-fuzz-info-XXXXXX";
        const int fd = ::mkstemp(name.data());
        QUILLON_FUZZ_CHECK(fd >= 0);
        ::close(fd);
        return name;
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = PackageFile();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    quillon::CInfoCommand command("quillon-cli");
    for (const char* option : {"--firmware", "--utility"}) {
        std::ostringstream out;
        std::ostringstream err;
        const int status = command.Run({option, path}, out, err);
        QUILLON_FUZZ_CHECK(status == 0 || !err.str().empty());
    }
    return 0;
}
