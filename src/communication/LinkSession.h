#pragma once

#include "communication/Commands.h"
#include "communication/Protocols.h"
#include "communication/serial/SERIAL.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The link of one operation or one button press: a port and a protocol of its
// own, the port closed whatever way the operation leaves. Nothing of the
// connection outlives it.
class LinkSession {
public:
    // Driver queue sizes, each way; the largest frame is 500 bytes.
    static constexpr std::uint32_t QueueSize = 2048;
    // Makes the port of each new link: a plain CSerial unless a test watches the
    // link through a port of its own. Change it only while no link exists.
    static inline std::function<std::unique_ptr<CSerial>()> portFactory;

    explicit LinkSession(const Protocols::Sleeper& sleeper) { protocol.SetSleeper(sleeper); }
    ~LinkSession() { port.Close(); }
    LinkSession(const LinkSession&) = delete;
    LinkSession& operator=(const LinkSession&) = delete;

    std::int32_t Open(const std::string& portName) {
        const std::int32_t result = port.Open(portName.c_str(), QueueSize, QueueSize);
        protocol.TracePortOpened(portName, result);
        return result;
    }
    void Configure(std::int32_t replyTimeout, std::uint8_t attempts) {
        protocol.SetReplyTimeouts(Protocols::DefaultTimeout, replyTimeout);
        protocol.SetRetryCount(attempts);
    }
    // The pause between the end of one transaction and the next command.
    void Pause() const { protocol.Pause(CommandPause); }

private:
    std::unique_ptr<CSerial> ownedPort{portFactory ? portFactory() : std::make_unique<CSerial>()};

public:
    CSerial& port{*ownedPort};
    WSRX_Protocol protocol{WSRX_Protocol::BufferSize, WSRX_Protocol::BufferSize};
};
