#pragma once

#include "communication/Protocols.h"
#include "communication/ResultCodes.h"

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
    // The dump: a block has been written; the count of whole blocks in the file.
    std::function<void(std::uint32_t blocks)> blockWritten;
    // Raised from any thread, it ends the operation after the request in
    // progress: the dump with the blocks read so far in the file and LINK_OK
    // (DumpRecord::stopped); the information read and the self-test with
    // OP_STOPPED, the self-test's long wait for its reply included. The port is
    // closed before the operation returns.
    const std::atomic<bool>* stop = nullptr;
};

// What a memory dump leaves behind besides its result code.
struct DumpRecord {
    std::uint32_t blocks = 0;   // whole blocks in the file
    std::int32_t fileError = 0; // the system's code behind OP_ERR_FILE_OPEN / _WRITE
    bool stopped = false;       // ended early by the stop request
    bool fileRemoved = false;   // the dump created the file and removed it, holding no block
    bool fileUnchanged = false; // the file existed and the dump left it as it was
    // An earlier file held the chosen name: the blocks went to partialFile beside it
    // (the name as the program holds file names), and only a complete dump took
    // the chosen name. Empty when no earlier file held it.
    std::string partialFile;
    bool partialNamedAfterFile = false; // partialFile is the chosen name + DumpPartialSuffix
    bool earlierKept = false;           // ended early: the earlier file was kept, the
                                        // blocks read are in partialFile
    bool fileErrorOnPartial = false;    // fileError concerns partialFile, not the chosen file
};

// What a dump onto the name of an earlier file writes its blocks to until it is
// complete: the chosen name with this after it.
constexpr const char* DumpPartialSuffix = ".partial";

// The three device operations of the worker, callable on any thread. Each opens
// its own port by name, runs its commands and closes the port on every way out.
// The sleeper takes the 50 ms pauses between commands and the protocol's 200 ms
// pauses after a failed attempt; an empty one sleeps in real time.
//
// Each ends with its LinkOutcome: a link or operation code, or the system error of
// the port, told apart by whether the port was open.

// Serial number, model, status, readings and, for firmware 2.0 and later, the
// recorded extremes, written into the labels as they arrive (the extremes with
// the PC's decimal separator). A reply that arrives whole but carries fewer bytes
// than the step decodes ends the operation with LINK_ERR_CRC; a firmware field
// that is not a number, with LINK_ERR_DATA.
LinkOutcome ReadDeviceInformation(const std::string& portName, InfoLabelSink& labels,
                                  const Protocols::Sleeper& sleeper = {},
                                  const OperationHooks& hooks = {});

// The self-test's outcome and, beside it, the mask (bit i set when test i + 1
// failed), which holds only when the outcome is a success.
struct SelfTestOutcome {
    LinkOutcome outcome;
    std::uint8_t mask = 0;
};

// Starts the logger's self-test and waits up to 195 s for it; LINK_ERR_CRC when
// the reply carries no mask byte. A system error, from opening the port or from
// the port lost while the tests run, is returned as such, so the user is told
// which port and why, as at every other step.
SelfTestOutcome RunSelfTestOperation(const std::string& portName,
                                     const Protocols::Sleeper& sleeper = {},
                                     const OperationHooks& hooks = {});

// Memory image 0x000000 to 0x041FFF into fileName, 256-byte block by block, each
// written as it arrives, so the file's offsets are the logger's addresses. The
// file is opened (or created) before the port; OP_ERR_FILE_OPEN leaves the port
// untouched. A failed block ends the dump with the blocks before it on disk; a
// block shorter than 256 bytes is a failure (LINK_ERR_CRC) and is not written.
// A file the dump created itself is removed when the dump ends before its first
// block. A file that held the chosen name before is left byte for byte as it was
// unless the dump completes: the blocks go to a file beside it (DumpRecord's
// partialFile), renamed over it once the last block is on disk and kept under its
// own name when the dump ends early.
LinkOutcome DumpMemory(const std::string& portName, const std::string& fileName,
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
