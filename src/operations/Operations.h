#pragma once

#include "communication/Protocols.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

class InfoLabelSink;

// The blocks of a complete memory dump: 1024 of the first region, 32 of the second.
constexpr std::uint32_t DumpBlockCount = 1056;

// What an operation tells its caller while it runs. Each hook is called on the
// operation's own thread and may be empty.
struct OperationHooks {
    // The port is open: a system error from here on comes from the open link.
    std::function<void()> portOpened;
    // The dump: a block has been written; the count of whole blocks in the file.
    std::function<void(std::uint32_t blocks)> blockWritten;
    // The dump: raised from any thread, it ends the dump after the block in
    // progress, with the blocks read so far in the file and LINK_OK.
    const std::atomic<bool>* stop = nullptr;
};

// What a memory dump leaves behind besides its result code.
struct DumpRecord {
    std::uint32_t blocks = 0;   // whole blocks in the file
    std::int32_t fileError = 0; // the system's code behind OP_ERR_FILE_OPEN / _WRITE
    bool portOpened = false;    // a positive result came from the open link
    bool stopped = false;       // ended early by the stop request
    bool fileRemoved = false;   // the dump created the file and removed it, holding no block
    bool fileUnchanged = false; // the file existed and the dump left it as it was
};

// The three device operations of the worker, callable on any thread. Each opens
// its own port by name, runs its commands and closes the port on every way out.
// The sleeper takes the 50 ms pauses between commands and the protocol's 200 ms
// pauses after a failed attempt; an empty one sleeps in real time.
//
// Results: 0 (or the self-test mask), a negative link or operation code, or the
// positive system error code of a port that could not be opened.

// Serial number, model, status, readings and, for firmware 2.0 and later, the
// recorded extremes, written into the labels as they arrive (the extremes with
// the PC's decimal separator). A reply that arrives whole but carries fewer bytes
// than the step decodes ends the operation with LINK_ERR_CRC; a firmware field
// that is not a number, with LINK_ERR_DATA.
std::int32_t ReadDeviceInformation(const std::string& portName, InfoLabelSink& labels,
                                   const Protocols::Sleeper& sleeper = {},
                                   const OperationHooks& hooks = {});

// Starts the logger's self-test and waits up to 195 s for it: the mask (0 to
// 255, bit i set when test i + 1 failed), or a failure code; LINK_ERR_CRC when
// the reply carries no mask byte. A system error, from opening the port or from
// the port lost while the tests run, is LINK_ERR_TIMEOUT, so that no such error is
// ever taken for a mask.
std::int32_t RunSelfTestOperation(const std::string& portName,
                                  const Protocols::Sleeper& sleeper = {});

// Memory image 0x000000 to 0x041FFF into fileName, 256-byte block by block, each
// written as it arrives, so the file's offsets are the logger's addresses. The
// file is opened (or created) before the port; OP_ERR_FILE_OPEN leaves the port
// untouched. A failed block ends the dump with the blocks before it on disk; a
// block shorter than 256 bytes is a failure (LINK_ERR_CRC) and is not written.
// A file the dump created itself is removed when the dump ends before its first
// block; an existing file is left byte for byte as it was until the first block
// arrives, which empties it.
std::int32_t DumpMemory(const std::string& portName, const std::string& fileName,
                        const Protocols::Sleeper& sleeper = {}, const OperationHooks& hooks = {},
                        DumpRecord* record = nullptr);

// The parts of the logger's reply texts the read-information operation uses.
// Exposed for tests.
namespace reply_text {
// The firmware text: status field 4 without its last two characters. Empty when
// field 4 is shorter than those two characters.
std::optional<std::string> FirmwareText(std::string_view field4);
// The firmware number of a firmware text written in plain decimal notation with
// '.' (blanks around it allowed); empty when the text is anything else.
std::optional<float> FirmwareNumber(std::string_view firmwareText);
} // namespace reply_text
