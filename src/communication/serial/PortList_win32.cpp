// COM port list on Windows: the ports the print spooler knows, which include every
// serial port with a driver ("COM1:", "COM7:", ...).

#include "communication/serial/PortList.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <string_view>
#include <windows.h>
#include <winspool.h>

namespace {

constexpr DWORD PortListBufferSize = 4096;

bool StartsWithComIgnoringCase(std::string_view name) {
    if (name.size() < 3) {
        return false;
    }
    static constexpr char Lower[] = "com";
    for (std::size_t i = 0; i < 3; ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != Lower[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

std::vector<std::string> EnumerateComPorts() {
    // The spooler fills the buffer with PORT_INFO_1 records followed by their strings,
    // so it must be aligned for the records' pointers. A list that needs more than the
    // buffer is treated like any other failure.
    alignas(PORT_INFO_1A) BYTE buffer[PortListBufferSize];
    DWORD needed = 0;
    DWORD returned = 0;
    if (!EnumPortsA(nullptr, 1, buffer, PortListBufferSize, &needed, &returned)) {
        return FallbackComPorts();
    }

    std::vector<std::string> ports;
    const auto* info = reinterpret_cast<const PORT_INFO_1A*>(buffer);
    for (DWORD i = 0; i < returned; ++i) {
        const char* name = info[i].pName;
        if (name != nullptr && StartsWithComIgnoringCase(name)) {
            ports.emplace_back(name); // exactly as the spooler spells it, colon included
        }
    }
    return ports;
}

std::vector<std::string> FallbackComPorts() {
    std::vector<std::string> ports;
    ports.reserve(10);
    for (int i = 1; i <= 10; ++i) {
        ports.push_back("COM" + std::to_string(i) + ":");
    }
    return ports;
}
