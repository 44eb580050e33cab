// The wizard's settings file with arbitrary contents: reading must give usable values
// whatever the file holds, and what is then saved must read back the same.

#include "FuzzCheck.h"
#include "wizard/WizardSettings.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::filesystem::path SettingsFile() {
    static const std::filesystem::path file = [] {
        // Every save syncs a new file to disk; in memory that costs nothing, on a disk
        // it would cost most of the run.
        std::string folder = std::filesystem::is_directory("/dev/shm")
                                 ? "/dev/shm/quillon-fuzz-settings-XXXXXX"
                                 : "/tmp/quillon-fuzz-settings-XXXXXX";
        const char* made = ::mkdtemp(folder.data());
        QUILLON_FUZZ_CHECK(made != nullptr);
        ::setenv("XDG_CONFIG_HOME", made, 1);
        std::filesystem::create_directories(std::filesystem::path(made) / "Veldra");
        return std::filesystem::path(made) / "Veldra" / "Quillon.conf";
    }();
    return file;
}

// Each input gets a modification time of its own, so that a settings cache keyed on the
// file's time and size cannot hand out the previous input's values.
void Touch(const std::filesystem::path& file) {
    static time_t stamp = 1000000000;
    const struct timespec times[2] = {{++stamp, 0}, {stamp, 0}};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path file = SettingsFile();
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    Touch(file);
    const quillon::WizardSettings loaded = quillon::LoadWizardSettings();

    // A port read from a file is saved and read back unchanged; so is the slow flag, and
    // the save says it took place, whatever the file held before.
    QUILLON_FUZZ_CHECK(quillon::SaveWizardSettings(loaded));
    Touch(file);
    const quillon::WizardSettings again = quillon::LoadWizardSettings();
    QUILLON_FUZZ_CHECK(again.slow == loaded.slow);
    QUILLON_FUZZ_CHECK(again.port == loaded.port);
    return 0;
}
