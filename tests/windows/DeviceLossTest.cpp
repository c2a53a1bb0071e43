// Which system codes end a transaction at once: the device behind the port is gone,
// and no further attempt could reach it.

#include "communication/serial/DeviceLoss.h"

#include "communication/ResultCodes.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

struct CodeCase {
    std::int32_t code;
    bool lost;
    const char* name;
};

// The Win32 constants themselves, so that a wrong number in the table is caught.
constexpr CodeCase Win32Codes[] = {
    {ERROR_ACCESS_DENIED, true, "ERROR_ACCESS_DENIED"},
    {ERROR_BAD_COMMAND, true, "ERROR_BAD_COMMAND"},
    {ERROR_DEVICE_REMOVED, true, "ERROR_DEVICE_REMOVED"},
    {ERROR_OPERATION_ABORTED, true, "ERROR_OPERATION_ABORTED"},
    {ERROR_GEN_FAILURE, true, "ERROR_GEN_FAILURE"},
    {ERROR_FILE_NOT_FOUND, true, "ERROR_FILE_NOT_FOUND"},
    {ERROR_PATH_NOT_FOUND, true, "ERROR_PATH_NOT_FOUND"},
    {ERROR_INVALID_HANDLE, true, "ERROR_INVALID_HANDLE"},
    {ERROR_BAD_UNIT, true, "ERROR_BAD_UNIT"},
    {ERROR_NOT_READY, true, "ERROR_NOT_READY"},
    {ERROR_DEV_NOT_EXIST, true, "ERROR_DEV_NOT_EXIST"},
    {ERROR_BROKEN_PIPE, true, "ERROR_BROKEN_PIPE"}, // Wine's end of a read on a hung-up line
    {433, true, "ERROR_NO_SUCH_DEVICE"},            // not in MinGW's headers,
    {ERROR_DEVICE_NOT_CONNECTED, true, "ERROR_DEVICE_NOT_CONNECTED"},
    {ERROR_DEVICE_NOT_AVAILABLE, true, "ERROR_DEVICE_NOT_AVAILABLE"},
    // A slow or disturbed line is worth another attempt.
    {ERROR_TIMEOUT, false, "ERROR_TIMEOUT"},
    {ERROR_SEM_TIMEOUT, false, "ERROR_SEM_TIMEOUT"},
    {ERROR_IO_PENDING, false, "ERROR_IO_PENDING"},
    {ERROR_NOT_ENOUGH_MEMORY, false, "ERROR_NOT_ENOUGH_MEMORY"},
    {ERROR_COUNTER_TIMEOUT, false, "ERROR_COUNTER_TIMEOUT"},
    {0, false, "success"},
    // The link's own results are never a lost device.
    {Raw(LINK_ERR_TIMEOUT), false, "LINK_ERR_TIMEOUT"},
    {Raw(LINK_ERR_CRC), false, "LINK_ERR_CRC"},
    {Raw(LINK_ERR_ACK), false, "LINK_ERR_ACK"},
    {Raw(LINK_ERR_NO_PORT), false, "LINK_ERR_NO_PORT"},
};

TEST(DeviceLoss, Win32CodesOfARemovedDevice) {
    for (const CodeCase& entry : Win32Codes) {
        EXPECT_EQ(device_loss::IsWin32DeviceLoss(entry.code), entry.lost) << entry.name;
        // The program's own rule on Windows is this table.
        EXPECT_EQ(device_loss::IsDeviceLost(entry.code), entry.lost) << entry.name;
    }
}

TEST(DeviceLoss, PosixCodesOfAHungUpTerminal) {
    // EIO 5, ENXIO 6, EBADF 9, ENODEV 19 as Linux numbers them; EAGAIN 11, EINTR 4 and
    // ETIMEDOUT 110 are passing conditions.
    constexpr CodeCase Posix[] = {
        {5, true, "EIO"},          {6, true, "ENXIO"},
        {9, true, "EBADF"},        {19, true, "ENODEV"},
        {4, false, "EINTR"},       {11, false, "EAGAIN"},
        {110, false, "ETIMEDOUT"}, {Raw(LINK_ERR_TIMEOUT), false, "timeout"}};
    for (const CodeCase& entry : Posix) {
        EXPECT_EQ(device_loss::IsPosixDeviceLoss(entry.code), entry.lost) << entry.name;
    }
}

// What the window says about such a code once the port was open.
TEST(DeviceLoss, TheWindowSaysTheConnectionWasLost) {
    for (const std::int32_t code : {ERROR_DEVICE_REMOVED, ERROR_GEN_FAILURE, ERROR_ACCESS_DENIED}) {
        const std::string text = PortErrorText("COM7:", code, true);
        EXPECT_EQ(text.rfind("The connection to COM7 was lost: ", 0), 0u) << text;
        EXPECT_GT(text.size(), std::string("The connection to COM7 was lost: ").size()) << text;
    }
}

} // namespace
