// The POSIX port list: serial devices that have hardware behind them, and the
// published virtual ports.

#include "communication/serial/PortList.h"
#include "communication/serial/VirtualPorts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
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
        if (name.front() == '.' || name.size() + 1 > 15) {
            continue;
        }
        if (HasSerialHardware(std::string(TtyClass) + "/" + name, name) && Exists("/dev/" + name)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return true;
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
    std::vector<std::string> names;
    const bool readable = SerialDevices(names);
    for (const std::string& name : virtual_ports::List()) {
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
        }
    }
    if (!readable && names.empty()) {
        return FallbackComPorts();
    }
    for (std::string& name : names) {
        name += ':';
    }
    return names;
}
