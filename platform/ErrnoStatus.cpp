#include "platform/ErrnoStatus.h"

#include <cerrno>

namespace quillon {

Status StatusFromErrno(int error) {
    switch (error) {
    case 0:
        return kOk;
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return kErrorFileNotFound;
    case ENOTDIR:
    case ELOOP:
        return kErrorPathNotFound;
    case EMFILE:
    case ENFILE:
        return kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EBUSY:
    case EWOULDBLOCK:
        return kErrorAccessDenied;
    case ENOMEM:
        return kErrorNotEnoughMemory;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP:
        return kErrorInvalidFunction;
    case EINVAL:
        return kErrorInvalidParameter;
    case ENAMETOOLONG:
        return kErrorFilenameExcedRange;
    case ETIMEDOUT:
        return kErrorTimeout;
    case EIO:
        return kErrorDeviceNotConnected;
    case ECANCELED:
        return kErrorOperationAborted;
    default:
        return kErrorGenFailure;
    }
}

} // namespace quillon
