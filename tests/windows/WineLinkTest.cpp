// The Win32 serial port and port list against the simulated logger, which the harness
// (onyx-wine-link-harness) stands behind COM5 through Wine's device map. The harness
// checks the request bytes the logger received; these tests check the replies.

#include "WineLink.h"

#include "communication/Commands.h"
#include "communication/Protocols.h"
#include "communication/ResultCodes.h"
#include "communication/serial/PortList.h"
#include "communication/serial/SERIAL.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

constexpr milliseconds Slack{500};
const Bytes SerialNumberRead{0x00, 0x63, 0xFF, 0x02, 0x04, 0x00, 0x24, 0xE5, 0x5D};
const std::array<std::uint8_t, 3> SerialNumberBytes{
    static_cast<std::uint8_t>(wine_link::SerialNumber >> 16),
    static_cast<std::uint8_t>(wine_link::SerialNumber >> 8),
    static_cast<std::uint8_t>(wine_link::SerialNumber)};

// Wine's ntdll exports wine_get_version; Windows' does not.
bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

milliseconds Since(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

class SimulatedLoggerOnCOM5 : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(port.Open(wine_link::PortEntry, 2048, 2048), 0); }

    std::int32_t ReadSerial() {
        constexpr std::uint8_t serialRequest[] = {2, 0x04, 0x00, 0x24};
        return protocol.Transact(&port, command_letter::ReadMemory, ParameterByte, serialRequest,
                                 serial, received);
    }

    CSerial port;
    WSRX_Protocol protocol;
    std::array<std::uint8_t, 3> serial{};
    std::uint32_t received = 0;
};

TEST_F(SimulatedLoggerOnCOM5, ReadMemoryOfTheSerialNumber) {
    ASSERT_EQ(ReadSerial(), LINK_OK);
    EXPECT_EQ(received, 3u);
    EXPECT_EQ(serial, SerialNumberBytes);
    const auto sent = protocol.SentFrame();
    EXPECT_EQ(Bytes(sent.begin(), sent.end()), SerialNumberRead);
    // Acknowledge byte (the complemented sum of the request), payload, CRC-16.
    const auto reply = protocol.ReceivedFrame();
    ASSERT_EQ(reply.size(), 6u);
    EXPECT_EQ(reply[0], 0x29);
    EXPECT_TRUE(std::equal(SerialNumberBytes.begin(), SerialNumberBytes.end(), reply.begin() + 1));
}

TEST_F(SimulatedLoggerOnCOM5, OpenSetsTheLoggersLine) {
    EXPECT_EQ(port.GetBaudRate(), 9600);
    EXPECT_EQ(port.GetByteSize(), 8);
    EXPECT_EQ(port.GetParity(), NOPARITY);
    EXPECT_EQ(port.GetStopBits(), ONESTOPBIT);
    // DTR under handshake control alone is not hardware flow control.
    EXPECT_EQ(port.GetHandshake(), HandshakeNone);
}

TEST_F(SimulatedLoggerOnCOM5, ASecondOpenOfTheSameObjectIsRefused) {
    EXPECT_EQ(port.Open(wine_link::PortEntry, 2048, 2048), CSerial::AlreadyOpenError);
    EXPECT_TRUE(port.IsOpen());
    // The first handle stays usable.
    EXPECT_EQ(ReadSerial(), LINK_OK);
    EXPECT_EQ(serial, SerialNumberBytes);
}

TEST_F(SimulatedLoggerOnCOM5, ASecondObjectIsRefusedByWindows) {
    if (UnderWine()) {
        GTEST_SKIP() << "Wine does not enforce share mode 0 on a COM port; see "
                        "WineLetsASecondObjectOpenThePort";
    }
    CSerial other;
    EXPECT_EQ(other.Open(wine_link::PortEntry, 2048, 2048), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(other.IsOpen());
    port.Close();
    EXPECT_EQ(other.Open(wine_link::PortEntry, 2048, 2048), 0);
}

// Wine's difference: CreateFileA with share mode 0 on a serial device it maps to a
// Unix terminal does not keep a second opener out, so a second CSerial (or another
// program) opens the port too. Windows refuses it with ERROR_ACCESS_DENIED.
TEST_F(SimulatedLoggerOnCOM5, WineLetsASecondObjectOpenThePort) {
    if (!UnderWine()) {
        GTEST_SKIP() << "Wine only";
    }
    CSerial other;
    EXPECT_EQ(other.Open(wine_link::PortEntry, 2048, 2048), 0);
    EXPECT_TRUE(other.IsOpen());
}

TEST_F(SimulatedLoggerOnCOM5, SilentLoggerTimesOut) {
    protocol.SetRetryCount(1);
    protocol.SetReplyTimeout(100);
    std::array<std::uint8_t, 19> clock{};
    std::uint32_t length = 0;
    const auto start = Clock::now();
    EXPECT_EQ(protocol.Transact(&port, command_letter::ReadClock, ParameterByte, {}, clock, length),
              LINK_ERR_TIMEOUT);
    const milliseconds elapsed = Since(start);
    // One attempt: the reply's wait (its length + 100 ms), then the 200 ms pause.
    EXPECT_GE(elapsed, milliseconds(100 + 200));
    EXPECT_LT(elapsed, milliseconds(100 + 200 + 64) + Slack);
    // The line still works afterwards.
    EXPECT_EQ(ReadSerial(), LINK_OK);
}

TEST_F(SimulatedLoggerOnCOM5, ReadOfNothingEndsAtTheTotalTimeOut) {
    ASSERT_EQ(port.SetTimeouts(200), 0);
    std::array<std::uint8_t, 4> buffer{};
    std::uint32_t count = 99;
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer.data(), 4, &count), LINK_ERR_TIMEOUT);
    const milliseconds elapsed = Since(start);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(port.LastError(), 0);
    // n + C = 204 ms; the gap limit does not apply before the first byte.
    EXPECT_GE(elapsed, milliseconds(190));
    EXPECT_LT(elapsed, milliseconds(204) + Slack);
}

TEST_F(SimulatedLoggerOnCOM5, ShortReplyEndsAfterTheGap) {
    ASSERT_EQ(port.SetTimeouts(2000), 0);
    std::uint32_t count = 0;
    ASSERT_EQ(port.Write(SerialNumberRead.data(), 9, &count), 0);
    EXPECT_EQ(count, 9u);
    std::array<std::uint8_t, 64> buffer{};
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer.data(), 64, &count), 0);
    const milliseconds elapsed = Since(start);
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(buffer[0], 0x29);
    // 100 ms after the last byte, long before 64 + 2000 ms.
    EXPECT_LT(elapsed, milliseconds(100) + Slack);
}

TEST_F(SimulatedLoggerOnCOM5, PurgeDropsAReplyNotYetRead) {
    std::uint32_t count = 0;
    ASSERT_EQ(port.Write(SerialNumberRead.data(), 9, &count), 0);
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(port.Purge(), 0);
    std::array<std::uint8_t, 6> buffer{};
    EXPECT_EQ(port.Read(buffer.data(), 6, &count), LINK_ERR_TIMEOUT);
    EXPECT_EQ(count, 0u);
}

// Wine's difference: its spooler lists the ports of its Ports registry key, COM1: to
// COM4: out of the box, and not the COM ports its device map adds (COM5 here). On
// Windows the spooler lists the COM ports that are installed. Printer and file ports
// (LPT1:, FILE:, ...) are in Wine's list too and must be dropped.
TEST(WinePortList, WineSpoolerListsItsRegistryPortsNotTheMappedOne) {
    if (!UnderWine()) {
        GTEST_SKIP() << "Wine only";
    }
    EXPECT_EQ(EnumerateComPorts(), (std::vector<std::string>{"COM1:", "COM2:", "COM3:", "COM4:"}));
}

// The port list with extra entries in the spooler's Ports key, removed afterwards.
std::vector<std::string> ListedWithSpoolerPorts(const std::vector<std::string>& names) {
    HKEY ports = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Ports",
                      0, KEY_SET_VALUE, &ports) != ERROR_SUCCESS) {
        ADD_FAILURE() << "the spooler's Ports key cannot be written";
        return {};
    }
    const char empty[] = "";
    for (const std::string& name : names) {
        EXPECT_EQ(
            RegSetValueExA(ports, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(empty), 1),
            ERROR_SUCCESS);
    }
    const auto listed = EnumerateComPorts();
    for (const std::string& name : names) {
        RegDeleteValueA(ports, name.c_str());
    }
    RegCloseKey(ports);
    return listed;
}

// A port entry in any case is listed exactly as the spooler spells it.
TEST(WinePortList, NamesStartingWithComInAnyCaseAreListedAsSpelled) {
    const auto listed = ListedWithSpoolerPorts({"cOm9:", "COMX:", "CO:"});
    EXPECT_NE(std::find(listed.begin(), listed.end(), "cOm9:"), listed.end());
    EXPECT_NE(std::find(listed.begin(), listed.end(), "COMX:"), listed.end());
    EXPECT_EQ(std::find(listed.begin(), listed.end(), "CO:"), listed.end());
}

// An office PC's network printer ports fill many kilobytes of the spooler's list: every
// COM port is still listed, in natural order, and no made-up COM1: to COM10: instead.
TEST(WinePortList, ManyPrinterPortsHideNoComPort) {
    if (!UnderWine()) {
        GTEST_SKIP() << "Wine's ports COM1: to COM4: only";
    }
    std::vector<std::string> added{"COM15:", "COM10:"};
    for (int printer = 0; printer < 200; ++printer) {
        added.push_back("IP_192.168.100." + std::to_string(printer) + "_printer_port");
    }
    EXPECT_EQ(ListedWithSpoolerPorts(added),
              (std::vector<std::string>{"COM1:", "COM2:", "COM3:", "COM4:", "COM10:", "COM15:"}));
}

} // namespace
