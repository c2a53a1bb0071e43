// Reads a logger's serial number, model and clock through the serial link and
// prints them; with --list, prints the port list.

#include "communication/Checksums.h"
#include "communication/Commands.h"
#include "communication/Protocols.h"
#include "communication/ResultCodes.h"
#include "communication/serial/PortList.h"
#include "communication/serial/SERIAL.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Report(const char* step, std::int32_t code) {
    if (code > 0) {
        std::fprintf(stderr, "%s failed: system error %d (%s)\n", step, code, std::strerror(code));
    } else {
        std::fprintf(stderr, "%s failed: %s\n", step, LinkErrorText(code).c_str());
    }
    return 1;
}

int Identify(const char* portName) {
    CSerial port;
    if (const std::int32_t result = port.Open(portName, 2048, 2048); result != 0) {
        return Report("Opening the port", result);
    }
    WSRX_Protocol protocol(WSRX_Protocol::BufferSize, WSRX_Protocol::BufferSize);
    protocol.SetReplyTimeouts(300, 300);

    std::array<std::uint8_t, 3> serial{};
    std::uint32_t received = 0;
    std::int32_t result = ReadMemory(protocol, port, SerialNumberAddress, serial, received);
    if (result != LINK_OK || received != serial.size()) {
        return Report("Reading the serial number", result != LINK_OK ? result : LINK_ERR_CRC);
    }
    protocol.Pause(CommandPause);

    std::array<std::uint8_t, 8> model{};
    result = ReadMemory(protocol, port, ModelNumberAddress, model, received);
    if (result != LINK_OK || received == 0) {
        return Report("Reading the model number", result != LINK_OK ? result : LINK_ERR_CRC);
    }
    const std::string modelText(reinterpret_cast<const char*>(model.data()),
                                strnlen(reinterpret_cast<const char*>(model.data()), received));
    protocol.Pause(CommandPause);

    std::string clock;
    result = ReadClock(protocol, port, clock);
    if (result != LINK_OK) {
        return Report("Reading the clock", result);
    }
    port.Close();

    std::printf("Port:          %s\n", portName);
    std::printf("Serial number: %u\n", ReadBigEndian(serial));
    std::printf("Model number:  %s\n", modelText.c_str());
    std::printf("Logger clock:  %s\n", clock.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
        for (const std::string& name : EnumerateComPorts()) {
            std::printf("%s\n", name.c_str());
        }
        return 0;
    }
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr, "usage: onyx-identify PORT   read a logger's identity (PORT as "
                             "listed, e.g. ONYXSIM0:)\n"
                             "       onyx-identify --list list the serial ports\n");
        return argc == 2 ? 0 : 2;
    }
    return Identify(argv[1]);
}
