#pragma once

// The port list's rows and the rules that name and order them, apart from the system
// calls that find the ports, so that the rules can be tried with made-up devices.

#include <string>
#include <string_view>
#include <vector>

// One port of the list.
struct PortRow {
    std::string name;        // as the commands take it: "COM7:", "ttyUSB0:"
    std::string description; // what the system calls the device (UTF-8); may be empty

    bool operator==(const PortRow&) const = default;
};

// What the system tells about the device behind a port, each field UTF-8 and
// possibly empty.
struct PortDevice {
    // Windows: the friendly name Device Manager shows ("USB Serial Port (COM7)"), or
    // the device description; Linux: the USB product string.
    std::string product;
    std::string manufacturer; // "FTDI"; Windows' "(Standard port types)" says nothing
    std::string model;        // the product as the adapter itself reports it on USB
    std::string serialNumber;
    std::string link; // Linux: the device's name in /dev/serial/by-id
};

// The description shown beside the port's name:
//   "USB Serial Port (FTDI FT232R USB UART, serial A1B2C3)"
// The port's own name at the end of a Windows friendly name is left out, as is
// whatever the product already says. Empty when nothing is known.
std::string DescribePort(const PortDevice& device, std::string_view portName);

// The serial number of a USB adapter from Windows device instance ids, the port's
// own first and then its parents' ("USB\VID_0403&PID_6001\A1B2C3"). A device
// without a serial number has an instance made up by Windows ("5&2f7c1a3&0&2"), and
// an interface of a composite device ("&MI_00") never has one of its own: both are
// passed over. Empty when no id carries one.
std::string UsbSerialNumber(const std::vector<std::string>& instanceIds);

// Natural order: runs of digits compared as numbers (COM2 before COM10), letters
// without regard to case; names equal by that rule in byte order.
bool NaturalLess(std::string_view a, std::string_view b);

// A Windows serial port as the device installer knows it.
struct InstalledPort {
    std::string name; // the device's "PortName": "COM7"
    PortDevice device;
};

// The Windows list: every COM port the spooler lists (as it spells it) and every
// installed one, each once, with the installed device's description, in natural
// order. Printer, file and network ports are left out.
std::vector<PortRow> WindowsPortRows(const std::vector<std::string>& spoolerNames,
                                     const std::vector<InstalledPort>& installed);
