// Windows backend of CSerial: one COM port through the Win32 communications API.
//
// The port is opened for overlapped I/O, and every read and write is a request that
// the program waits for against its own deadline, then cancels (CancelIoEx) and waits
// for once more when the deadline has passed: a driver that never finishes a request
// (a USB-serial adapter pulled mid-transfer) cannot hold the program. The driver's
// COMMTIMEOUTS stay set as a second line. A read asks only for the bytes the driver
// already holds (ClearCommError's count), so the gap between bytes and the total
// limit are the program's to keep, as on POSIX.

#include "communication/ResultCodes.h"
#include "communication/serial/SERIAL.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <algorithm>
#include <cassert>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>
#include <windows.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long a cancelled request may take to end before the port is given up on.
constexpr milliseconds CancelWait{2000};
// How often a read looks at the driver's queue while no byte is there.
constexpr DWORD PollInterval = 5;
// The line drains at about a millisecond a byte at 9600 baud with no flow control:
// a write that cannot finish in twice that plus a second never will.
constexpr std::uint32_t WriteMillisecondsPerByte = 2;
constexpr std::uint32_t WriteMarginMilliseconds = 1000;

// One overlapped request: its OVERLAPPED, its event and the bytes it transfers, all
// owned here, so that a request the driver never ends can be left to it whole
// (Abandon) without the caller's buffer or stack being written later.
struct Request {
    explicit Request(std::size_t size) : bytes(size) {
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~Request() {
        if (overlapped.hEvent != nullptr) {
            CloseHandle(overlapped.hEvent);
        }
    }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    OVERLAPPED overlapped{};
    std::vector<std::uint8_t> bytes;
};

DWORD MillisecondsUntil(Clock::time_point deadline) {
    const auto remaining = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
    return remaining > 0 ? static_cast<DWORD>(remaining) : 0;
}

// Waits for a started request until the deadline; past it, cancels the request and
// waits for it to end. 0 with the bytes transferred (fewer than asked when the
// deadline cut it short), or the system error the request ended with. A request that
// does not end even when cancelled is left to the driver with its buffer (the
// Request is released on purpose) and the port reported as gone.
std::int32_t Finish(HANDLE port, std::unique_ptr<Request>& request, BOOL started,
                    Clock::time_point deadline, DWORD& done) {
    done = 0;
    if (!started && GetLastError() != ERROR_IO_PENDING) {
        return static_cast<std::int32_t>(GetLastError());
    }
    OVERLAPPED& overlapped = request->overlapped;
    bool cancelled = false;
    if (WaitForSingleObject(overlapped.hEvent, MillisecondsUntil(deadline)) != WAIT_OBJECT_0) {
        cancelled = true;
        CancelIoEx(port, &overlapped);
        if (WaitForSingleObject(overlapped.hEvent, static_cast<DWORD>(CancelWait.count())) !=
            WAIT_OBJECT_0) {
            request.release(); // still the driver's: never freed, never reused
            return ERROR_OPERATION_ABORTED;
        }
    }
    if (GetOverlappedResult(port, &overlapped, &done, FALSE)) {
        return 0;
    }
    const DWORD error = GetLastError();
    // Our own cancellation is the deadline passing, not a failure of the device.
    if (cancelled && error == ERROR_OPERATION_ABORTED) {
        return 0;
    }
    return static_cast<std::int32_t>(error);
}

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

struct CSerial::SavedLine {
    DCB state{};
    COMMTIMEOUTS timeouts{};
};

// Defined here, where SavedLine is complete.
CSerial::CSerial() = default;

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
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return Fail(SystemError());
    }
    handle = port;

    if (!SetupComm(port, inQueue, outQueue)) {
        const std::int32_t error = SystemError();
        Close();
        return Fail(error);
    }

    // What Close puts back. A port whose settings cannot be read is left as the
    // program sets it (SetLine below reports the failure).
    auto saved = std::make_unique<SavedLine>();
    if (ReadState(handle, saved->state) == 0 && GetCommTimeouts(port, &saved->timeouts)) {
        savedLine = std::move(saved);
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
        if (savedLine) {
            SetCommState(AsHandle(handle), &savedLine->state);
            SetCommTimeouts(AsHandle(handle), &savedLine->timeouts);
            savedLine.reset();
        }
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
    // The driver's own limits, behind the program's deadlines: the same gap and
    // total for reads, and for writes the byte count at 9600 baud with a margin.
    timeouts.WriteTotalTimeoutMultiplier = WriteMillisecondsPerByte;
    timeouts.WriteTotalTimeoutConstant = WriteMarginMilliseconds;
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
    if (count == 0) {
        return 0;
    }
    const auto deadline =
        Clock::now() +
        milliseconds(WriteMarginMilliseconds + std::uint64_t{WriteMillisecondsPerByte} * count);
    auto request = std::make_unique<Request>(count);
    if (request->overlapped.hEvent == nullptr) {
        return Fail(SystemError());
    }
    std::memcpy(request->bytes.data(), data, count);
    const BOOL started =
        WriteFile(AsHandle(handle), request->bytes.data(), count, nullptr, &request->overlapped);
    DWORD done = 0;
    if (const std::int32_t error = Finish(AsHandle(handle), request, started, deadline, done)) {
        written = done;
        return Fail(error);
    }
    written = done;
    // A write the deadline (or the driver's own time-out) cut short.
    if (done < count) {
        return Fail(ERROR_TIMEOUT);
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
    const HANDLE port = AsHandle(handle);
    COMMTIMEOUTS timeouts{};
    if (!GetCommTimeouts(port, &timeouts)) {
        return Fail(SystemError());
    }
    // One deadline for the whole read (count + C ms), and a second one that moves
    // with every arrival once the first byte is in (the 100 ms gap).
    const auto totalDeadline =
        Clock::now() + milliseconds(std::uint64_t{count} * ReadTotalTimeoutMultiplier +
                                    timeouts.ReadTotalTimeoutConstant);
    auto deadline = totalDeadline;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    while (received < count) {
        DWORD errors = 0;
        COMSTAT status{};
        std::int32_t error = 0;
        if (!ClearCommError(port, &errors, &status)) {
            error = SystemError();
        } else if (status.cbInQue > 0) {
            const DWORD wanted = std::min<DWORD>(status.cbInQue, count - received);
            auto request = std::make_unique<Request>(wanted);
            if (request->overlapped.hEvent == nullptr) {
                return Fail(SystemError());
            }
            // The bytes are in the driver's queue already: the request ends at once,
            // and is given the gap at least, even past the deadline.
            const auto requestDeadline =
                std::max(deadline, Clock::now() + milliseconds(ReadIntervalTimeout));
            const BOOL started =
                ReadFile(port, request->bytes.data(), wanted, nullptr, &request->overlapped);
            DWORD done = 0;
            error = Finish(port, request, started, requestDeadline, done);
            if (error == 0 && done > 0) {
                std::memcpy(bytes + received, request->bytes.data(), done);
                received += done;
                deadline =
                    std::min(totalDeadline, Clock::now() + milliseconds(ReadIntervalTimeout));
                continue;
            }
        }
        if (error != 0) {
            // The device is gone or failing: hand over what arrived; the next read
            // reports the error.
            if (received > 0) {
                break;
            }
            return Fail(error);
        }
        const DWORD wait = MillisecondsUntil(deadline);
        if (wait == 0) {
            break;
        }
        Sleep(std::min(wait, PollInterval));
    }
    return received == 0 ? static_cast<std::int32_t>(LINK_ERR_TIMEOUT) : 0;
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
