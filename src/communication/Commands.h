#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>

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

// The logger's commands themselves are those of LinkSession, which owns the port
// and the protocol they go over.

// edit of LinkSession::RewriteBlock: 0 to go on, or a code that ends the sequence.
using BlockEdit = std::function<std::int32_t(std::span<std::uint8_t, BlockSize> block)>;
