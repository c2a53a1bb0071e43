// The Win32 serial port without a device behind it: what a closed port answers, and
// how names that do not lead to a COM port are refused.

#include "communication/ResultCodes.h"
#include "communication/serial/PortList.h"
#include "communication/serial/SERIAL.h"

#include <gtest/gtest.h>
#include <windows.h>

TEST(Win32ClosedPort, EveryOperationAnswersNotOpen) {
    CSerial port;
    EXPECT_EQ(port.SetLine(9600, 8, NOPARITY, ONESTOPBIT), CSerial::NotOpenError);
    EXPECT_EQ(port.SetHandshake(HandshakeNone), CSerial::NotOpenError);
    EXPECT_EQ(port.SetTimeouts(300), CSerial::NotOpenError);
    EXPECT_EQ(port.GetBaudRate(), -1);
    EXPECT_EQ(port.GetByteSize(), 0xFF);
    EXPECT_EQ(port.GetParity(), 0xFF);
    EXPECT_EQ(port.GetStopBits(), 0xFF);
    EXPECT_EQ(port.GetHandshake(), 0xFF);
    EXPECT_EQ(port.LastError(), CSerial::NotOpenError);
    EXPECT_EQ(port.Purge(), CSerial::NotOpenError);

    // The out-counts are cleared before the port is even looked at.
    std::uint8_t byte = 0x55;
    std::uint32_t count = 99;
    EXPECT_EQ(port.Write(&byte, 1, &count), CSerial::NotOpenError);
    EXPECT_EQ(count, 0u);
    count = 99;
    EXPECT_EQ(port.Read(&byte, 1, &count), CSerial::NotOpenError);
    EXPECT_EQ(count, 0u);

    EXPECT_EQ(port.Close(), 0);
    EXPECT_EQ(port.LastError(), 0);
    EXPECT_FALSE(port.IsOpen());
}

TEST(Win32OpenRefused, NamesThatLeadToNoCOMPort) {
    CSerial port;
    // COM200 has no device; without its colon "COM5" loses the 5 and names \\.\COM.
    for (const char* name : {"COM200:", "COM5"}) {
        EXPECT_EQ(port.Open(name, 2048, 2048), ERROR_FILE_NOT_FOUND) << name;
        EXPECT_EQ(port.LastError(), ERROR_FILE_NOT_FOUND) << name;
        EXPECT_FALSE(port.IsOpen()) << name;
    }
    // The empty entry (an empty port list) leaves the device path \\. .
    const std::int32_t empty = port.Open("", 2048, 2048);
    EXPECT_GT(empty, 0);
    EXPECT_FALSE(port.IsOpen());
    // Sixteen characters do not fit the device path and are refused before any call.
    EXPECT_EQ(port.Open("COM1234567890123", 2048, 2048), ERROR_INVALID_NAME);
    EXPECT_FALSE(port.IsOpen());
}

TEST(Win32PortList, FallbackIsCOM1ToCOM10) {
    const auto ports = FallbackComPorts();
    ASSERT_EQ(ports.size(), 10u);
    EXPECT_EQ(ports.front(), "COM1:");
    EXPECT_EQ(ports[8], "COM9:");
    EXPECT_EQ(ports.back(), "COM10:");
}
