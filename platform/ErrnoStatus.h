#pragma once

#include "platform/StatusCodes.h"

// Translation of errno values into the status codes the serial layer reports.
//
//   ENOENT, ENXIO, ENODEV                -> 2    ERROR_FILE_NOT_FOUND (no such port)
//   ENOTDIR, ELOOP                       -> 3    ERROR_PATH_NOT_FOUND
//   EMFILE, ENFILE                       -> 4    ERROR_TOO_MANY_OPEN_FILES
//   EACCES, EPERM, EROFS, EISDIR         -> 5    ERROR_ACCESS_DENIED
//   EBUSY, EWOULDBLOCK (port held)       -> 5    ERROR_ACCESS_DENIED: a port in use reads as
//                                                "access denied", as the port list and the
//                                                port page expect; the raw errno is kept
//                                                beside it so a message can tell "busy"
//                                                from "no permission"
//   ENOMEM                               -> 8    ERROR_NOT_ENOUGH_MEMORY
//   ENOTTY, ENOSYS, EOPNOTSUPP           -> 1    ERROR_INVALID_FUNCTION (not a terminal)
//   EINVAL                               -> 87   ERROR_INVALID_PARAMETER (e.g. a speed the
//                                                driver refuses)
//   ENAMETOOLONG                         -> 206  ERROR_FILENAME_EXCED_RANGE
//   ETIMEDOUT                            -> 1460 ERROR_TIMEOUT
//   EIO, and a hang-up (read of 0 bytes) -> 1167 ERROR_DEVICE_NOT_CONNECTED
//   ECANCELED                            -> 995  ERROR_OPERATION_ABORTED
//   anything else                        -> 31   ERROR_GEN_FAILURE
namespace quillon {

Status StatusFromErrno(int error);

} // namespace quillon
