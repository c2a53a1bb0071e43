#pragma once

#include <cstdint>
#include <string>

// The link and operation codes. The serial port, the protocol and the logger
// commands return them as a plain integer that may also be a positive
// operating-system error code passed up unchanged; a device operation hands its
// caller a LinkOutcome, which keeps the two apart.
enum class ResultCode : std::int32_t {
    LINK_OK = 0,
    LINK_ERR_INTERNAL_A = -10,
    LINK_ERR_COMMAND = -100,
    LINK_ERR_INTERNAL_B = -110,
    LINK_ERR_DATA = -120,
    LINK_ERR_TIMEOUT = -200,
    LINK_ERR_CRC = -210,
    LINK_ERR_NO_PORT = -220,
    LINK_ERR_ACK = -230,
    LINK_ERR_NO_REPLY_LEN = -280,
    OP_ERR_FILE_OPEN = -400,
    OP_ERR_FILE_WRITE = -410,
    // The user stopped the operation (its stop flag): no request was sent after
    // the one in progress. Never shown as an error.
    OP_STOPPED = -300,
};
using enum ResultCode;

// The integer a port, protocol or command returns for a code.
constexpr std::int32_t Raw(ResultCode code) {
    return static_cast<std::int32_t>(code);
}
constexpr bool operator==(std::int32_t result, ResultCode code) {
    return result == Raw(code);
}

// How a device operation or a calibration step ended: a link or operation code,
// or the system error of the port (code LINK_OK then), and whether the port was
// open when it happened.
struct LinkOutcome {
    ResultCode code = LINK_OK;
    std::int32_t systemError = 0;
    bool portOpened = false;

    // Splits what a port, protocol or command returned.
    static constexpr LinkOutcome From(std::int32_t result, bool portOpened) {
        return result > 0 ? LinkOutcome{LINK_OK, result, portOpened}
                          : LinkOutcome{static_cast<ResultCode>(result), 0, portOpened};
    }
    constexpr bool Ok() const { return code == LINK_OK && systemError == 0; }
    constexpr bool Stopped() const { return code == OP_STOPPED; }
    // The port went away while open: told as "The connection to X was lost: ...".
    constexpr bool Lost() const { return systemError != 0 && portOpened; }
    // The number the user is shown: the system error, else the code.
    constexpr std::int32_t Number() const { return systemError != 0 ? systemError : Raw(code); }
    friend constexpr bool operator==(const LinkOutcome&, const LinkOutcome&) = default;
};

// The user's message for a result code ("Internal Error" for every code without one of its own).
const char* LinkErrorMessage(std::int32_t code);

// The text of the link error box: the code in decimal, a blank, then its message.
std::string LinkErrorText(std::int32_t code);

// The operating system's text for a positive system error code: strerror on POSIX,
// FormatMessage on Windows with its trailing line end removed.
std::string SystemErrorText(std::int32_t code);

// A port entry as the user knows the port: the entry without its trailing colon.
std::string PortDisplayName(const std::string& portEntry);

// What the user is told about a positive system error code met on a port: "Cannot
// open ttyUSB0: Permission denied" when opening it failed, "The connection to
// ttyUSB0 was lost: Input/output error" when it failed once open. On Linux a
// failed open for want of permission, or of a port another program holds, adds
// the cure on a line of its own, and so does a port a killed program left in
// exclusive mode (CSerial::LeftExclusiveError).
std::string PortErrorText(const std::string& portEntry, std::int32_t code, bool portOpened);

// The text the user is shown for a failed outcome on the port entry: the code and
// its message ("-200 Communication Time Out! Check COM Port"), or for a system
// error the port's text ("Cannot open ttyUSB0: Permission denied") with the cure
// under it. numbered: the calibration dialog's boxes, which put the number and
// its message above a port that could not be opened too ("2 Internal Error"). A
// port lost once open reads the same everywhere, numbered or not: "The
// connection to COM5 was lost: <reason>".
std::string OutcomeText(const LinkOutcome& outcome, const std::string& portEntry,
                        bool numbered = false);
