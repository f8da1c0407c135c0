#pragma once
// How the Windows device layer reads the system's error codes. Plain numbers, so that the
// mapping is checked on every platform.

#include "SerialDevice.h"

namespace win32_error {
inline constexpr unsigned long kFileNotFound = 2;
inline constexpr unsigned long kPathNotFound = 3;
inline constexpr unsigned long kAccessDenied = 5;
inline constexpr unsigned long kInvalidHandle = 6;
inline constexpr unsigned long kNotReady = 21;
inline constexpr unsigned long kBadCommand = 22;
inline constexpr unsigned long kGenFailure = 31;
inline constexpr unsigned long kSharingViolation = 32;
inline constexpr unsigned long kNoSuchDevice = 433;  // ERROR_NO_SUCH_DEVICE (newer headers only)
inline constexpr unsigned long kOperationAborted = 995;
inline constexpr unsigned long kDeviceNotConnected = 1167;
inline constexpr unsigned long kDeviceRemoved = 1617;
}  // namespace win32_error

// The cause of a refused CreateFileA on a port. A port held by another program is refused with
// "access denied" on Windows, so that code means busy there.
OpenFailure OpenFailureFromWin32Error(unsigned long error);

// True for the codes ReadFile and ClearCommError give once the port's device is gone (a USB
// adapter pulled out, its driver stopped): no later read on the handle can succeed.
bool IsWin32DeviceGoneError(unsigned long error);
