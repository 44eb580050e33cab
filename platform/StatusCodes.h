#pragma once

#include <cstdint>

// The 32-bit status codes every layer returns. The numeric values are the ones the
// Windows platform uses, because callers, logs and the device-facing logic compare
// against them; on Linux the serial layer maps errno values to the same scheme.
namespace quillon {

using Status = std::int32_t;

inline constexpr Status kOk = 0;
inline constexpr Status kSoftOutcome = 1; // stopped, aborted, redirected, nothing to send

inline constexpr Status kErrorInvalidFunction = 1;       // ERROR_INVALID_FUNCTION
inline constexpr Status kErrorFileNotFound = 2;          // ERROR_FILE_NOT_FOUND
inline constexpr Status kErrorPathNotFound = 3;          // ERROR_PATH_NOT_FOUND
inline constexpr Status kErrorTooManyOpenFiles = 4;      // ERROR_TOO_MANY_OPEN_FILES
inline constexpr Status kErrorAccessDenied = 5;          // ERROR_ACCESS_DENIED
inline constexpr Status kErrorInvalidHandle = 6;         // ERROR_INVALID_HANDLE
inline constexpr Status kErrorNotEnoughMemory = 8;       // ERROR_NOT_ENOUGH_MEMORY
inline constexpr Status kErrorGenFailure = 31;           // ERROR_GEN_FAILURE
inline constexpr Status kErrorSharingViolation = 32;     // ERROR_SHARING_VIOLATION
inline constexpr Status kErrorNotSupported = 50;         // ERROR_NOT_SUPPORTED
inline constexpr Status kErrorInvalidParameter = 87;     // ERROR_INVALID_PARAMETER
inline constexpr Status kErrorFilenameExcedRange = 206;  // ERROR_FILENAME_EXCED_RANGE
inline constexpr Status kErrorMoreData = 234;            // ERROR_MORE_DATA
inline constexpr Status kWaitTimeout = 258;              // WAIT_TIMEOUT
inline constexpr Status kErrorOperationAborted = 995;    // ERROR_OPERATION_ABORTED
inline constexpr Status kErrorDeviceNotConnected = 1167; // ERROR_DEVICE_NOT_CONNECTED
inline constexpr Status kErrorAlreadyInitialized = 1247; // ERROR_ALREADY_INITIALIZED
inline constexpr Status kErrorTimeout = 1460;            // ERROR_TIMEOUT

// HRESULT values, kept as the signed 32-bit numbers they are on the wire of the API.
inline constexpr Status kEFail = static_cast<Status>(0x80004005u);       // E_FAIL
inline constexpr Status kEInvalidArg = static_cast<Status>(0x80070057u); // E_INVALIDARG
inline constexpr Status kEAbort = static_cast<Status>(0x80004004u);      // E_ABORT

} // namespace quillon
