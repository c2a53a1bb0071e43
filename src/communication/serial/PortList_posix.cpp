// The POSIX port list: serial devices that have hardware behind them, and the
// published virtual ports. USB and ACM adapters come first, the legacy ttyS UARTs
// last, so the entry a technician has just plugged in is near the top.

#include "communication/serial/PortList.h"
#include "communication/serial/SERIAL.h"
#include "communication/serial/VirtualPorts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

bool IsCharacterDevice(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

// The tty class in sysfs lists every terminal; a serial device is one with a driver
// behind it ("device/driver"). The kernel's 8250 driver registers placeholder ttyS
// ports for UARTs that may not exist; only those it found hardware for have a
// port type other than 0 (PORT_UNKNOWN).
bool HasSerialHardware(const std::string& sysfsEntry, const std::string& name) {
    if (!Exists(sysfsEntry + "/device/driver")) {
        return false;
    }
    if (name.rfind("ttyS", 0) == 0) {
        char type[32] = {};
        std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen((sysfsEntry + "/type").c_str(), "r"),
                                                   std::fclose);
        if (!file || std::fgets(type, sizeof type, file.get()) == nullptr) {
            return false;
        }
        return std::atoi(type) != 0;
    }
    return true;
}

// Hardware serial devices, or nothing when the tty class cannot be read.
bool SerialDevices(std::vector<std::string>& names) {
    constexpr const char* TtyClass = "/sys/class/tty";
    std::unique_ptr<DIR, int (*)(DIR*)> directory(opendir(TtyClass), closedir);
    if (!directory) {
        return false;
    }
    while (const dirent* entry = readdir(directory.get())) {
        const std::string name = entry->d_name;
        // The entry "name:" must fit what CSerial::Open accepts.
        if (name.front() == '.' || name.size() + 1 > CSerial::MaxPortNameLength) {
            continue;
        }
        if (HasSerialHardware(std::string(TtyClass) + "/" + name, name) &&
            IsCharacterDevice("/dev/" + name)) {
            names.push_back(name);
        }
    }
    return true;
}

bool StartsWith(const std::string& name, const char* prefix) {
    return name.rfind(prefix, 0) == 0;
}

// Place in the list: USB and ACM adapters, then published virtual ports, then other
// serial hardware, then the legacy UARTs.
int Rank(const std::string& name, bool published) {
    if (published) {
        return 1;
    }
    if (StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM")) {
        return 0;
    }
    return StartsWith(name, "ttyS") ? 3 : 2;
}

// Names with a number at the end in numeric order: ttyUSB2 before ttyUSB10.
bool NaturalLess(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& name) {
        const std::size_t digits = name.find_last_not_of("0123456789") + 1;
        return std::pair{name.substr(0, digits), name.size() - digits};
    };
    const auto [stemA, digitsA] = split(a);
    const auto [stemB, digitsB] = split(b);
    if (stemA != stemB) {
        return stemA < stemB;
    }
    if (digitsA != digitsB) {
        return digitsA < digitsB;
    }
    return a < b;
}

} // namespace

std::vector<std::string> FallbackComPorts() {
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i) {
        names.push_back("ttyS" + std::to_string(i) + ":");
    }
    return names;
}

std::vector<std::string> EnumerateComPorts() {
    std::vector<std::string> devices;
    const bool readable = SerialDevices(devices);
    std::vector<std::pair<int, std::string>> ranked;
    for (const std::string& name : devices) {
        ranked.emplace_back(Rank(name, false), name);
    }
    for (const std::string& name : virtual_ports::List()) {
        if (std::find(devices.begin(), devices.end(), name) == devices.end()) {
            ranked.emplace_back(Rank(name, true), name);
        }
    }
    if (!readable && ranked.empty()) {
        return FallbackComPorts();
    }
    std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : NaturalLess(a.second, b.second);
    });
    std::vector<std::string> names;
    for (const auto& entry : ranked) {
        names.push_back(entry.second + ':');
    }
    return names;
}
