#include "communication/ResultCodes.h"

#include "communication/serial/SERIAL.h"

#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstring>
#endif

const char* LinkErrorMessage(std::int32_t code) {
    switch (static_cast<ResultCode>(code)) {
    case LINK_ERR_COMMAND:
        return "Wellscribe Command Error";
    case LINK_ERR_DATA:
    case LINK_ERR_NO_PORT:
        return "Data Corrupted! Use utility to do a memory dump.";
    case LINK_ERR_TIMEOUT:
        return "Communication Time Out! Check COM Port";
    case LINK_ERR_CRC:
    case LINK_ERR_ACK:
        return "Communication Error! Check Cable Connection";
    case OP_STOPPED:
        return "Stopped";
    default:
        return "Internal Error";
    }
}

std::string LinkErrorText(std::int32_t code) {
    return std::to_string(code) + " " + LinkErrorMessage(code);
}

std::string SystemErrorText(std::int32_t code) {
#ifdef _WIN32
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text =
        length > 0 && buffer != nullptr ? std::string(buffer, length) : std::string();
    LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text.empty() ? "System error " + std::to_string(code) : text;
#else
    char buffer[256] = {};
    // strerror_r, not strerror: the worker's and the window's threads may ask at once.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    return strerror_r(code, buffer, sizeof buffer);
#else
    return strerror_r(code, buffer, sizeof buffer) == 0 ? buffer
                                                        : "Unknown error " + std::to_string(code);
#endif
#endif
}

std::string PortDisplayName(const std::string& portEntry) {
    if (!portEntry.empty() && portEntry.back() == ':') {
        return portEntry.substr(0, portEntry.size() - 1);
    }
    return portEntry;
}

std::string PortErrorText(const std::string& portEntry, std::int32_t code, bool portOpened) {
    const std::string named = PortDisplayName(portEntry);
    const std::string port = named.empty() ? "the COM port" : named;
    if (portOpened) {
        return "The connection to " + port + " was lost: " + SystemErrorText(code);
    }
    if (code == CSerial::LeftExclusiveError) {
        return "Cannot open " + port +
               ": a program that was ended without closing it left the port in exclusive "
               "mode\nUnplug the adapter and plug it in again.";
    }
    std::string text = "Cannot open " + port + ": " + SystemErrorText(code);
#ifdef __linux__
    if (code == EACCES) {
        text += "\nAdd your account to the dialout group (sudo usermod -aG dialout $USER), then "
                "log in again.";
    } else if (code == EBUSY) {
        text += "\nAnother program is using this port. Close it and try again.";
    }
#endif
    return text;
}

std::string OutcomeText(const LinkOutcome& outcome, const std::string& portEntry, bool numbered) {
    if (outcome.systemError == 0) {
        return LinkErrorText(Raw(outcome.code));
    }
    const std::string port = PortErrorText(portEntry, outcome.systemError, outcome.portOpened);
    // The number is the system's: a port left in exclusive mode is its EBUSY.
    const std::int32_t number =
        outcome.systemError == CSerial::LeftExclusiveError ? EBUSY : outcome.systemError;
    return numbered && !outcome.Lost() ? LinkErrorText(number) + "\n" + port : port;
}
