#pragma once

// The system error codes that say a port's device has gone away (an adapter pulled,
// a driver that dropped the device, a port closed under the program). No further
// attempt on such a port can succeed, so a transaction ends at once with the code
// instead of spending its remaining attempts on it.

#include <cstdint>

namespace device_loss {

// Win32 codes, by value, so that the table reads the same on every platform.
constexpr bool IsWin32DeviceLoss(std::int32_t code) {
    switch (code) {
    case 2:    // ERROR_FILE_NOT_FOUND: the device name has gone
    case 3:    // ERROR_PATH_NOT_FOUND
    case 5:    // ERROR_ACCESS_DENIED: what USB-serial drivers give a pulled adapter's handle
    case 6:    // ERROR_INVALID_HANDLE: a port no longer open
    case 20:   // ERROR_BAD_UNIT
    case 21:   // ERROR_NOT_READY
    case 22:   // ERROR_BAD_COMMAND: the device does not recognise the command any more
    case 31:   // ERROR_GEN_FAILURE: a device that stopped working (Wine: a hung-up line)
    case 55:   // ERROR_DEV_NOT_EXIST
    case 109:  // ERROR_BROKEN_PIPE: how Wine ends a pending read on a hung-up line
    case 433:  // ERROR_NO_SUCH_DEVICE
    case 995:  // ERROR_OPERATION_ABORTED: the driver aborted the request on its own
    case 1167: // ERROR_DEVICE_NOT_CONNECTED
    case 1617: // ERROR_DEVICE_REMOVED
    case 4319: // ERROR_DEVICE_NOT_AVAILABLE
        return true;
    default:
        return false;
    }
}

// Linux errno values: a hung-up terminal (EIO), a device without its driver (ENXIO,
// ENODEV) or a descriptor that is no longer valid (EBADF).
constexpr bool IsPosixDeviceLoss(std::int32_t code) {
    switch (code) {
    case 5:  // EIO
    case 6:  // ENXIO
    case 9:  // EBADF
    case 19: // ENODEV
        return true;
    default:
        return false;
    }
}

// Whether a result of CSerial (a positive system code; link codes are negative)
// means the device is gone, on the platform the program runs on.
constexpr bool IsDeviceLost(std::int32_t code) {
#ifdef _WIN32
    return IsWin32DeviceLoss(code);
#else
    return IsPosixDeviceLoss(code);
#endif
}

} // namespace device_loss
