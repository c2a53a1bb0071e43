#pragma once

#include "communication/serial/PortRows.h"

#include <string>
#include <vector>

// The COM ports the main window offers, each named as the commands take it (ending
// in a colon) with what the system calls the device beside it, in the list's order.
// On Windows the print spooler's COM ports and the installed serial ports, in
// natural order (COM1, COM2, ..., COM10); on POSIX the serial devices that have
// hardware behind them and the published virtual ports. When nothing can be read
// at all, a fixed list of ten names.
std::vector<PortRow> EnumeratePorts();

// The names of EnumeratePorts(), in its order.
std::vector<std::string> EnumerateComPorts();

// The ten names offered when the system's list cannot be read.
std::vector<std::string> FallbackComPorts();
// The rows as found, or the ten names when the list could not be read and is empty.
std::vector<PortRow> WithFallback(std::vector<PortRow> rows, bool readable);

#ifndef _WIN32
// Where the POSIX list looks for serial devices; tests point it at a made-up tree.
struct SerialFolders {
    std::string ttyClass = "/sys/class/tty"; // one entry a terminal, "device" its hardware
    std::string devices = "/dev";            // the device files, by the entries' names
    std::string byId = "/dev/serial/by-id";  // udev's links named after the device
};

// The serial devices found in folders, described from sysfs and the by-id links,
// and the published virtual ports (already described): USB and ACM adapters first,
// then the published ports, other serial hardware, the legacy UARTs last, each group
// in natural order. False in readable when the tty class cannot be read.
std::vector<PortRow> ListSerialPorts(const SerialFolders& folders,
                                     const std::vector<PortRow>& published, bool& readable);
#endif
