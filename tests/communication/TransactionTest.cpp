// Transactions over a real pseudo-terminal against the simulated logger.

#include "communication/Checksums.h"
#include "communication/Commands.h"
#include "communication/ResultCodes.h"
#include "support/LoggerFixture.h"
#include "support/PtyPair.h"

#include <array>
#include <chrono>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

constexpr milliseconds Slack{500};
// ReadMemory of the serial number: N = 2, address 0x040024.
constexpr std::uint8_t SerialRequest[] = {2, 0x04, 0x00, 0x24};

milliseconds Between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<milliseconds>(to - from);
}

class Transaction : public LoggerFixture {
protected:
    std::int32_t ReadSerial() {
        return protocol.Transact(&port, command_letter::ReadMemory, ParameterByte, SerialRequest,
                                 serial, received);
    }

    std::array<std::uint8_t, 3> serial{};
    std::uint32_t received = 0;
};

TEST_F(Transaction, ReadMemoryPutsTheExactRequestOnTheWire) {
    ASSERT_EQ(ReadSerial(), LINK_OK);
    EXPECT_EQ(received, 3u);
    EXPECT_EQ(serial, (std::array<std::uint8_t, 3>{0x12, 0xD6, 0x87})); // 1234567
    const auto transactions = Transactions(logger);
    ASSERT_EQ(transactions.size(), 1u);
    EXPECT_EQ(transactions[0].request.frame,
              (Bytes{0x00, 0x63, 0xFF, 0x02, 0x04, 0x00, 0x24, 0xE5, 0x5D}));
    EXPECT_EQ(protocol.ReceivedFrame().front(), 0x29);
}

TEST_F(Transaction, PlainAcknowledgeIsAcceptedToo) {
    logger.SetAcknowledgeComplemented(false);
    ASSERT_EQ(ReadSerial(), LINK_OK);
    EXPECT_EQ(protocol.ReceivedFrame().front(), 0xCE);
}

TEST_F(Transaction, SilentLoggerUsesEveryAttemptWithItsPauses) {
    // L = 6 reply bytes, R = 100 ms: each attempt waits L + R, then pauses 200 ms.
    // The waits are measured on the program's side: the logger's own clock of
    // arrivals runs late by however long a loaded machine keeps its thread waiting.
    protocol.SetReplyTimeout(100);
    std::vector<Clock::time_point> pauses;
    protocol.SetSleeper([&](milliseconds duration) {
        pauses.push_back(Clock::now());
        EXPECT_EQ(duration, Protocols::RetryPause);
        std::this_thread::sleep_for(duration);
    });
    logger.InjectFault(FaultOf(sim::FaultKind::Silence, sim::EveryRequest));
    const auto start = Clock::now();
    EXPECT_EQ(ReadSerial(), LINK_ERR_TIMEOUT);
    const milliseconds elapsed = Between(start, Clock::now());
    EXPECT_EQ(received, 0u);
    EXPECT_GE(elapsed, milliseconds(5 * (6 + 100 + 200)));
    EXPECT_LT(elapsed, milliseconds(5 * (6 + 100 + 200)) + Slack);
    ASSERT_EQ(pauses.size(), 5u);
    for (std::size_t i = 0; i < pauses.size(); ++i) {
        EXPECT_GE(Between(i == 0 ? start : pauses[i - 1], pauses[i]),
                  milliseconds(6 + 100 + (i == 0 ? 0 : 200)))
            << "attempt " << i + 1;
    }

    const auto requests = logger.Requests();
    ASSERT_EQ(requests.size(), 5u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.frame, requests[0].frame);
    }
}

TEST_F(Transaction, OneAttemptMeansOneRequest) {
    protocol.SetRetryCount(1);
    protocol.SetReplyTimeout(50);
    logger.InjectFault(FaultOf(sim::FaultKind::Silence, sim::EveryRequest));
    const auto start = Clock::now();
    EXPECT_EQ(ReadSerial(), LINK_ERR_TIMEOUT);
    EXPECT_GE(Between(start, Clock::now()), milliseconds(6 + 50 + 200));
    EXPECT_EQ(logger.Requests().size(), 1u);
}

TEST_F(Transaction, RecoversOnALaterAttempt) {
    protocol.SetReplyTimeout(50);
    logger.InjectFault(FaultOf(sim::FaultKind::Silence, 2));
    EXPECT_EQ(ReadSerial(), LINK_OK);
    // Three, or more when a loaded machine delays the answered reply past 50 ms.
    EXPECT_GE(logger.Requests().size(), 3u);
}

TEST_F(Transaction, FaultsReportTheirOwnCodes) {
    protocol.SetRetryCount(1);
    protocol.SetReplyTimeout(50);

    logger.InjectFault(FaultOf(sim::FaultKind::WrongAcknowledge));
    EXPECT_EQ(ReadSerial(), LINK_ERR_ACK);

    logger.InjectFault(FaultOf(sim::FaultKind::BadCrc));
    EXPECT_EQ(ReadSerial(), LINK_ERR_CRC);

    sim::Fault cut = FaultOf(sim::FaultKind::CutShort);
    cut.bytes = 4;
    logger.InjectFault(cut);
    EXPECT_EQ(ReadSerial(), LINK_ERR_CRC);
    EXPECT_EQ(protocol.ReceivedFrame().size(), 4u);

    logger.InjectFault(FaultOf(sim::FaultKind::Garbage));
    EXPECT_LT(ReadSerial(), 0);

    // An empty payload is a valid frame to the link; the checked read refuses it.
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
    EXPECT_EQ(TransactionLetters(logger), "c");
    EXPECT_EQ(logger.DiscardedFrames(), 0u);
}

TEST_F(Transaction, VanishingPortEndsTheTransactionWithASystemError) {
    protocol.SetReplyTimeout(5000);
    logger.InjectFault(FaultOf(sim::FaultKind::Vanish));
    const auto start = Clock::now();
    EXPECT_GT(ReadSerial(), 0);
    // Five attempts that each fail at once: only the 200 ms pauses remain.
    EXPECT_LT(Between(start, Clock::now()), milliseconds(5 * 200) + Slack);
}

// The logger's reply to a request: the complemented acknowledge byte, the payload
// and the CRC.
Bytes ReplyTo(const Bytes& request, const Bytes& payload) {
    // Built by push_back: GCC 12 misreads vector::insert here at -O2 (-Warray-bounds).
    Bytes reply;
    reply.reserve(payload.size() + 3);
    reply.push_back(Checksum8(request, true));
    for (const std::uint8_t byte : payload) {
        reply.push_back(byte);
    }
    const std::uint16_t crc = Crc16(reply);
    reply.push_back(static_cast<std::uint8_t>(crc >> 8));
    reply.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return reply;
}

// A reply that comes after its attempt has timed out waits on the line. It answers
// the same request, so it would pass every check of the next transaction's reply:
// only the purge before each attempt keeps it from being taken for that reply.
TEST(TransactionLine, ALateReplyIsPurgedBeforeTheNextTransaction) {
    PtyPair device;
    ASSERT_TRUE(device.Ready());
    // A second descriptor on the terminal, to see the late bytes arrive in its input queue.
    const int probe = open(device.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(probe, 0);
    CSerial port;
    ASSERT_EQ(port.Open(device.PortName().c_str(), 2048, 2048), 0);
    WSRX_Protocol protocol;
    protocol.SetRetryCount(1);
    protocol.SetReplyTimeout(50);
    protocol.SetSleeper([](milliseconds) {});
    std::array<std::uint8_t, 3> serial{};
    std::uint32_t received = 0;
    const auto readSerial = [&] {
        return protocol.Transact(&port, command_letter::ReadMemory, ParameterByte, SerialRequest,
                                 serial, received);
    };

    EXPECT_EQ(readSerial(), LINK_ERR_TIMEOUT);
    const Bytes request = device.Receive(1000);
    ASSERT_EQ(request.size(), 9u);
    const Bytes late = ReplyTo(request, {0x0A, 0x0B, 0x0C});
    device.Send(late);
    int queued = 0;
    for (const auto until = Clock::now() + milliseconds(2000);
         queued < static_cast<int>(late.size()) && Clock::now() < until;
         std::this_thread::sleep_for(milliseconds(1))) {
        ASSERT_EQ(ioctl(probe, TIOCINQ, &queued), 0);
    }
    ASSERT_EQ(queued, static_cast<int>(late.size()));

    std::thread logger([&] {
        const Bytes again = device.Receive(2000);
        device.Send(ReplyTo(again, {0x01, 0x02, 0x03}));
    });
    EXPECT_EQ(readSerial(), LINK_OK);
    logger.join();
    EXPECT_EQ(serial, (std::array<std::uint8_t, 3>{0x01, 0x02, 0x03}));
    close(probe);
}

} // namespace
