// The POSIX port list: serial devices that have hardware behind them, and the
// published virtual ports. USB and ACM adapters come first, the legacy ttyS UARTs
// last, so the entry a technician has just plugged in is near the top. Each is
// described from sysfs (the USB adapter's product, maker and serial number) and
// udev's /dev/serial/by-id link.

#include "communication/serial/PortList.h"
#include "communication/serial/SERIAL.h"
#include "communication/serial/VirtualPorts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <map>
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

std::string FirstLine(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "r"), std::fclose);
    char line[256] = {};
    if (!file || std::fgets(line, sizeof line, file.get()) == nullptr) {
        return {};
    }
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

std::string RealPath(const std::string& path) {
    std::unique_ptr<char, void (*)(void*)> real(realpath(path.c_str(), nullptr), std::free);
    return real ? std::string(real.get()) : std::string{};
}

// The USB device a terminal belongs to: the first folder above its hardware that has
// a vendor id (ttyUSB: port, interface, device; ttyACM: interface, device).
PortDevice UsbDeviceOf(const std::string& sysfsEntry) {
    std::string folder = RealPath(sysfsEntry + "/device");
    for (int level = 0; level < 4 && folder.size() > 1; ++level) {
        if (Exists(folder + "/idVendor")) {
            return {FirstLine(folder + "/product"), FirstLine(folder + "/manufacturer"), "",
                    FirstLine(folder + "/serial"), ""};
        }
        folder.erase(folder.rfind('/'));
    }
    return {};
}

// udev's /dev/serial/by-id links by the device file each ends at.
std::map<std::string, std::string> LinksById(const std::string& byId) {
    std::map<std::string, std::string> links;
    std::unique_ptr<DIR, int (*)(DIR*)> directory(opendir(byId.c_str()), closedir);
    while (directory) {
        const dirent* entry = readdir(directory.get());
        if (entry == nullptr) {
            break;
        }
        if (entry->d_name[0] != '.') {
            const std::string target = RealPath(byId + "/" + entry->d_name);
            if (!target.empty()) {
                links.emplace(target, entry->d_name);
            }
        }
    }
    return links;
}

// Hardware serial devices, or false when the tty class cannot be read.
bool SerialDevices(const SerialFolders& folders, std::vector<PortRow>& rows) {
    std::unique_ptr<DIR, int (*)(DIR*)> directory(opendir(folders.ttyClass.c_str()), closedir);
    if (!directory) {
        return false;
    }
    const std::map<std::string, std::string> links = LinksById(folders.byId);
    while (const dirent* entry = readdir(directory.get())) {
        const std::string name = entry->d_name;
        // The entry "name:" must fit what CSerial::Open accepts.
        if (name.front() == '.' || name.size() + 1 > CSerial::MaxPortNameLength) {
            continue;
        }
        const std::string sysfsEntry = folders.ttyClass + "/" + name;
        const std::string device = folders.devices + "/" + name;
        if (HasSerialHardware(sysfsEntry, name) && IsCharacterDevice(device)) {
            PortDevice described = UsbDeviceOf(sysfsEntry);
            if (const auto link = links.find(RealPath(device)); link != links.end()) {
                described.link = link->second;
            }
            rows.push_back({name + ':', DescribePort(described, name)});
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

} // namespace

std::vector<std::string> FallbackComPorts() {
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i) {
        names.push_back("ttyS" + std::to_string(i) + ":");
    }
    return names;
}

std::vector<PortRow> ListSerialPorts(const SerialFolders& folders,
                                     const std::vector<PortRow>& published, bool& readable) {
    std::vector<PortRow> devices;
    readable = SerialDevices(folders, devices);
    std::vector<std::pair<int, PortRow>> ranked;
    for (PortRow& row : devices) {
        ranked.emplace_back(Rank(row.name, false), std::move(row));
    }
    for (const PortRow& row : published) {
        const bool listed = std::any_of(ranked.begin(), ranked.end(), [&row](const auto& entry) {
            return entry.second.name == row.name;
        });
        if (!listed) {
            ranked.emplace_back(Rank(row.name, true), row);
        }
    }
    std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : NaturalLess(a.second.name, b.second.name);
    });
    std::vector<PortRow> rows;
    for (auto& entry : ranked) {
        rows.push_back(std::move(entry.second));
    }
    return rows;
}

std::vector<PortRow> EnumeratePorts() {
    std::vector<PortRow> published;
    for (const std::string& name : virtual_ports::List()) {
        published.push_back({name + ':', "virtual port to " + virtual_ports::Resolve(name)});
    }
    bool readable = false;
    std::vector<PortRow> rows = ListSerialPorts(SerialFolders{}, published, readable);
    return WithFallback(std::move(rows), readable);
}
