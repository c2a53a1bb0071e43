// Framing, validation and retries of the protocol, against a scripted port.

#include "communication/Checksums.h"
#include "communication/Protocols.h"
#include "communication/ResultCodes.h"
#include "support/ScriptedPort.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

Bytes Reply(std::uint8_t acknowledge, const Bytes& payload) {
    Bytes frame(payload.size() + 1);
    frame[0] = acknowledge;
    std::copy(payload.begin(), payload.end(), frame.begin() + 1);
    const std::uint16_t crc = Crc16(frame);
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return frame;
}

const Bytes SerialRequest{0x00, 0x63, 0xFF, 0x02, 0x04, 0x00, 0x24, 0xE5, 0x5D};
const Bytes SerialData{0x02, 0x04, 0x00, 0x24};
constexpr std::uint8_t Complemented = 0x29;
constexpr std::uint8_t Plain = 0xCE;

class ProtocolFraming : public ::testing::Test {
protected:
    ProtocolFraming() {
        protocol.SetSleeper([this](milliseconds pause) { pauses.push_back(pause); });
    }

    std::int32_t ReadSerial() {
        return protocol.Transact(&port, 'c', 0xFF, SerialData, payload, payloadLength);
    }

    ScriptedPort port;
    WSRX_Protocol protocol{500, 500};
    std::vector<milliseconds> pauses;
    std::array<std::uint8_t, 256> payload{};
    std::uint32_t payloadLength = 99;
};

TEST_F(ProtocolFraming, DefaultsOfANewProtocol) {
    EXPECT_TRUE(protocol.SentFrame().empty());
    // Five attempts, each with the 300 ms reply time-out.
    EXPECT_EQ(ReadSerial(), LINK_ERR_TIMEOUT);
    EXPECT_EQ(port.writes.size(), 5u);
    EXPECT_EQ(port.timeouts, std::vector<std::uint32_t>(5, 300));
}

TEST_F(ProtocolFraming, RequestBytesAndEitherAcknowledgeAccepted) {
    for (std::uint8_t acknowledge : {Complemented, Plain}) {
        port.Reply(Reply(acknowledge, {0x12, 0xD6, 0x87}));
        ASSERT_EQ(ReadSerial(), LINK_OK);
        EXPECT_EQ(payloadLength, 3u);
        EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 3), (Bytes{0x12, 0xD6, 0x87}));
    }
    ASSERT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(port.writes[0], SerialRequest);
    EXPECT_EQ(port.timeouts, (std::vector<std::uint32_t>{300, 300}));
    EXPECT_EQ(port.readRequests.front(), 6u);
    EXPECT_TRUE(pauses.empty()) << "no pause after a successful transaction";
}

TEST_F(ProtocolFraming, RequestWithoutDataIsFiveBytes) {
    protocol.SetRetryCount(1);
    std::uint32_t length = 0;
    protocol.Transact(&port, 'e', 0xFF, {}, payload, length);
    ASSERT_EQ(port.writes.size(), 1u);
    const Bytes& frame = port.writes[0];
    ASSERT_EQ(frame.size(), 5u);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 3), (Bytes{0x00, 'e', 0xFF}));
    const std::uint16_t crc = Crc16(std::span(frame).first(3));
    EXPECT_EQ(frame[3], crc >> 8);
    EXPECT_EQ(frame[4], crc & 0xFF);
    EXPECT_EQ(port.readRequests.front(), 22u);
}

TEST_F(ProtocolFraming, AcknowledgeIsCheckedBeforeTheCrc) {
    protocol.SetRetryCount(1);
    port.Reply(Reply(0x55, {1, 2, 3})); // CRC right, acknowledge wrong
    EXPECT_EQ(ReadSerial(), LINK_ERR_ACK);
    Bytes corrupted = Reply(Complemented, {1, 2, 3});
    corrupted.back() ^= 0x01;
    port.Reply(corrupted);
    EXPECT_EQ(ReadSerial(), LINK_ERR_CRC);
    EXPECT_EQ(payloadLength, 0u);
}

TEST_F(ProtocolFraming, ReplyWithoutPayload) {
    std::uint32_t length = 7;
    const std::uint8_t data[] = {0x00, 0x01};
    Bytes request{0x00, 'i', 0xFF, 0x00, 0x01};
    const std::uint16_t crc = Crc16(request);
    request.push_back(static_cast<std::uint8_t>(crc >> 8));
    request.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    port.Reply(Reply(Checksum8(request, true), {}));
    EXPECT_EQ(protocol.Transact(&port, 'i', 0xFF, data, payload, length), LINK_OK);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(protocol.ReceivedFrame().size(), 3u);
}

TEST_F(ProtocolFraming, SplitReplyIsReadWhole) {
    const Bytes reply = Reply(Complemented, {7, 8, 9});
    port.Reply(Bytes(reply.begin(), reply.begin() + 2));
    port.Reply(Bytes(reply.begin() + 2, reply.end()));
    ASSERT_EQ(ReadSerial(), LINK_OK);
    EXPECT_EQ(port.readRequests, (std::vector<std::uint32_t>{6, 4}));
    EXPECT_EQ(payload[2], 9);
}

TEST_F(ProtocolFraming, CutReplyIsValidatedAsReceived) {
    protocol.SetRetryCount(1);
    const Bytes reply = Reply(Complemented, {7, 8, 9});
    port.Reply(Bytes(reply.begin(), reply.begin() + 4)); // then silence
    EXPECT_EQ(ReadSerial(), LINK_ERR_CRC);
    EXPECT_EQ(protocol.ReceivedFrame().size(), 4u);

    // Two bytes or fewer never pass, even when they happen to look like a CRC.
    port.Reply({Complemented});
    EXPECT_EQ(ReadSerial(), LINK_ERR_CRC);
    port.Reply({0x42});
    EXPECT_EQ(ReadSerial(), LINK_ERR_ACK);

    // A port lost after the first bytes is the lost port, not a bad checksum
    // (5: EIO on POSIX, ERROR_ACCESS_DENIED on Windows, both a device gone).
    port.Reply(Bytes(reply.begin(), reply.begin() + 4));
    port.reads.push_back({{}, 5});
    EXPECT_EQ(ReadSerial(), 5);
}

// The user's stop: raised as the request goes out (a port that raises it on
// every write), it lets the request in progress finish but sends no other, and
// ends a long wait (the self-test's) at its next slice.
class StopOnWrite : public ScriptedPort {
public:
    std::atomic<bool> stop{false};
    std::int32_t Write(const void* data, std::uint32_t count, std::uint32_t* written) override {
        stop = true;
        return ScriptedPort::Write(data, count, written);
    }
};

TEST_F(ProtocolFraming, AStopEndsTheTransactionAfterItsRequest) {
    struct Case {
        const char* name;
        std::int32_t replyTimeout;
        bool replies; // the logger answers the first request
        std::int32_t result;
        std::vector<std::uint32_t> timeouts;
    };
    const Case cases[] = {
        {"answered", 300, true, Raw(LINK_OK), {300}},
        {"silent: no second attempt", 300, false, Raw(OP_STOPPED), {300}},
        {"long wait, answered", 195000, true, Raw(LINK_OK), {250}},
        {"long wait, silent: ends at once", 195000, false, Raw(OP_STOPPED), {250}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StopOnWrite stopping;
        protocol.SetStop(&stopping.stop);
        protocol.SetReplyTimeout(c.replyTimeout);
        if (c.replies) {
            stopping.Reply(Reply(Complemented, {1, 2, 3}));
        }
        EXPECT_EQ(protocol.Transact(&stopping, 'c', 0xFF, SerialData, payload, payloadLength),
                  c.result);
        EXPECT_EQ(stopping.writes.size(), 1u);
        EXPECT_EQ(stopping.timeouts, c.timeouts);
        // Raised before a transaction: nothing is sent.
        EXPECT_EQ(protocol.Transact(&stopping, 'c', 0xFF, SerialData, payload, payloadLength),
                  OP_STOPPED);
        EXPECT_EQ(stopping.writes.size(), 1u);
    }
    // Never raised: a long wait is read slice after slice until the reply comes.
    const std::atomic<bool> never{false};
    protocol.SetStop(&never);
    port.Silence();
    port.Silence();
    port.Reply(Reply(Complemented, {1, 2, 3}));
    EXPECT_EQ(ReadSerial(), LINK_OK);
    EXPECT_EQ(port.readRequests.size(), 3u);
}

TEST_F(ProtocolFraming, RetriesWithAPauseAfterEveryFailure) {
    port.Silence();
    port.Reply(Reply(0x55, {1, 2, 3}));
    port.Reply(Reply(Complemented, {1, 2, 3}));
    EXPECT_EQ(ReadSerial(), LINK_OK);
    EXPECT_EQ(port.writes.size(), 3u);
    EXPECT_EQ(pauses, (std::vector<milliseconds>{milliseconds(200), milliseconds(200)}));

    // Every attempt fails: the last failure's code, and a pause after each attempt.
    pauses.clear();
    port.writes.clear();
    port.Reply(Reply(0x55, {1, 2, 3}));
    EXPECT_EQ(ReadSerial(), LINK_ERR_TIMEOUT);
    EXPECT_EQ(port.writes.size(), 5u);
    EXPECT_EQ(pauses.size(), 5u);

    pauses.clear();
    port.writes.clear();
    protocol.SetRetryCount(1);
    EXPECT_EQ(ReadSerial(), LINK_ERR_TIMEOUT);
    EXPECT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(pauses.size(), 1u);
}

TEST_F(ProtocolFraming, FailedWritesAreRetriedAndReported) {
    // A failing write is tried on every attempt; a device that is gone (EIO on POSIX,
    // ERROR_ACCESS_DENIED on Windows: both 5) ends the transaction at once.
    struct Case {
        std::int32_t writeResult;
        std::size_t attempts;
        std::size_t pauses;
    };
    for (const Case& entry : {Case{11, 5, 5}, Case{5, 1, 0}}) {
        port.writes.clear();
        pauses.clear();
        port.writeResult = entry.writeResult;
        EXPECT_EQ(ReadSerial(), entry.writeResult);
        EXPECT_EQ(port.writes.size(), entry.attempts) << entry.writeResult;
        EXPECT_TRUE(port.readRequests.empty());
        EXPECT_EQ(pauses.size(), entry.pauses) << entry.writeResult;
    }
}

TEST_F(ProtocolFraming, RefusedBeforeAnythingIsSent) {
    std::uint32_t length = 0;
    EXPECT_EQ(protocol.Transact(&port, 'Q', 0xFF, {}, payload, length), LINK_ERR_COMMAND);
    EXPECT_EQ(protocol.Transact(&port, '1', 0xFF, {}, payload, length), LINK_ERR_COMMAND);
    // The count-dependent letters need their count byte.
    EXPECT_EQ(protocol.Transact(&port, 'c', 0xFF, {}, payload, length), LINK_ERR_INTERNAL_B);
    // A retry count of 0 would make no attempt; it must not pass for success.
    protocol.SetRetryCount(0);
    EXPECT_EQ(ReadSerial(), LINK_ERR_INTERNAL_B);
    protocol.SetRetryCount(1);
    // Request data beyond the 500-byte frame.
    const std::vector<std::uint8_t> tooMuch(496, 0);
    EXPECT_EQ(protocol.Transact(&port, 'd', 0xFF, tooMuch, payload, length), LINK_ERR_INTERNAL_B);
    // A reply buffer smaller than the payload the command brings.
    std::array<std::uint8_t, 2> small{};
    EXPECT_EQ(protocol.Transact(&port, 'c', 0xFF, SerialData, small, length), LINK_ERR_INTERNAL_B);
    EXPECT_TRUE(port.writes.empty());
    EXPECT_TRUE(pauses.empty());
}

TEST_F(ProtocolFraming, LongestRequestFits) {
    protocol.SetRetryCount(1);
    const std::vector<std::uint8_t> data(495, 0xAB);
    std::uint32_t length = 0;
    protocol.Transact(&port, 'd', 0xFF, data, payload, length);
    ASSERT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(port.writes[0].size(), 500u);
}

TEST_F(ProtocolFraming, NoPortOnEveryAttempt) {
    std::uint32_t length = 0;
    EXPECT_EQ(protocol.Transact(nullptr, 'c', 0xFF, SerialData, payload, length), LINK_ERR_NO_PORT);
    EXPECT_EQ(pauses.size(), 5u);
    EXPECT_TRUE(protocol.SentFrame().empty());
}

TEST_F(ProtocolFraming, CommandsWithoutReplyLengthEndWith280) {
    std::uint32_t length = 0;
    EXPECT_EQ(protocol.Transact(&port, 'W', 0xFF, {}, payload, length), LINK_ERR_NO_REPLY_LEN);
    EXPECT_EQ(port.writes.size(), 5u);
    EXPECT_TRUE(port.readRequests.empty());
}

class VariableReply : public ProtocolFraming {
protected:
    Bytes Acknowledged(const Bytes& payloadBytes) {
        Bytes request{0x00, 'G', 0xFF};
        const std::uint16_t crc = Crc16(request);
        request.push_back(static_cast<std::uint8_t>(crc >> 8));
        request.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        return Reply(Checksum8(request, true), payloadBytes);
    }
};

TEST_F(VariableReply, LengthFollowsTheCountByte) {
    protocol.SetRetryCount(1);
    port.Reply(Acknowledged({2, 1, 2, 3, 4, 5, 6}));
    std::uint32_t length = 0;
    ASSERT_EQ(protocol.Transact(&port, 'G', 0xFF, {}, payload, length), LINK_OK);
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(port.readRequests, (std::vector<std::uint32_t>{2, 8}));
}

TEST_F(VariableReply, CountBeyondTheReceiveBufferIsRefused) {
    protocol.SetRetryCount(1);
    Bytes huge(3 * 166 + 1, 0);
    huge[0] = 166; // 3 * 166 + 4 = 502 bytes: more than the 500-byte buffer
    port.Reply(Acknowledged(huge));
    std::uint32_t length = 0;
    EXPECT_EQ(protocol.Transact(&port, 'G', 0xFF, {}, payload, length), LINK_ERR_CRC);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(port.readRequests, (std::vector<std::uint32_t>{2}));

    // The largest count that fits still works, into a buffer that can hold it.
    port.reads.clear();
    port.readRequests.clear();
    Bytes largest(3 * 165 + 1, 0x5A);
    largest[0] = 165;
    port.Reply(Acknowledged(largest));
    std::vector<std::uint8_t> big(496);
    EXPECT_EQ(protocol.Transact(&port, 'G', 0xFF, {}, big, length), LINK_OK);
    EXPECT_EQ(length, 496u);
    // ... and is refused, not overrun, into one that cannot.
    port.Reply(Acknowledged(largest));
    EXPECT_EQ(protocol.Transact(&port, 'G', 0xFF, {}, payload, length), LINK_ERR_INTERNAL_B);
}

} // namespace
