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
inline constexpr Status kErrorInvalidHandle = 6;         // ERROR_INVALID_HANDLE
inline constexpr Status kWaitTimeout = 258;              // WAIT_TIMEOUT
inline constexpr Status kErrorAlreadyInitialized = 1247; // ERROR_ALREADY_INITIALIZED
inline constexpr Status kErrorTimeout = 1460;            // ERROR_TIMEOUT

// HRESULT values, kept as the signed 32-bit numbers they are on the wire of the API.
inline constexpr Status kEFail = static_cast<Status>(0x80004005u);       // E_FAIL
inline constexpr Status kEInvalidArg = static_cast<Status>(0x80070057u); // E_INVALIDARG
inline constexpr Status kEAbort = static_cast<Status>(0x80004004u);      // E_ABORT

} // namespace quillon
