#pragma once

#include <filesystem>
#include <string>

namespace quillon::testing {

// A fresh folder under the system's temporary folder, removed with everything in it when
// the object goes. Belongs to the thread that made it.
class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // Path of an entry inside the folder (not created).
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

} // namespace quillon::testing
