// Transactions over a real pseudo-terminal against the simulated logger.

#include "communication/Commands.h"
#include "communication/ResultCodes.h"
#include "support/LoggerFixture.h"

#include <array>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

constexpr milliseconds Slack{500};

milliseconds Between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<milliseconds>(to - from);
}

class Transaction : public LoggerFixture {
protected:
    std::int32_t ReadSerial() {
        return ReadMemory(protocol, port, SerialNumberAddress, serial, received);
    }

    std::array<std::uint8_t, 3> serial{};
    std::uint32_t received = 0;
};

TEST_F(Transaction, ReadMemoryPutsTheExactRequestOnTheWire) {
    ASSERT_EQ(ReadSerial(), LINK_OK);
    EXPECT_EQ(received, 3u);
    EXPECT_EQ(serial, (std::array<std::uint8_t, 3>{0x12, 0xD6, 0x87})); // 1234567
    const auto requests = logger.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].frame, (Bytes{0x00, 0x63, 0xFF, 0x02, 0x04, 0x00, 0x24, 0xE5, 0x5D}));
    EXPECT_EQ(protocol.ReceivedFrame().front(), 0x29);
}

TEST_F(Transaction, PlainAcknowledgeIsAcceptedToo) {
    logger.SetAcknowledgeComplemented(false);
    ASSERT_EQ(ReadSerial(), LINK_OK);
    EXPECT_EQ(protocol.ReceivedFrame().front(), 0xCE);
}

TEST_F(Transaction, SilentLoggerUsesEveryAttemptWithItsPauses) {
    // L = 6 reply bytes, R = 100 ms: each attempt waits L + R, then pauses 200 ms.
    protocol.SetReplyTimeouts(300, 100);
    logger.InjectFault(FaultOf(sim::FaultKind::Silence, sim::EveryRequest));
    const auto start = Clock::now();
    EXPECT_EQ(ReadSerial(), LINK_ERR_TIMEOUT);
    const milliseconds elapsed = Between(start, Clock::now());
    EXPECT_EQ(received, 0u);
    EXPECT_GE(elapsed, milliseconds(5 * (6 + 100 + 200)));
    EXPECT_LT(elapsed, milliseconds(5 * (6 + 100 + 200)) + Slack);

    const auto requests = logger.Requests();
    ASSERT_EQ(requests.size(), 5u);
    for (std::size_t i = 1; i < requests.size(); ++i) {
        EXPECT_GE(Between(requests[i - 1].lastByte, requests[i].firstByte), milliseconds(300));
        EXPECT_EQ(requests[i].frame, requests[0].frame);
    }
}

TEST_F(Transaction, OneAttemptMeansOneRequest) {
    protocol.SetRetryCount(1);
    protocol.SetReplyTimeouts(300, 50);
    logger.InjectFault(FaultOf(sim::FaultKind::Silence, sim::EveryRequest));
    const auto start = Clock::now();
    EXPECT_EQ(ReadSerial(), LINK_ERR_TIMEOUT);
    EXPECT_GE(Between(start, Clock::now()), milliseconds(6 + 50 + 200));
    EXPECT_EQ(logger.Requests().size(), 1u);
}

TEST_F(Transaction, RecoversOnALaterAttempt) {
    protocol.SetReplyTimeouts(300, 50);
    logger.InjectFault(FaultOf(sim::FaultKind::Silence, 2));
    EXPECT_EQ(ReadSerial(), LINK_OK);
    EXPECT_EQ(logger.Requests().size(), 3u);
}

TEST_F(Transaction, FaultsReportTheirOwnCodes) {
    protocol.SetRetryCount(1);
    protocol.SetReplyTimeouts(300, 50);

    logger.InjectFault(FaultOf(sim::FaultKind::WrongAcknowledge));
    EXPECT_EQ(ReadSerial(), LINK_ERR_ACK);

    logger.InjectFault(FaultOf(sim::FaultKind::BadCrc));
    EXPECT_EQ(ReadSerial(), LINK_ERR_CRC);

    sim::Fault cut = FaultOf(sim::FaultKind::CutShort);
    cut.bytes = 4;
    logger.InjectFault(cut);
    EXPECT_EQ(ReadSerial(), LINK_ERR_CRC);
    EXPECT_EQ(protocol.ReceivedLength(), 4);

    logger.InjectFault(FaultOf(sim::FaultKind::Garbage));
    EXPECT_LT(ReadSerial(), 0);

    // An empty payload is a valid frame; judging it is the caller's business.
    logger.InjectFault(FaultOf(sim::FaultKind::EmptyPayload));
    EXPECT_EQ(ReadSerial(), LINK_OK);
    EXPECT_EQ(received, 0u);

    EXPECT_EQ(ReadSerial(), LINK_OK);
    EXPECT_EQ(received, 3u);
}

TEST_F(Transaction, ReplyInTwoPiecesIsReadWhole) {
    // The first read ends at the 100 ms gap; the second picks up the rest.
    sim::Fault split = FaultOf(sim::FaultKind::Split);
    split.bytes = 2;
    split.gap = milliseconds(150);
    logger.InjectFault(split);
    protocol.SetRetryCount(1);
    EXPECT_EQ(ReadSerial(), LINK_OK);
    EXPECT_EQ(received, 3u);
}

TEST_F(Transaction, InvalidLetterSendsNothing) {
    std::array<std::uint8_t, 8> reply{};
    std::uint32_t length = 0;
    EXPECT_EQ(protocol.Transact(&port, 'Q', 0xFF, {}, reply, length), LINK_ERR_COMMAND);
    // A probe afterwards is the first request the logger sees.
    ASSERT_EQ(ReadSerial(), LINK_OK);
    const auto requests = logger.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Letter(), 'c');
    EXPECT_EQ(logger.DiscardedFrames(), 0u);
}

TEST_F(Transaction, VanishingPortEndsTheTransactionWithASystemError) {
    protocol.SetReplyTimeouts(300, 5000);
    logger.InjectFault(FaultOf(sim::FaultKind::Vanish));
    const auto start = Clock::now();
    EXPECT_GT(ReadSerial(), 0);
    // Five attempts that each fail at once: only the 200 ms pauses remain.
    EXPECT_LT(Between(start, Clock::now()), milliseconds(5 * 200) + Slack);
}

} // namespace
