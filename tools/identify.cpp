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
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <shellapi.h>
#include <windows.h>
#endif

namespace {

int Report(const char* step, std::int32_t code) {
    if (code > 0) {
        std::fprintf(stderr, "%s failed: system error %d (%s)\n", step, code,
                     SystemErrorText(code).c_str());
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
    link.SetReplyTimeout(300);

    std::array<std::uint8_t, 3> serial{};
    std::int32_t result = link.ReadMemory(SerialNumberAddress, serial);
    if (result != LINK_OK) {
        return Report("Reading the serial number", result);
    }
    link.Pause();

    std::array<std::uint8_t, 8> model{};
    std::uint32_t received = 0;
    result = link.ReadMemory(ModelNumberAddress, model, 1, received);
    if (result != LINK_OK) {
        return Report("Reading the model number", result);
    }
    const std::string modelText(reinterpret_cast<const char*>(model.data()),
                                strnlen(reinterpret_cast<const char*>(model.data()), received));
    link.Pause();

    std::string clock;
    result = link.ReadClock(clock);
    if (result != LINK_OK) {
        return Report("Reading the clock", result);
    }
    link.Close();

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
                 "  --trace FILE  append every frame sent and received to FILE\n"
                 "  -h, --help    show this text\n");
    return exitCode;
}

int UsageError(const std::string& error) {
    std::fprintf(stderr, "onyx-identify: %s\n", error.c_str());
    return Usage(stderr, 2);
}

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv, argv + argc);
    std::optional<std::string> portName;
    std::optional<std::string> tracePath;
    bool list = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            return Usage(stdout, 0);
        } else if (argument == "--version") {
            std::printf("onyx-identify %s\n", ONYX_VERSION);
            return 0;
        } else if (argument == "--list") {
            list = true;
        } else if (argument == "--trace") {
            if (i + 1 == arguments.size()) {
                return UsageError("--trace needs a file name");
            }
            tracePath = arguments[++i];
        } else if (argument.size() > 1 && argument.front() == '-') {
            return UsageError("unknown option " + argument);
        } else if (portName) {
            return UsageError("unexpected argument " + argument);
        } else {
            portName = argument;
        }
    }
    if (list == portName.has_value()) {
        return UsageError(list ? "--list takes no port" : "no port given");
    }
    if (tracePath) {
        // Told at once, on stderr; the identity is read all the same.
        const link_trace::StopHandler stopped = [](const std::string& message) {
            std::fprintf(stderr, "onyx-identify: %s\n", message.c_str());
        };
        if (const int error = link_trace::Start(*tracePath, stopped); error != 0) {
            return UsageError(link_trace::StartFailure(*tracePath, error));
        }
    }
    if (list) {
        for (const std::string& name : EnumerateComPorts()) {
            std::printf("%s\n", name.c_str());
        }
        return 0;
    }
    return Identify(portName->c_str());
}
