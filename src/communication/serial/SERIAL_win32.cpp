// Windows backend of CSerial: one COM port through the Win32 communications API,
// opened for synchronous (non-overlapped) I/O.

#include "communication/ResultCodes.h"
#include "communication/serial/SERIAL.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <cassert>
#include <cstring>
#include <string>
#include <string_view>
#include <windows.h>

namespace {

HANDLE AsHandle(SerialHandle handle) {
    return static_cast<HANDLE>(handle);
}

std::int32_t SystemError() {
    return static_cast<std::int32_t>(GetLastError());
}

// Reads the port's device control block; 0 or the system error.
std::int32_t ReadState(SerialHandle handle, DCB& dcb) {
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    return GetCommState(AsHandle(handle), &dcb) ? 0 : SystemError();
}

// The device control block of an open port, for the getters: lastError becomes 0,
// NotOpenError for a closed port, or the system error.
bool ReadOpenState(bool open, SerialHandle handle, DCB& dcb, std::int32_t& lastError) {
    lastError = open ? ReadState(handle, dcb) : CSerial::NotOpenError;
    return lastError == 0;
}

} // namespace

CSerial::~CSerial() {
    if (IsOpen()) {
        Close();
    }
}

std::int32_t CSerial::Open(const char* portName, std::uint32_t inQueue, std::uint32_t outQueue) {
    lastError = 0;

    // The device is named by the entry without its last character (the colon of "COM1:").
    // Names longer than the device path was ever sized for are refused up front. A null
    // name is taken as the empty one, which the system then refuses to open.
    const std::string_view name = portName != nullptr ? portName : "";
    if (name.size() > static_cast<std::size_t>(MaxPortNameLength)) {
        return Fail(ERROR_INVALID_NAME);
    }
    // "\\.\" + name, then one character off the end: "COM10:" -> \\.\COM10, "" -> \\.
    std::string path = "\\\\.\\";
    path += name;
    path.pop_back();

    if (IsOpen()) {
        return Fail(AlreadyOpenError);
    }

    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return Fail(SystemError());
    }
    handle = port;

    if (!SetupComm(port, inQueue, outQueue)) {
        const std::int32_t error = SystemError();
        Close();
        return Fail(error);
    }

    // Each of these sets lastError; only the last one decides the result of Open.
    SetLine(9600, 8, NOPARITY, ONESTOPBIT);
    SetTimeouts(300);
    SetHandshake(HandshakeNone);

    // The logger needs DTR raised whatever the handshake left it at.
    EscapeCommFunction(port, SETDTR);
    return lastError;
}

std::int32_t CSerial::Close() {
    lastError = 0;
    if (IsOpen()) {
        CloseHandle(AsHandle(handle));
        handle = InvalidHandle();
    }
    return 0;
}

std::int32_t CSerial::SetLine(std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                              std::uint8_t stopBits) {
    lastError = 0;
    if (!IsOpen()) {
        return NotOpen();
    }
    DCB dcb;
    if (const std::int32_t error = ReadState(handle, dcb)) {
        return Fail(error);
    }
    dcb.BaudRate = baudRate;
    dcb.ByteSize = dataBits;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    dcb.fParity = parity != NOPARITY ? TRUE : FALSE;
    if (!SetCommState(AsHandle(handle), &dcb)) {
        return Fail(SystemError());
    }
    return 0;
}

std::int32_t CSerial::SetHandshake(std::uint8_t mode) {
    lastError = 0;
    if (!IsOpen()) {
        return NotOpen();
    }
    DCB dcb;
    if (const std::int32_t error = ReadState(handle, dcb)) {
        return Fail(error);
    }
    switch (mode) {
    case HandshakeNone:
        // DTR stays under handshake control here; Open raises it explicitly afterwards.
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        break;
    case HandshakeHardware:
        dcb.fOutxCtsFlow = TRUE;
        dcb.fOutxDsrFlow = TRUE;
        dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
        break;
    case HandshakeSoftware:
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fOutX = TRUE;
        dcb.fInX = TRUE;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        break;
    default:
        assert(false);
        return Fail(InvalidArgumentError);
    }
    if (!SetCommState(AsHandle(handle), &dcb)) {
        return Fail(SystemError());
    }
    return 0;
}

std::int32_t CSerial::SetTimeouts(std::uint32_t readTotalTimeoutConstant) {
    lastError = 0;
    if (!IsOpen()) {
        return NotOpen();
    }
    COMMTIMEOUTS timeouts;
    std::memset(&timeouts, 0, sizeof timeouts);
    if (!GetCommTimeouts(AsHandle(handle), &timeouts)) {
        return Fail(SystemError());
    }
    // The write time-outs are kept as the driver has them.
    timeouts.ReadIntervalTimeout = ReadIntervalTimeout;
    timeouts.ReadTotalTimeoutMultiplier = ReadTotalTimeoutMultiplier;
    timeouts.ReadTotalTimeoutConstant = readTotalTimeoutConstant;
    if (!SetCommTimeouts(AsHandle(handle), &timeouts)) {
        return Fail(SystemError());
    }
    return 0;
}

std::int32_t CSerial::GetBaudRate() {
    DCB dcb;
    if (!ReadOpenState(IsOpen(), handle, dcb, lastError)) {
        return -1;
    }
    return static_cast<std::int32_t>(dcb.BaudRate);
}

std::uint8_t CSerial::GetByteSize() {
    DCB dcb;
    if (!ReadOpenState(IsOpen(), handle, dcb, lastError)) {
        return 0xFF;
    }
    return dcb.ByteSize;
}

std::uint8_t CSerial::GetParity() {
    DCB dcb;
    if (!ReadOpenState(IsOpen(), handle, dcb, lastError)) {
        return 0xFF;
    }
    // A parity code without fParity set is not in effect.
    return dcb.fParity ? dcb.Parity : static_cast<std::uint8_t>(NOPARITY);
}

std::uint8_t CSerial::GetStopBits() {
    DCB dcb;
    if (!ReadOpenState(IsOpen(), handle, dcb, lastError)) {
        return 0xFF;
    }
    return dcb.StopBits;
}

std::uint8_t CSerial::GetHandshake() {
    DCB dcb;
    if (!ReadOpenState(IsOpen(), handle, dcb, lastError)) {
        return 0xFF;
    }
    // DTR handshake alone (as HandshakeNone leaves it) is not hardware flow control.
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE && dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        return HandshakeHardware;
    }
    if (dcb.fOutX && dcb.fInX) {
        return HandshakeSoftware;
    }
    return HandshakeNone;
}

std::int32_t CSerial::Write(const void* data, std::uint32_t count, std::uint32_t* pdwWritten) {
    assert(pdwWritten);
    std::uint32_t unused = 0;
    std::uint32_t& written = pdwWritten ? *pdwWritten : unused;
    written = 0;
    lastError = 0;
    if (!IsOpen()) {
        return NotOpen();
    }
    DWORD done = 0;
    const BOOL ok = WriteFile(AsHandle(handle), data, count, &done, nullptr);
    written = done;
    if (!ok) {
        return Fail(SystemError());
    }
    return 0;
}

std::int32_t CSerial::Read(void* buffer, std::uint32_t count, std::uint32_t* pdwRead) {
    assert(pdwRead);
    std::uint32_t unused = 0;
    std::uint32_t& received = pdwRead ? *pdwRead : unused;
    received = 0;
    lastError = 0;
    if (!IsOpen()) {
        return NotOpen();
    }
    DWORD done = 0;
    const BOOL ok = ReadFile(AsHandle(handle), buffer, count, &done, nullptr);
    received = done;
    if (!ok) {
        lastError = SystemError();
    }
    // Nothing within the time-outs is a time-out, even when ReadFile itself failed;
    // lastError still tells the two apart.
    if (done == 0) {
        return Raw(LINK_ERR_TIMEOUT);
    }
    return lastError;
}

std::int32_t CSerial::Purge() {
    // lastError is left alone on success: a purge between transactions should not hide
    // the failure that preceded it.
    if (!IsOpen()) {
        return NotOpen();
    }
    if (!PurgeComm(AsHandle(handle), PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        return Fail(SystemError());
    }
    return lastError;
}

bool CSerial::IsOpen() const {
    return handle != InvalidHandle();
}
