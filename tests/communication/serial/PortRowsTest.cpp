#include "communication/serial/PortRows.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

TEST(PortRows, DescriptionsAsDeviceManagerAndSysfsGiveThem) {
    struct Case {
        PortDevice device;
        const char* port;
        const char* description;
    };
    const Case cases[] = {
        // Windows: the port's own name at the end of the friendly name is left out.
        {{"USB Serial Port (COM7)", "FTDI", "FT232R USB UART", "A1B2C3", ""},
         "COM7:",
         "USB Serial Port (FTDI FT232R USB UART, serial A1B2C3)"},
        {{"Communications Port (COM1)", "(Standard port types)", "", "", ""},
         "COM1:",
         "Communications Port"},
        // Only what the product does not say already.
        {{"Prolific USB-to-Serial Comm Port (COM12)", "Prolific", "USB-Serial Controller", "", ""},
         "COM12:",
         "Prolific USB-to-Serial Comm Port (USB-Serial Controller)"},
        {{"USB Serial Device (COM3)", "Microsoft", "USB Serial Device", "", ""},
         "COM3:",
         "USB Serial Device (Microsoft)"},
        {{"USB Serial Port (COM2)", "FTDI", "FTDI USB UART", "", ""},
         "COM2:",
         "USB Serial Port (FTDI USB UART)"},
        // A name in brackets that is not this port's stays.
        {{"Bridge (COM1)", "", "", "", ""}, "COM11:", "Bridge (COM1)"},
        // Linux: sysfs's USB strings and the by-id link.
        {{"FT232R USB UART", "FTDI", "", "A1B2C3", "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"},
         "ttyUSB0:",
         "FT232R USB UART (FTDI, serial A1B2C3, by-id usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0)"},
        {{"", "FTDI", "", "A1B2C3", ""}, "ttyUSB1:", "FTDI (serial A1B2C3)"},
        {{"", "", "", "", "usb-1a86_USB2.0-Ser_-if00-port0"},
         "ttyUSB2:",
         "by-id usb-1a86_USB2.0-Ser_-if00-port0"},
        {{" \n", "", "", "", ""}, "ttyS0:", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DescribePort(c.device, c.port), c.description)
            << c.port << " " << c.device.product;
    }
}

TEST(PortRows, TheUsbSerialNumberComesFromTheFirstIdThatCarriesOne) {
    struct Case {
        std::vector<std::string> ids; // the port's own first, then its parents'
        const char* serial;
    };
    const Case cases[] = {
        {{"USB\\VID_067B&PID_2303\\A1B2C3"}, "A1B2C3"},
        // FTDI's driver: the port on its own bus, the USB device above it.
        {{"FTDIBUS\\VID_0403+PID_6001+A1B2C3A\\0000", "USB\\VID_0403&PID_6001\\A1B2C3"}, "A1B2C3"},
        // A composite device's interface: the device above has the number.
        {{"USB\\VID_2341&PID_0043&MI_00\\6&3A1B2C&0&0000", "USB\\VID_2341&PID_0043\\95735353"},
         "95735353"},
        // No serial number: Windows makes the instance up from the place in the tree.
        {{"USB\\VID_1A86&PID_7523\\5&2F7C1A3&0&2", "USB\\ROOT_HUB30\\4&1234&0&0"}, ""},
        {{"ACPI\\PNP0501\\1", "ACPI\\PNP0A03\\0"}, ""},
        {{}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UsbSerialNumber(c.ids), c.serial) << (c.ids.empty() ? "" : c.ids.front());
    }
}

TEST(PortRows, NaturalOrderReadsNumbersAsNumbers) {
    const std::vector<std::string> ordered{
        "COM1:",  "com2:",   "COM3",     "COM9:",   "COM10:",    "COM12:",  "COM100:",
        "ttyS2:", "ttyS10:", "ttyUSB0:", "ttyUSB1", "ttyUSB01:", "ttyUSB1:"};
    std::vector<std::string> shuffled = ordered;
    std::reverse(shuffled.begin(), shuffled.end());
    std::rotate(shuffled.begin(), shuffled.begin() + 5, shuffled.end());
    std::sort(shuffled.begin(), shuffled.end(), NaturalLess);
    EXPECT_EQ(shuffled, ordered);
    // Names equal but for leading zeros keep one order whichever comes first.
    EXPECT_TRUE(NaturalLess("COM01:", "COM1:"));
    EXPECT_FALSE(NaturalLess("COM1:", "COM01:"));
    EXPECT_FALSE(NaturalLess("COM1:", "COM1:"));
}

// A PC with network printer ports, its spooler's list in its own order, and three USB
// adapters of which one the spooler does not list.
TEST(PortRows, WindowsListsEveryComPortOnceInNaturalOrder) {
    std::vector<std::string> spooler{
        "COM10:", "COM12:", "COM1:", "LPT1:", "FILE:", "cOm9:", "COMX:", "CO:", "NUL:", "COM3:"};
    for (int printer = 0; printer < 200; ++printer) {
        spooler.push_back("IP_10.0.0." + std::to_string(printer));
    }
    const std::vector<InstalledPort> installed{
        {"COM12", {"USB Serial Port (COM12)", "FTDI", "", "FT1", ""}},
        {"COM15", {"USB Serial Port (COM15)", "FTDI", "", "FT2", ""}},
        {"COM9", {"USB-SERIAL CH340 (COM9)", "wch.cn", "", "", ""}},
        {"LPT1", {"Printer Port (LPT1)", "(Standard port types)", "", "", ""}},
        {"", {"Broken", "", "", "", ""}},
    };
    const std::vector<PortRow> expected{
        {"COM1:", ""},
        {"COM3:", ""},
        {"cOm9:", "USB-SERIAL CH340 (wch.cn)"},
        {"COM10:", ""},
        {"COM12:", "USB Serial Port (FTDI, serial FT1)"},
        {"COM15:", "USB Serial Port (FTDI, serial FT2)"},
        {"COMX:", ""},
    };
    EXPECT_EQ(WindowsPortRows(spooler, installed), expected);
    // The spooler stopped: the installed ports alone.
    EXPECT_EQ(WindowsPortRows({}, installed).size(), 3u);
    EXPECT_TRUE(WindowsPortRows({"LPT1:"}, {}).empty());
}

} // namespace
