#pragma once

#include <cstdint>
#include <memory>

#ifdef _WIN32
using SerialHandle = void*; // HANDLE
#else
using SerialHandle = int; // file descriptor
#endif

// Flow-control modes of SetHandshake.
enum : std::uint8_t {
    HandshakeNone = 0,
    HandshakeHardware = 1,
    HandshakeSoftware = 2,
};

// One serial port, opened by name with the logger's line settings (9600 baud, 8N1,
// no flow control, DTR raised). All I/O is synchronous; every wait is bounded by
// the read time-outs. Results: 0, a positive system error code, or a negative
// link code (-200 when a read received nothing).
//
// Port names end in a colon ("COM1:", "ttyUSB0:"); the device is named by the
// entry without its last character.
//
// Close puts back the line settings the port had before Open, so that a terminal
// or another program finds the port as it was.
class CSerial {
public:
    // Longest port name accepted; longer names are refused before anything is opened.
    static constexpr int MaxPortNameLength = 15;
    // Gap between two received bytes after which a read ends early, in ms.
    static constexpr std::uint32_t ReadIntervalTimeout = 100;
    // Time a read may take per requested byte, in ms (about one byte time at 9600 baud).
    static constexpr std::uint32_t ReadTotalTimeoutMultiplier = 1;

    CSerial();
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;
    virtual ~CSerial();

    virtual std::int32_t Open(const char* portName, std::uint32_t inQueue, std::uint32_t outQueue);
    virtual std::int32_t Close();
    virtual std::int32_t SetLine(std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                                 std::uint8_t stopBits);
    virtual std::int32_t SetHandshake(std::uint8_t mode);
    // Read time-out constant C: a read of n bytes lasts at most n + C ms.
    virtual std::int32_t SetTimeouts(std::uint32_t readTotalTimeoutConstant);
    virtual std::int32_t GetBaudRate();
    virtual std::uint8_t GetByteSize();
    virtual std::uint8_t GetParity();
    virtual std::uint8_t GetStopBits();
    virtual std::uint8_t GetHandshake();
    // pdwWritten receives the count of bytes written; it is required.
    virtual std::int32_t Write(const void* data, std::uint32_t count, std::uint32_t* pdwWritten);
    // Returns when count bytes have arrived, when more than 100 ms pass between two
    // bytes, or after count + C ms at the latest. Fewer bytes than asked, but at
    // least one, is a success; none is -200.
    // pdwRead receives the count of bytes read; it is required.
    virtual std::int32_t Read(void* buffer, std::uint32_t count, std::uint32_t* pdwRead);
    // Empties both directions of the driver's buffers.
    std::int32_t Purge();

    bool IsOpen() const;
    std::int32_t LastError() const { return lastError; }

    // The same values on every platform, so callers and messages do not depend on it.
    static constexpr std::int32_t NotOpenError = 6;        // ERROR_INVALID_HANDLE
    static constexpr std::int32_t AlreadyOpenError = 1247; // ERROR_ALREADY_INITIALIZED
    static constexpr std::int32_t InvalidArgumentError = static_cast<std::int32_t>(0x80070057u);
    // Linux: the terminal refuses every open because it is in exclusive mode, and no
    // program holds its lock: a program that set the mode was killed while another
    // side (a driver, the other end of a pseudo-terminal) kept the terminal open.
    // The value has the bit Windows leaves to applications (bit 29), so it is no
    // system error code on either platform.
    static constexpr std::int32_t LeftExclusiveError = 0x20000000 | 16;

private:
    std::int32_t Fail(std::int32_t code) {
        lastError = code;
        return code;
    }
    std::int32_t NotOpen() { return Fail(NotOpenError); }

    std::int32_t lastError = 0;
    SerialHandle handle{InvalidHandle()};
    // The port's settings before Open (termios; DCB and COMMTIMEOUTS on Windows).
    struct SavedLine;
    std::unique_ptr<SavedLine> savedLine;
#ifndef _WIN32
    std::uint32_t readTotalTimeoutConstant = 300;
#endif

    static constexpr SerialHandle InvalidHandle() {
#ifdef _WIN32
        return nullptr;
#else
        return -1;
#endif
    }
};
