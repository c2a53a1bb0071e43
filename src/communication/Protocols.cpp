#include "communication/Protocols.h"

#include "communication/Checksums.h"
#include "communication/LinkTrace.h"
#include "communication/ReplyLength.h"
#include "communication/ResultCodes.h"
#include "communication/serial/DeviceLoss.h"
#include "communication/serial/SERIAL.h"

#include <thread>

Protocols::Protocols(std::uint16_t transmitBytes, std::uint16_t receiveBytes) {
    if (transmitBytes > 0) {
        transmitBuffer = std::make_unique<std::uint8_t[]>(transmitBytes);
        transmitSize = transmitBytes;
    }
    if (receiveBytes > 0) {
        receiveBuffer = std::make_unique<std::uint8_t[]>(receiveBytes);
        receiveSize = receiveBytes;
    }
}

Protocols::~Protocols() = default;

void Protocols::TracePortOpened(const std::string& portName, std::int32_t openResult) {
    if (link_trace::Active()) {
        tracePort = portName;
        link_trace::Opened(tracePort, openResult);
    }
}

void Protocols::Pause(std::chrono::milliseconds duration) const {
    if (sleeper) {
        sleeper(duration);
    } else {
        std::this_thread::sleep_for(duration);
    }
}

void Protocols::SetSleeper(Sleeper replacement) {
    sleeper = std::move(replacement);
}

ST_Base_Protocol::ST_Base_Protocol(std::uint16_t transmitBytes, std::uint16_t receiveBytes)
    : Protocols(transmitBytes, receiveBytes) {
    retryCount = DefaultRetryCount;
}

std::uint16_t ST_Base_Protocol::FrameCrc(std::span<const std::uint8_t> bytes) {
    return Crc16(bytes);
}

AcknowledgePair ST_Base_Protocol::Acknowledge(std::span<const std::uint8_t> request) {
    return {Checksum8(request, true), Checksum8(request, false)};
}

WSRX_Protocol::WSRX_Protocol(std::uint16_t transmitBytes, std::uint16_t receiveBytes)
    : ST_Base_Protocol(transmitBytes, receiveBytes) {}

std::int32_t WSRX_Protocol::SendFrame(CSerial* port, std::uint8_t command, std::uint8_t parameter,
                                      std::span<const std::uint8_t> data) {
    sentLength = 0;
    if (port == nullptr) {
        return Raw(LINK_ERR_NO_PORT);
    }
    port->Purge();
    if (link_trace::Active()) {
        link_trace::Purged(tracePort);
    }
    if (!IsCommandLetter(command)) {
        return Raw(LINK_ERR_COMMAND);
    }
    const std::size_t frameLength = data.size() + FrameOverhead;
    if (frameLength > transmitSize) {
        return Raw(LINK_ERR_INTERNAL_B); // would overrun the transmit buffer
    }
    std::uint8_t* frame = transmitBuffer.get();
    frame[0] = prefixByte;
    frame[1] = command;
    frame[2] = parameter;
    std::copy(data.begin(), data.end(), frame + 3);
    const std::uint16_t crc = FrameCrc({frame, data.size() + 3});
    frame[data.size() + 3] = static_cast<std::uint8_t>(crc >> 8);
    frame[data.size() + 4] = static_cast<std::uint8_t>(crc & 0xFF);
    sentLength = static_cast<std::uint16_t>(frameLength);
    std::uint32_t written = 0;
    const std::int32_t result = port->Write(frame, sentLength, &written);
    if (link_trace::Active()) {
        link_trace::Sent(tracePort, SentFrame(), result);
    }
    return result;
}

std::int32_t WSRX_Protocol::ReceiveFrame(CSerial* port, AcknowledgePair acknowledge,
                                         std::span<std::uint8_t> reply,
                                         std::uint32_t& replyLength) {
    receivedLength = 0;
    std::uint32_t expected = replyLength;
    const bool variable = expected == 2;
    if (expected == 0) {
        return Raw(LINK_ERR_NO_REPLY_LEN);
    }
    if (port == nullptr) {
        replyLength = 0;
        return Raw(LINK_ERR_NO_PORT);
    }
    if (expected > receiveSize) {
        replyLength = 0;
        return Raw(LINK_ERR_INTERNAL_B);
    }
    std::uint32_t total = 0;
    while (total < expected) {
        std::uint32_t got = 0;
        const std::int32_t result =
            total == 0 && SlicedWait()
                ? ReadFirstBytes(port, expected, got)
                : port->Read(receiveBuffer.get() + total, expected - total, &got);
        if (result != 0) {
            // A port lost in the middle of a reply is a lost port, not a bad
            // checksum over the bytes that came before.
            if (total > 0 && result < 0) {
                // A reply cut short: validate what came, which the CRC will normally refuse.
                receivedLength = static_cast<std::uint16_t>(total);
                return ValidateReply(total, acknowledge, reply, replyLength);
            }
            replyLength = 0;
            return result;
        }
        total += got;
        if (variable && expected == 2 && total >= 2) {
            expected = VariableReplyFrameLength(receiveBuffer[1]);
            if (expected > receiveSize) {
                // The count would overrun the receive buffer: a corrupted reply.
                receivedLength = static_cast<std::uint16_t>(total);
                replyLength = 0;
                return Raw(LINK_ERR_CRC);
            }
        }
    }
    receivedLength = static_cast<std::uint16_t>(expected);
    return ValidateReply(expected, acknowledge, reply, replyLength);
}

std::int32_t WSRX_Protocol::ReadFirstBytes(CSerial* port, std::uint32_t count, std::uint32_t& got) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(count + replyTimeout);
    while (true) {
        got = 0;
        const std::int32_t result = port->Read(receiveBuffer.get(), count, &got);
        if (result != LINK_ERR_TIMEOUT) {
            return result;
        }
        if (StopRaised()) {
            return Raw(OP_STOPPED);
        }
        if (Clock::now() >= deadline) {
            return result;
        }
    }
}

std::int32_t WSRX_Protocol::ValidateReply(std::uint32_t length, AcknowledgePair acknowledge,
                                          std::span<std::uint8_t> reply,
                                          std::uint32_t& replyLength) {
    replyLength = 0;
    const std::uint8_t* frame = receiveBuffer.get();
    if (frame[0] != acknowledge.complemented && frame[0] != acknowledge.plain) {
        return Raw(LINK_ERR_ACK);
    }
    // A frame of two bytes or fewer carries no CRC and never matches.
    if (length <= 2) {
        return Raw(LINK_ERR_CRC);
    }
    const std::uint16_t received =
        static_cast<std::uint16_t>((frame[length - 2] << 8) | frame[length - 1]);
    if (FrameCrc({frame, length - 2}) != received) {
        return Raw(LINK_ERR_CRC);
    }
    const std::uint32_t payload = length - 3;
    if (payload > reply.size()) {
        return Raw(LINK_ERR_INTERNAL_B); // the caller's buffer cannot hold this payload
    }
    std::copy(frame + 1, frame + 1 + payload, reply.begin());
    replyLength = payload;
    return Raw(LINK_OK);
}

std::int32_t WSRX_Protocol::Transact(CSerial* port, std::uint8_t command, std::uint8_t parameter,
                                     std::span<const std::uint8_t> data,
                                     std::span<std::uint8_t> reply, std::uint32_t& replyLength) {
    replyLength = 0;
    const std::optional<ReplyLength> expected = ExpectedReplyLength(command, data);
    if (!expected) {
        return Raw(LINK_ERR_COMMAND);
    }
    // Refusals that would otherwise overrun a buffer or report success for a
    // transaction that never happened.
    if (expected->kind == ReplyLength::Kind::MissingCount || retryCount == 0 ||
        data.size() > std::size_t{transmitSize} - FrameOverhead ||
        (expected->kind == ReplyLength::Kind::Fixed &&
         (expected->frameLength > receiveSize || expected->frameLength - 3u > reply.size()))) {
        return Raw(LINK_ERR_INTERNAL_B);
    }
    std::int32_t result = Raw(LINK_OK);
    for (int attempt = 0; attempt < retryCount; ++attempt) {
        // A stop ends the transaction before its next request, never in the middle of one.
        if (StopRaised()) {
            return Raw(OP_STOPPED);
        }
        result = SendFrame(port, command, parameter, data);
        if (result == LINK_OK) {
            const std::span<const std::uint8_t> request = SentFrame();
            const AcknowledgePair acknowledge = Acknowledge(request);
            // A long wait that a stop may end is read in slices (ReadFirstBytes).
            port->SetTimeouts(
                static_cast<std::uint32_t>(SlicedWait() ? StopPollTimeout : replyTimeout));
            replyLength = expected->frameLength;
            result = ReceiveFrame(port, acknowledge, reply, replyLength);
            if (link_trace::Active()) {
                TraceReply(expected->frameLength, attempt + 1, result);
            }
            if (result == LINK_OK || result == OP_STOPPED) {
                return result;
            }
        }
        // A device that has gone away answers no further attempt.
        if (device_loss::IsDeviceLost(result)) {
            return result;
        }
        if (StopRaised()) {
            return Raw(OP_STOPPED);
        }
        Pause(RetryPause);
    }
    return result;
}

void WSRX_Protocol::TraceReply(std::uint32_t expectedLength, int attempt,
                               std::int32_t result) const {
    if (result == LINK_ERR_TIMEOUT && receivedLength == 0) {
        const std::uint32_t limit = expectedLength + static_cast<std::uint32_t>(replyTimeout);
        link_trace::TimedOut(tracePort, limit, attempt, retryCount, result);
    } else {
        link_trace::Received(tracePort, ReceivedFrame(), attempt, retryCount, result);
    }
}
