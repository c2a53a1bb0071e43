#pragma once

#include "communication/Commands.h"
#include "communication/Protocols.h"
#include "communication/ResultCodes.h"
#include "communication/serial/SERIAL.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The link of one operation or one button press: a port and a protocol of its
// own, the port closed whatever way the operation leaves, and the logger's
// commands, one transaction each. Nothing of the connection outlives it.
//
// Every command returns 0, a negative link code, or the positive system error of
// the port; Outcome() makes the caller's LinkOutcome of it.
class LinkSession {
public:
    // Driver queue sizes, each way; the largest frame is 500 bytes.
    static constexpr std::uint32_t QueueSize = 2048;
    // Makes the port of each new link: a plain CSerial unless a test watches the
    // link through a port of its own. Change it only while no link exists.
    static inline std::function<std::unique_ptr<CSerial>()> portFactory;

    explicit LinkSession(const Protocols::Sleeper& sleeper = {}) { protocol.SetSleeper(sleeper); }
    ~LinkSession() { port.Close(); }
    LinkSession(const LinkSession&) = delete;
    LinkSession& operator=(const LinkSession&) = delete;

    std::int32_t Open(const std::string& portName) {
        const std::int32_t result = port.Open(portName.c_str(), QueueSize, QueueSize);
        protocol.TracePortOpened(portName, result);
        opened = result == LINK_OK;
        return result;
    }
    void Close() { port.Close(); }
    LinkOutcome Outcome(std::int32_t result) const { return LinkOutcome::From(result, opened); }

    void Configure(std::int32_t replyTimeout, std::uint8_t attempts) {
        protocol.SetReplyTimeout(replyTimeout);
        protocol.SetRetryCount(attempts);
    }
    void SetReplyTimeout(std::int32_t replyTimeout) { protocol.SetReplyTimeout(replyTimeout); }
    // The user's stop flag (Protocols::SetStop); nullptr: never stopped.
    void SetStop(const std::atomic<bool>* stop) { protocol.SetStop(stop); }
    // The pause between the end of one transaction and the next command.
    void Pause() const { protocol.Pause(CommandPause); }

    // The checked read of a reply whose length the command fixes: one transaction
    // whose step decodes the first `decoded` bytes of the payload. A reply that
    // passed its CRC with fewer (cut short, or an empty payload) is -210, never a
    // success, so no step checks the length itself. received is the payload
    // length the logger sent.
    std::int32_t ReadReply(std::uint8_t command, std::span<const std::uint8_t> data,
                           std::span<std::uint8_t> payload, std::size_t decoded,
                           std::uint32_t& received);

    // ReadMemory: destination.size() bytes (1 to 256) from address on, of which the
    // step decodes the first `decoded` (ReadReply).
    std::int32_t ReadMemory(std::uint32_t address, std::span<std::uint8_t> destination,
                            std::size_t decoded, std::uint32_t& received);
    // ReadMemory for a step that decodes all it asks for.
    std::int32_t ReadMemory(std::uint32_t address, std::span<std::uint8_t> destination);
    // WriteMemory: 1 to 256 bytes to address on.
    std::int32_t WriteMemory(std::uint32_t address, std::span<const std::uint8_t> bytes);
    std::int32_t PrepareBlockWrite();
    // ReadClock: the logger's clock text as received (19 characters when whole).
    std::int32_t ReadClock(std::string& clockText);
    // SetClock: clockText must be the 19 characters "dd/mm/yyyy hh:nn:ss".
    std::int32_t SetClock(std::string_view clockText);
    std::int32_t SetAccessCode(std::uint32_t code);
    // The 48-byte reply texts, as received. The status text is decoded field by
    // field, so an empty one is -210; an empty readings text is left to its step.
    std::int32_t ReadStatusText(std::string& text);
    std::int32_t ReadReadings(std::string& text);
    // RunSelfTest: the mask (bit i set when test i + 1 failed); empty when the reply
    // carried no payload byte. The caller sets the self-test's reply time-out.
    std::int32_t RunSelfTest(std::optional<std::uint8_t>& mask);

    // Block rewrite, the one way the program changes logger memory. With write
    // access already opened by the caller: read the 256-byte block at address, let
    // edit change the copy, pause, send PrepareBlockWrite (900 ms reply time-out),
    // pause, and write the copy back (600 ms reply time-out, left in force for the
    // caller's further commands). A block that does not arrive whole is never
    // edited or written back (-210). edit returns 0 to go on, or a code that ends
    // the sequence before anything more is sent.
    std::int32_t RewriteBlock(std::uint32_t address, const BlockEdit& edit);

private:
    std::int32_t TransactText(std::uint8_t command, std::span<const std::uint8_t> data,
                              std::size_t capacity, std::size_t decoded, std::string& text);
    std::int32_t TransactNoReply(std::uint8_t command, std::span<const std::uint8_t> data);

    std::unique_ptr<CSerial> ownedPort{portFactory ? portFactory() : std::make_unique<CSerial>()};
    CSerial& port{*ownedPort};
    WSRX_Protocol protocol;
    bool opened = false;
};
