#include "package/CInvalidFileError.h"

#include <utility>

namespace quillon {

CInvalidFileError::CInvalidFileError(std::string fileName)
    : fileName_(std::move(fileName)),
      message_(fileName_.empty() ? std::string("invalid package file")
                                 : "invalid package file: " + fileName_) {
}

} // namespace quillon
