#pragma once

#include <cstdint>
#include <string>

// Every serial operation, transaction and device operation reports one of these,
// or a positive operating-system error code passed up unchanged.
enum ResultCode : std::int32_t {
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
// the cure on a line of its own.
std::string PortErrorText(const std::string& portEntry, std::int32_t code, bool portOpened);
