#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

class CSerial;
class WSRX_Protocol;

// The logger commands the program sends, one transaction each, and the addresses
// and codes they use. Every request carries the parameter byte 0xFF.

namespace command_letter {
constexpr std::uint8_t ReadMemory = 'c';
constexpr std::uint8_t WriteMemory = 'd';
constexpr std::uint8_t PrepareBlockWrite = 'i';
constexpr std::uint8_t ReadClock = 'e';
constexpr std::uint8_t SetClock = 'f';
constexpr std::uint8_t SetAccessCode = 'y';
constexpr std::uint8_t ReadStatusText = 'k';
constexpr std::uint8_t ReadReadings = 'a';
constexpr std::uint8_t RunSelfTest = 'z';
} // namespace command_letter

constexpr std::uint8_t ParameterByte = 0xFF;

// SetAccessCode with the first opens the logger for writing, with the second closes it.
constexpr std::uint32_t WriteAccessCode = 0x6C2B19D4;
constexpr std::uint32_t CloseAccessCode = 0xFFFFFFFF;

// Logger memory.
constexpr std::uint32_t SerialNumberAddress = 0x040024;    // 3 bytes, 24-bit integer
constexpr std::uint32_t ModelNumberAddress = 0x04002A;     // 8 bytes, ASCII
constexpr std::uint32_t ExtremesAddress = 0x041FC0;        // 21 bytes
constexpr std::uint32_t ParameterBlockAddress = 0x051000;  // 256 bytes
constexpr std::uint32_t ParameterSerialAddress = 0x051012; // serial number in the parameter block
constexpr std::uint32_t BlockSize = 256;                   // largest read or write

// The longer reply time-outs of a block rewrite, in ms.
constexpr std::int32_t PrepareBlockWriteTimeout = 900;
constexpr std::int32_t WriteMemoryTimeout = 600;
// The self-test takes up to this long before the logger answers, in ms.
constexpr std::int32_t SelfTestReplyTimeout = 195000;
// Pause between the end of one transaction and the next command of a sequence.
constexpr std::chrono::milliseconds CommandPause{50};

// The checked read of a reply whose length the command fixes: one transaction whose
// step decodes the first `decoded` bytes of the payload. A reply that passed its CRC
// with fewer (cut short, or an empty payload) is -210, never a success, so no step
// checks the length itself. received is the payload length the logger sent.
std::int32_t ReadReply(WSRX_Protocol& protocol, CSerial& port, std::uint8_t command,
                       std::span<const std::uint8_t> data, std::span<std::uint8_t> payload,
                       std::size_t decoded, std::uint32_t& received);

// ReadMemory: destination.size() bytes (1 to 256) from address on, of which the step
// decodes the first `decoded` (ReadReply); received is the payload length the logger sent.
std::int32_t ReadMemory(WSRX_Protocol& protocol, CSerial& port, std::uint32_t address,
                        std::span<std::uint8_t> destination, std::size_t decoded,
                        std::uint32_t& received);
// ReadMemory for a step that decodes all it asks for.
std::int32_t ReadMemory(WSRX_Protocol& protocol, CSerial& port, std::uint32_t address,
                        std::span<std::uint8_t> destination);
// WriteMemory: 1 to 256 bytes to address on.
std::int32_t WriteMemory(WSRX_Protocol& protocol, CSerial& port, std::uint32_t address,
                         std::span<const std::uint8_t> bytes);
std::int32_t PrepareBlockWrite(WSRX_Protocol& protocol, CSerial& port);
// ReadClock: the logger's clock text as received (19 characters when whole).
std::int32_t ReadClock(WSRX_Protocol& protocol, CSerial& port, std::string& clockText);
// SetClock: clockText must be the 19 characters "dd/mm/yyyy hh:nn:ss".
std::int32_t SetClock(WSRX_Protocol& protocol, CSerial& port, std::string_view clockText);
std::int32_t SetAccessCode(WSRX_Protocol& protocol, CSerial& port, std::uint32_t code);
// The 48-byte reply texts, as received. The status text is decoded field by field,
// so an empty one is -210; an empty readings text is left to its step to judge.
std::int32_t ReadStatusText(WSRX_Protocol& protocol, CSerial& port, std::string& text);
std::int32_t ReadReadings(WSRX_Protocol& protocol, CSerial& port, std::string& text);
// RunSelfTest: the mask (bit i set when test i + 1 failed); empty when the reply
// carried no payload byte. The caller sets the self-test's reply time-out.
std::int32_t RunSelfTest(WSRX_Protocol& protocol, CSerial& port, std::optional<std::uint8_t>& mask);

// Block rewrite, the one way the program changes logger memory. With write access
// already opened by the caller: read the 256-byte block at address, let edit change
// the copy, pause, send PrepareBlockWrite (900 ms reply time-out), pause, and write
// the copy back (600 ms reply time-out, left in force for the caller's further
// commands). A block that does not arrive whole is never edited or written back
// (-210). edit returns 0 to go on, or a code that ends the sequence before anything
// more is sent.
using BlockEdit = std::function<std::int32_t(std::span<std::uint8_t, BlockSize> block)>;
std::int32_t RewriteBlock(WSRX_Protocol& protocol, CSerial& port, std::uint32_t address,
                          const BlockEdit& edit);
