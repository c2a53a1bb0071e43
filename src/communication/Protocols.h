#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

class CSerial;

// The two values a reply's first byte may take: the complemented and the plain
// 8-bit sum of the whole request frame.
struct AcknowledgePair {
    std::uint8_t complemented = 0;
    std::uint8_t plain = 0;
};

// Root of the protocol tree: buffers, reply time-out and attempts of one link.
class Protocols {
public:
    using Sleeper = std::function<void(std::chrono::milliseconds)>;

    static constexpr std::int32_t DefaultTimeout = 300; // ms
    // Pause after every failed attempt.
    static constexpr std::chrono::milliseconds RetryPause{200};

    Protocols(std::uint16_t transmitSize, std::uint16_t receiveSize);
    Protocols(const Protocols&) = delete;
    Protocols& operator=(const Protocols&) = delete;
    virtual ~Protocols();

    virtual std::int32_t SendFrame(CSerial* port, std::uint8_t command, std::uint8_t parameter,
                                   std::span<const std::uint8_t> data) = 0;
    // replyLength holds the expected frame length on entry and the payload length on return.
    virtual std::int32_t ReceiveFrame(CSerial* port, AcknowledgePair acknowledge,
                                      std::span<std::uint8_t> reply,
                                      std::uint32_t& replyLength) = 0;
    // One transaction: request, reply, validation, with retries. The payload lands
    // in reply, its length in replyLength.
    virtual std::int32_t Transact(CSerial* port, std::uint8_t command, std::uint8_t parameter,
                                  std::span<const std::uint8_t> data, std::span<std::uint8_t> reply,
                                  std::uint32_t& replyLength) = 0;

    // The read time-out constant applied before every reply.
    void SetReplyTimeout(std::int32_t timeout) { replyTimeout = timeout; }
    // The user's stop: raised from any thread, no further attempt is sent
    // (OP_STOPPED), and a long wait for a reply (a reply time-out above
    // LongReplyTimeout: the self-test's) ends within StopPollTimeout of it.
    // nullptr: never stopped.
    void SetStop(const std::atomic<bool>* flag) { stop = flag; }
    bool StopRaised() const { return stop != nullptr && stop->load(); }
    static constexpr std::int32_t LongReplyTimeout = 1000;
    // The slice a long wait is read in while a stop flag is set, in ms.
    static constexpr std::int32_t StopPollTimeout = 250;
    void SetRetryCount(std::uint8_t count) { retryCount = count; }
    // Names the port in the link trace's lines and traces its opening; nothing
    // when the trace is off.
    void TracePortOpened(const std::string& portName, std::int32_t openResult);

    std::span<const std::uint8_t> SentFrame() const { return {transmitBuffer.get(), sentLength}; }
    std::span<const std::uint8_t> ReceivedFrame() const {
        return {receiveBuffer.get(), receivedLength};
    }

    // The protocol's waits (the pause after a failed attempt, the pauses between
    // commands) go through here, so a test can observe or shorten them.
    void Pause(std::chrono::milliseconds duration) const;
    void SetSleeper(Sleeper sleeper);

protected:
    std::unique_ptr<std::uint8_t[]> transmitBuffer;
    std::unique_ptr<std::uint8_t[]> receiveBuffer;
    std::uint16_t transmitSize = 0;
    std::uint16_t receiveSize = 0;
    std::int32_t replyTimeout = DefaultTimeout;
    std::uint8_t retryCount = 0;
    std::uint16_t sentLength = 0;
    std::uint16_t receivedLength = 0;
    std::uint8_t prefixByte = 0x00;
    Sleeper sleeper;
    std::string tracePort = "-";
    const std::atomic<bool>* stop = nullptr;

    // Whether this reply's wait is read in slices a stop can end.
    bool SlicedWait() const { return stop != nullptr && replyTimeout > LongReplyTimeout; }
};

// The frame checks of the logger family: five attempts unless told otherwise,
// CRC-16/ARC over a frame, and the two acknowledge values a request allows.
class ST_Base_Protocol : public Protocols {
public:
    static constexpr std::uint8_t DefaultRetryCount = 5;

    ST_Base_Protocol(std::uint16_t transmitSize, std::uint16_t receiveSize);

    static std::uint16_t FrameCrc(std::span<const std::uint8_t> bytes);
    static AcknowledgePair Acknowledge(std::span<const std::uint8_t> request);
};

// The logger's protocol. Request: 00, command letter, parameter byte, data, CRC-16
// (high byte first). Reply: acknowledge byte, payload, CRC-16 over both.
class WSRX_Protocol final : public ST_Base_Protocol {
public:
    // Every user builds the protocol with 500-byte buffers each way.
    static constexpr std::uint16_t BufferSize = 500;
    // Prefix, command, parameter and the two CRC bytes.
    static constexpr std::uint16_t FrameOverhead = 5;
    static constexpr std::uint16_t MaxDataLength = BufferSize - FrameOverhead;

    WSRX_Protocol(std::uint16_t transmitSize = BufferSize, std::uint16_t receiveSize = BufferSize);

    std::int32_t SendFrame(CSerial* port, std::uint8_t command, std::uint8_t parameter,
                           std::span<const std::uint8_t> data) override;
    std::int32_t ReceiveFrame(CSerial* port, AcknowledgePair acknowledge,
                              std::span<std::uint8_t> reply, std::uint32_t& replyLength) override;
    std::int32_t Transact(CSerial* port, std::uint8_t command, std::uint8_t parameter,
                          std::span<const std::uint8_t> data, std::span<std::uint8_t> reply,
                          std::uint32_t& replyLength) override;

private:
    // The trace line of one attempt's reply: the bytes received, or a time-out.
    void TraceReply(std::uint32_t expectedLength, int attempt, std::int32_t result) const;
    // Reads the first bytes of a reply under a wait longer than LongReplyTimeout in
    // slices, so that the stop flag ends it: -200 at the reply time-out, OP_STOPPED
    // when stopped, else what the read returned.
    std::int32_t ReadFirstBytes(CSerial* port, std::uint32_t count, std::uint32_t& got);
    std::int32_t ValidateReply(std::uint32_t length, AcknowledgePair acknowledge,
                               std::span<std::uint8_t> reply, std::uint32_t& replyLength);
};
