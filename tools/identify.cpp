// Reads a logger's serial number, model and clock through the serial link and
// prints them; with --list, prints the port list; with --trace FILE, appends
// every frame sent and received to FILE.

#include "communication/Checksums.h"
#include "communication/Commands.h"
#include "communication/LinkSession.h"
#include "communication/LinkTrace.h"
#include "communication/Protocols.h"
#include "communication/ResultCodes.h"
#include "communication/serial/PortList.h"
#include "communication/serial/SERIAL.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

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
    LinkSession link(Protocols::Sleeper{});
    if (const std::int32_t result = link.Open(portName); result != 0) {
        return Report("Opening the port", result);
    }
    CSerial& port = link.port;
    WSRX_Protocol& protocol = link.protocol;
    protocol.SetReplyTimeouts(300, 300);

    std::array<std::uint8_t, 3> serial{};
    std::int32_t result = ReadMemory(protocol, port, SerialNumberAddress, serial);
    if (result != LINK_OK) {
        return Report("Reading the serial number", result);
    }
    protocol.Pause(CommandPause);

    std::array<std::uint8_t, 8> model{};
    std::uint32_t received = 0;
    result = ReadMemory(protocol, port, ModelNumberAddress, model, 1, received);
    if (result != LINK_OK) {
        return Report("Reading the model number", result);
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

int Usage(std::FILE* stream, int exitCode) {
    std::fprintf(stream,
                 "usage: onyx-identify [--trace FILE] PORT   read a logger's identity (PORT as "
                 "listed, e.g. ONYXSIM0:)\n"
                 "       onyx-identify --list                list the serial ports\n"
                 "       onyx-identify --version\n"
                 "  --trace FILE  append every frame sent and received to FILE\n");
    return exitCode;
}

int main(int argc, char** argv) {
    const char* portName = nullptr;
    const char* tracePath = nullptr;
    bool list = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help") {
            return Usage(stdout, 0);
        } else if (argument == "--version") {
            std::printf("onyx-identify %s\n", ONYX_VERSION);
            return 0;
        } else if (argument == "--list") {
            list = true;
        } else if (argument == "--trace" && i + 1 < argc) {
            tracePath = argv[++i];
        } else if (argument.rfind("--", 0) != 0 && portName == nullptr) {
            portName = argv[i];
        } else {
            return Usage(stderr, 2);
        }
    }
    if (list == (portName != nullptr)) {
        return Usage(stderr, 2);
    }
    if (tracePath != nullptr) {
        if (const int error = link_trace::Start(tracePath); error != 0) {
            std::fprintf(stderr, "onyx-identify: cannot open the trace file %s: %s\n", tracePath,
                         std::strerror(error));
            return 1;
        }
    }
    if (list) {
        for (const std::string& name : EnumerateComPorts()) {
            std::printf("%s\n", name.c_str());
        }
        return 0;
    }
    return Identify(portName);
}
