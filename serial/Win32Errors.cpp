#include "Win32Errors.h"

OpenFailure OpenFailureFromWin32Error(unsigned long error) {
    switch (error) {
        case win32_error::kFileNotFound:
        case win32_error::kPathNotFound:
        case win32_error::kNoSuchDevice:
        case win32_error::kDeviceNotConnected:
            return OpenFailure::MissingDevice;
        case win32_error::kAccessDenied:
        case win32_error::kSharingViolation:
            return OpenFailure::Busy;
        default:
            return OpenFailure::Other;
    }
}

bool IsWin32DeviceGoneError(unsigned long error) {
    switch (error) {
        case win32_error::kAccessDenied:
        case win32_error::kInvalidHandle:
        case win32_error::kNotReady:
        case win32_error::kBadCommand:
        case win32_error::kGenFailure:
        case win32_error::kNoSuchDevice:
        case win32_error::kOperationAborted:
        case win32_error::kDeviceNotConnected:
        case win32_error::kDeviceRemoved:
            return true;
        default:
            return false;
    }
}
