#pragma once

#include "platform/StatusCodes.h"

#include <exception>
#include <string>

namespace quillon {

// The one exception of the package reader: a record header that cannot be read (too
// short, or its size field is not 14). It carries the package's name (empty unless one
// was set) and the cause code of an invalid file (6). Whoever reads records from a
// package either catches it or lets it end the program.
//
// Threads: an immutable value, thrown and caught on the thread that read the package.
class CInvalidFileError : public std::exception {
public:
    static constexpr Status kCause = kErrorInvalidHandle;

    explicit CInvalidFileError(std::string fileName);

    const std::string& FileName() const noexcept { return fileName_; }
    Status Cause() const noexcept { return kCause; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string fileName_;
    std::string message_;
};

} // namespace quillon
