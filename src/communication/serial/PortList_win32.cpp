// COM port list on Windows: the ports the print spooler knows ("COM1:", "COM7:", ...)
// and the serial ports the device installer has installed (the Ports class), which
// also tells what each device is. Either alone may miss some: the spooler service
// may be stopped, and a virtual port driver may install its ports in a class of its
// own.

#include "communication/serial/PortList.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <memory>
#include <windows.h>
// After windows.h, which they need.
#include <cfgmgr32.h>
#include <devguid.h>
#include <devpropdef.h>
#include <setupapi.h>
#include <winspool.h>

namespace {

// The spooler's list grows with every printer port of the PC (network printers give
// one each); a list that changes between the calls is asked for again.
constexpr int SpoolerAttempts = 4;
constexpr DWORD FirstBufferSize = 4096;

// The product as the USB device reports it (DEVPKEY_Device_BusReportedDeviceDesc).
constexpr DEVPROPKEY BusReportedDescription{
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};

// How far up the device tree a USB serial number is looked for: the port, the USB
// function or interface, the USB device.
constexpr int InstanceIdLevels = 3;

std::string Utf8(const wchar_t* wide) {
    if (wide == nullptr || wide[0] == L'\0') {
        return {};
    }
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), length, nullptr, nullptr);
    text.pop_back(); // the terminating null
    return text;
}

bool SpoolerPortNames(std::vector<std::string>& names) {
    DWORD size = FirstBufferSize;
    for (int attempt = 0; attempt < SpoolerAttempts; ++attempt) {
        // The spooler fills the buffer with PORT_INFO_1 records followed by their
        // strings: records as the element type keep the buffer aligned for them.
        std::vector<PORT_INFO_1A> buffer(size / sizeof(PORT_INFO_1A) + 1);
        const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(PORT_INFO_1A));
        DWORD needed = 0;
        DWORD returned = 0;
        if (EnumPortsA(nullptr, 1, reinterpret_cast<BYTE*>(buffer.data()), bytes, &needed,
                       &returned)) {
            for (DWORD i = 0; i < returned; ++i) {
                if (buffer[i].pName != nullptr) {
                    names.emplace_back(buffer[i].pName);
                }
            }
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= bytes) {
            return false;
        }
        size = needed;
    }
    return false;
}

std::string RegistryText(HKEY key, const wchar_t* value) {
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                         &bytes) != ERROR_SUCCESS) {
        return {};
    }
    return Utf8(text.data());
}

std::string DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t text[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(text),
                                           sizeof text - sizeof(wchar_t), nullptr)) {
        return {};
    }
    return Utf8(text);
}

std::string BusReportedProduct(HDEVINFO set, SP_DEVINFO_DATA& device) {
    wchar_t text[512] = {};
    DEVPROPTYPE type = 0;
    if (!SetupDiGetDevicePropertyW(set, &device, &BusReportedDescription, &type,
                                   reinterpret_cast<BYTE*>(text), sizeof text - sizeof(wchar_t),
                                   nullptr, 0) ||
        type != DEVPROP_TYPE_STRING) {
        return {};
    }
    return Utf8(text);
}

// The device's instance id and its parents'.
std::vector<std::string> InstanceIds(DEVINST device) {
    std::vector<std::string> ids;
    for (int level = 0; level < InstanceIdLevels; ++level) {
        wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
        if (CM_Get_Device_IDW(device, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) {
            break;
        }
        ids.push_back(Utf8(id));
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, device, 0) != CR_SUCCESS) {
            break;
        }
        device = parent;
    }
    return ids;
}

struct DeviceListDeleter {
    void operator()(void* set) const { SetupDiDestroyDeviceInfoList(static_cast<HDEVINFO>(set)); }
};

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};

// The serial and parallel ports present (the Ports class); WindowsPortRows keeps the
// COM ports.
std::vector<InstalledPort> InstalledPorts() {
    std::vector<InstalledPort> ports;
    const HDEVINFO found =
        SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (found == INVALID_HANDLE_VALUE) {
        return ports;
    }
    const std::unique_ptr<void, DeviceListDeleter> set(found);
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(found, index, &device)) {
            break;
        }
        const HKEY opened =
            SetupDiOpenDevRegKey(found, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
        if (opened == INVALID_HANDLE_VALUE) {
            continue;
        }
        const std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser> key(opened);
        InstalledPort port;
        port.name = RegistryText(key.get(), L"PortName");
        if (port.name.empty()) {
            continue;
        }
        port.device.product = DeviceProperty(found, device, SPDRP_FRIENDLYNAME);
        if (port.device.product.empty()) {
            port.device.product = DeviceProperty(found, device, SPDRP_DEVICEDESC);
        }
        port.device.manufacturer = DeviceProperty(found, device, SPDRP_MFG);
        port.device.model = BusReportedProduct(found, device);
        port.device.serialNumber = UsbSerialNumber(InstanceIds(device.DevInst));
        ports.push_back(std::move(port));
    }
    return ports;
}

} // namespace

std::vector<PortRow> EnumeratePorts() {
    std::vector<std::string> spooler;
    const bool readable = SpoolerPortNames(spooler);
    std::vector<PortRow> rows = WindowsPortRows(spooler, InstalledPorts());
    return WithFallback(std::move(rows), readable);
}

std::vector<std::string> FallbackComPorts() {
    std::vector<std::string> ports;
    ports.reserve(10);
    for (int i = 1; i <= 10; ++i) {
        ports.push_back("COM" + std::to_string(i) + ":");
    }
    return ports;
}
