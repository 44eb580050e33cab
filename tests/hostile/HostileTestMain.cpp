// The settings location is fixed the first time anything asks for it, so it is pointed
// at a private folder before any test runs; tests then change what lies inside it.

#include "tests/hostile/HostileSupport.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    char folder[] = "/tmp/quillon-hostile-XXXXXX";
    const char* made = ::mkdtemp(folder);
    if (made == nullptr) {
        return 1;
    }
    ::setenv("XDG_CONFIG_HOME", made, 1);
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::permissions(made, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(made, ignored);
    return status;
}
