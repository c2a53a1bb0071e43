// The simulated logger, driven through a raw descriptor on its pseudo-terminal the
// way the program's serial port would drive a real logger.

#include "SimulatedLogger.h"

#include "communication/Checksums.h"
#include "communication/Encodings.h"
#include "communication/serial/VirtualPorts.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <set>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;

constexpr auto ReplyWait = 2000ms;

Bytes Request(std::uint8_t letter, const Bytes& data = {}) {
    Bytes frame{0x00, letter, 0xFF};
    frame.insert(frame.end(), data.begin(), data.end());
    const std::uint16_t crc = Crc16(frame);
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    frame.push_back(static_cast<std::uint8_t>(crc));
    return frame;
}

Bytes ReadMemoryRequest(std::uint32_t address, std::uint8_t count) {
    return Request('c',
                   {count, static_cast<std::uint8_t>(address >> 16),
                    static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)});
}

Bytes AccessRequest(std::uint32_t code) {
    Bytes data(4);
    WriteBigEndian(data, code);
    return Request('y', data);
}

bool CrcValid(const Bytes& reply) {
    if (reply.size() < 3) {
        return false;
    }
    const std::span<const std::uint8_t> body(reply.data(), reply.size() - 2);
    return Crc16(body) == ((reply[reply.size() - 2] << 8) | reply.back());
}

Bytes PayloadOf(const Bytes& reply) {
    return Bytes(reply.begin() + 1, reply.end() - 2);
}

// The program's end of the line: a raw, non-blocking descriptor on the slave.
class Line {
public:
    explicit Line(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        termios settings{};
        if (fd_.IsOpen() && ::tcgetattr(fd_.Get(), &settings) == 0) {
            ::cfmakeraw(&settings);
            ::tcsetattr(fd_.Get(), TCSANOW, &settings);
            ::tcflush(fd_.Get(), TCIOFLUSH);
        }
    }
    bool IsOpen() const { return fd_.IsOpen(); }

    void Send(const Bytes& bytes) {
        ASSERT_EQ(::write(fd_.Get(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }

    // Up to n bytes, whatever has come when the time-out runs out.
    Bytes Read(std::size_t n, std::chrono::milliseconds timeout = ReplyWait) {
        Bytes bytes;
        const auto deadline = SteadyClock::now() + timeout;
        while (bytes.size() < n) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
            pollfd fd{fd_.Get(), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0 ||
                (fd.revents & POLLIN) == 0) {
                break;
            }
            std::uint8_t buffer[512];
            const auto count = ::read(fd_.Get(), buffer, std::min(n - bytes.size(), sizeof buffer));
            if (count <= 0) {
                break;
            }
            bytes.insert(bytes.end(), buffer, buffer + count);
        }
        return bytes;
    }

    Bytes Transact(const Bytes& request, std::size_t replyLength) {
        Send(request);
        return Read(replyLength);
    }

    // Proves that nothing else was sent before it: the logger answers in order, so
    // the next bytes on the line must be the reply to an access-code request.
    void ExpectNothingBeforeProbe() {
        const Bytes probe = AccessRequest(0x12345678);
        Send(probe);
        const Bytes reply = Read(4);
        ASSERT_EQ(reply.size(), 4u);
        EXPECT_EQ(reply[0], Checksum8(probe, true)) << "bytes arrived ahead of the probe's reply";
        EXPECT_TRUE(CrcValid(reply));
    }

    // True when the line reports a hang-up within the time-out.
    bool SeesHangUp(std::chrono::milliseconds timeout) {
        pollfd fd{fd_.Get(), POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) {
            return false;
        }
        std::uint8_t byte = 0;
        return (fd.revents & POLLHUP) != 0 || ::read(fd_.Get(), &byte, 1) <= 0;
    }

private:
    sim::UniqueFd fd_;
};

class SimulatedLoggerTest : public ::testing::Test {
protected:
    void SetUp() override { Begin({}); }

    void Begin(sim::LoggerConfig config) {
        line_.reset();
        logger_ = std::make_unique<sim::SimulatedLogger>(std::move(config));
        ASSERT_EQ(logger_->Start(), 0);
        line_ = std::make_unique<Line>(logger_->SlavePath());
        ASSERT_TRUE(line_->IsOpen());
    }

    void OpenWriteAccess() {
        ASSERT_EQ(line_->Transact(AccessRequest(WriteAccess), 4).size(), 4u);
        ASSERT_TRUE(logger_->WriteAccessOpen());
    }

    static constexpr std::uint32_t WriteAccess = 0x6C2B19D4;
    std::unique_ptr<sim::SimulatedLogger> logger_;
    std::unique_ptr<Line> line_;
};

// ---------------------------------------------------------------------------
// Framing

TEST_F(SimulatedLoggerTest, ReplyLengthsAcknowledgeAndCrcFollowTheReplyLengthTable) {
    OpenWriteAccess();
    const Bytes writeData{0x01, 0x00, 0x01, 0x00, 0xAA, 0xBB};
    const std::string clockText = FormatClockText({2006, 11, 17, 14, 3, 22});
    const struct {
        Bytes request;
        std::size_t length;
    } cases[] = {
        {ReadMemoryRequest(0x000000, 0), 4},
        {ReadMemoryRequest(0x000100, 255), 259},
        {Request('k', {'/'}), 51},
        {Request('a', {'/'}), 51},
        {Request('k', {0x07}), 11},
        {Request('e'), 22},
        {Request('d', writeData), 3},
        {Request('i', {0x00, 0x01}), 3},
        {Request('f', Bytes(clockText.begin(), clockText.end())), 3},
        {AccessRequest(WriteAccess), 4},
        {Request('z', {0xFF}), 4},
        {Request('z', {0x00}), 4},
        {Request('z', {0x10}), 11},
        {Request('z', {0x01}), 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "letter " << char(c.request[1]));
        const Bytes reply = line_->Transact(c.request, c.length);
        ASSERT_EQ(reply.size(), c.length);
        EXPECT_EQ(reply[0], Checksum8(c.request, true));
        EXPECT_TRUE(CrcValid(reply));
    }
    line_->ExpectNothingBeforeProbe();
}

TEST_F(SimulatedLoggerTest, AcknowledgesWithEitherSumOfTheWorkedExample) {
    const Bytes request = ReadMemoryRequest(0x040024, 2);
    ASSERT_EQ(request, (Bytes{0x00, 0x63, 0xFF, 0x02, 0x04, 0x00, 0x24, 0xE5, 0x5D}));
    EXPECT_EQ(line_->Transact(request, 6).at(0), 0x29);
    logger_->SetAcknowledgeComplemented(false);
    const Bytes plain = line_->Transact(request, 6);
    EXPECT_EQ(plain.at(0), 0xCE);
    EXPECT_TRUE(CrcValid(plain));
}

TEST_F(SimulatedLoggerTest, BadCrcAndUnknownLettersGetNoReply) {
    Bytes corrupt = Request('e');
    corrupt.back() ^= 0x01;
    line_->Send(corrupt);
    // The frame length is known, so the next request is read straight after it.
    line_->ExpectNothingBeforeProbe();
    EXPECT_EQ(logger_->DiscardedFrames(), 1u);

    line_->Send(Request('Q'));
    ASSERT_TRUE(logger_->WaitForDiscardedFrames(2, ReplyWait));
    line_->ExpectNothingBeforeProbe();
    EXPECT_EQ(logger_->Requests().size(), 2u); // the probes only
}

TEST_F(SimulatedLoggerTest, ResynchronisesAfterGarbageOrAPartialFrameAndSilence) {
    const Bytes request = ReadMemoryRequest(0x040024, 2);
    // A frame cut off after four bytes would swallow the first bytes of the next
    // request if the silence did not reset the reader.
    line_->Send(Bytes(request.begin(), request.begin() + 4));
    ASSERT_TRUE(logger_->WaitForDiscardedFrames(1, ReplyWait));
    EXPECT_EQ(PayloadOf(line_->Transact(request, 6)), (Bytes{0x12, 0xD6, 0x87}));

    line_->Send({0x55, 0x00, 0x63, 0x13, 0x00});
    ASSERT_TRUE(logger_->WaitForDiscardedFrames(2, ReplyWait));
    EXPECT_EQ(PayloadOf(line_->Transact(request, 6)), (Bytes{0x12, 0xD6, 0x87}));
}

// ---------------------------------------------------------------------------
// Memory, texts, clock, self-test

TEST_F(SimulatedLoggerTest, IdentityAndExtremesSitAtTheirAddresses) {
    sim::LoggerConfig config;
    config.serialNumber = 123456;
    config.model = "M10";
    config.extremes.minTemperature = PackDecimal(1, 125, false);
    config.extremes.elapsedTime = 0x0A0B0C;
    Begin(config);

    EXPECT_EQ(PayloadOf(line_->Transact(ReadMemoryRequest(0x040024, 2), 6)),
              (Bytes{0x01, 0xE2, 0x40}));
    EXPECT_EQ(PayloadOf(line_->Transact(ReadMemoryRequest(0x04002A, 7), 11)),
              (Bytes{'M', '1', '0', 0, 0, 0, 0, 0}));
    const Bytes extremes = PayloadOf(line_->Transact(ReadMemoryRequest(0x041FC0, 20), 24));
    ASSERT_EQ(extremes.size(), 21u);
    EXPECT_FLOAT_EQ(DecodePackedDecimal(std::span<const std::uint8_t, 3>(extremes.data(), 3)),
                    12.5f);
    EXPECT_EQ(Bytes(extremes.begin() + 18, extremes.end()), (Bytes{0x0A, 0x0B, 0x0C}));

    // The calibration reads the serial number from inside the parameter block,
    // and a 256-byte read there runs on past the block's end.
    const Bytes block = PayloadOf(line_->Transact(ReadMemoryRequest(0x051012, 255), 259));
    ASSERT_EQ(block.size(), 256u);
    EXPECT_EQ(Bytes(block.begin(), block.begin() + 3), (Bytes{0x01, 0xE2, 0x40}));
    EXPECT_EQ(block, logger_->Memory(0x051012, 256));
    EXPECT_EQ(block[238], sim::PatternByte(0x051100));
}

TEST_F(SimulatedLoggerTest, NoTwoMemoryBlocksAreAlike) {
    std::set<Bytes> blocks;
    for (std::uint32_t address = 0; address < sim::ImageSize; address += 256) {
        blocks.insert(logger_->Memory(address, 256));
    }
    EXPECT_EQ(blocks.size(), sim::ImageSize / 256);
    EXPECT_EQ(PayloadOf(line_->Transact(ReadMemoryRequest(0x03FF00, 255), 259)),
              logger_->Memory(0x03FF00, 256));
}

TEST_F(SimulatedLoggerTest, TextsArePaddedToFortyEightBytesAndSettable) {
    const Bytes status = PayloadOf(line_->Transact(Request('k', {'/'}), 51));
    const std::string text(status.begin(), status.end());
    EXPECT_EQ(text.substr(0, text.find('\0')), "ST+ 95%+ 3.62V+OK+2.10FW\r\n");
    EXPECT_TRUE(std::all_of(status.begin() + 26, status.end(), [](auto b) { return b == 0; }));

    logger_->SetReadingsText("NOT READY\r\n");
    const Bytes readings = PayloadOf(line_->Transact(Request('a', {'/'}), 51));
    EXPECT_TRUE(IsNotReady(std::string(readings.begin(), readings.end())));
}

TEST_F(SimulatedLoggerTest, ClockFollowsOffsetAndSetClock) {
    logger_->SetClockOffset(3600.0);
    EXPECT_NEAR(logger_->ClockOffsetSeconds(), 3600.0, 1.0);
    const Bytes text = PayloadOf(line_->Transact(Request('e'), 22));
    const auto read = ParseClockText(std::string(text.begin(), text.end()));
    ASSERT_TRUE(read.has_value());

    OpenWriteAccess();
    const std::string newTime = "17/11/2006 14:03:22";
    ASSERT_EQ(line_->Transact(Request('f', Bytes(newTime.begin(), newTime.end())), 3).size(), 3u);
    const Bytes after = PayloadOf(line_->Transact(Request('e'), 22));
    const auto set = ParseClockText(std::string(after.begin(), after.end()));
    ASSERT_TRUE(set.has_value());
    EXPECT_EQ(set->day, 17);
    EXPECT_EQ(set->year, 2006);
    EXPECT_EQ(set->minute, 3);
    EXPECT_LE(set->second - 22, 1); // a second boundary may pass in between
}

TEST_F(SimulatedLoggerTest, SelfTestAnswersWithTheMaskAfterItsDuration) {
    logger_->SetSelfTest(0x41, 150ms);
    const auto sent = SteadyClock::now();
    const Bytes reply = line_->Transact(Request('z', {0xFF}), 4);
    EXPECT_GE(SteadyClock::now() - sent, 150ms);
    EXPECT_EQ(PayloadOf(reply), Bytes{0x41});
}

TEST_F(SimulatedLoggerTest, StopAndVanishCutALongSelfTestShort) {
    logger_->SetSelfTest(0, 60s);
    line_->Send(Request('z', {0xFF}));
    ASSERT_TRUE(logger_->WaitForRequests(1, ReplyWait));
    const auto before = SteadyClock::now();
    logger_->Vanish();
    EXPECT_TRUE(line_->SeesHangUp(ReplyWait));
    logger_->Stop();
    EXPECT_LT(SteadyClock::now() - before, 1s);
}

// ---------------------------------------------------------------------------
// Write access

TEST_F(SimulatedLoggerTest, WritesNeedTheAccessCodeAndAreCountedWhenRefused) {
    const Bytes write = Request('d', {0x01, 0x05, 0x10, 0x00, 0xAB, 0xCD});
    const Bytes before = logger_->Memory(0x051000, 2);
    line_->Send(write);
    line_->ExpectNothingBeforeProbe();
    EXPECT_EQ(logger_->RefusedWrites(), 1u);
    EXPECT_EQ(logger_->Memory(0x051000, 2), before);

    OpenWriteAccess();
    ASSERT_EQ(line_->Transact(write, 3).size(), 3u);
    EXPECT_EQ(logger_->Memory(0x051000, 2), (Bytes{0xAB, 0xCD}));
    EXPECT_EQ(logger_->ParameterBlock()[1], 0xCD);

    // Any code but the opening one closes access again.
    ASSERT_EQ(line_->Transact(AccessRequest(0xFFFFFFFF), 4).size(), 4u);
    EXPECT_FALSE(logger_->WriteAccessOpen());
    line_->Send(Request('i', {0x00, 0x01}));
    line_->ExpectNothingBeforeProbe();
    EXPECT_EQ(logger_->RefusedWrites(), 2u);
}

// ---------------------------------------------------------------------------
// Faults

TEST_F(SimulatedLoggerTest, SilenceAffectsOnlyItsLetterAndCount) {
    logger_->InjectFault({sim::FaultKind::Silence, 'e', 2});
    line_->Send(Request('e'));
    line_->ExpectNothingBeforeProbe(); // the probe is not an 'e' and is answered
    line_->Send(Request('e'));
    line_->ExpectNothingBeforeProbe();
    EXPECT_EQ(line_->Transact(Request('e'), 22).size(), 22u);
}

TEST_F(SimulatedLoggerTest, CorruptedRepliesKeepTheirLength) {
    const Bytes request = ReadMemoryRequest(0x000000, 3);
    const Bytes good = line_->Transact(request, 7);
    ASSERT_EQ(good.size(), 7u);

    logger_->InjectFault({sim::FaultKind::WrongAcknowledge, std::nullopt, 1});
    const Bytes wrongAck = line_->Transact(request, 7);
    ASSERT_EQ(wrongAck.size(), 7u);
    EXPECT_NE(wrongAck[0], Checksum8(request, true));
    EXPECT_NE(wrongAck[0], Checksum8(request, false));
    EXPECT_TRUE(CrcValid(wrongAck)); // so the program reports the acknowledge, not the CRC

    logger_->InjectFault({sim::FaultKind::BadCrc, 'c', 1});
    const Bytes badCrc = line_->Transact(request, 7);
    EXPECT_EQ(PayloadOf(badCrc), PayloadOf(good));
    EXPECT_EQ(badCrc[0], good[0]);
    EXPECT_FALSE(CrcValid(badCrc));

    logger_->InjectFault({sim::FaultKind::Garbage, 'c', 1});
    EXPECT_NE(line_->Transact(request, 7), good);
    line_->ExpectNothingBeforeProbe();
}

TEST_F(SimulatedLoggerTest, EmptyPayloadIsAValidThreeByteReply) {
    logger_->InjectFault({sim::FaultKind::EmptyPayload, 'z', 1});
    const Bytes request = Request('z', {0xFF});
    const Bytes reply = line_->Transact(request, 3);
    ASSERT_EQ(reply.size(), 3u);
    EXPECT_EQ(reply[0], Checksum8(request, true));
    EXPECT_TRUE(CrcValid(reply));
    line_->ExpectNothingBeforeProbe();
}

TEST_F(SimulatedLoggerTest, CutShortAndSplitRepliesArriveInPieces) {
    const Bytes request = ReadMemoryRequest(0x000010, 9);
    const Bytes good = line_->Transact(request, 13);

    logger_->InjectFault({sim::FaultKind::CutShort, 'c', 1, 4});
    line_->Send(request);
    EXPECT_EQ(line_->Read(4), Bytes(good.begin(), good.begin() + 4));
    line_->ExpectNothingBeforeProbe();

    logger_->InjectFault({sim::FaultKind::Split, 'c', 1, 5, 150ms});
    line_->Send(request);
    const Bytes first = line_->Read(5);
    const auto firstIn = SteadyClock::now();
    const Bytes rest = line_->Read(8);
    EXPECT_GE(SteadyClock::now() - firstIn, 120ms);
    Bytes whole = first;
    whole.insert(whole.end(), rest.begin(), rest.end());
    EXPECT_EQ(whole, good);
}

TEST_F(SimulatedLoggerTest, EveryRequestFaultStaysUntilCleared) {
    logger_->InjectFault({sim::FaultKind::EmptyPayload, std::nullopt, sim::EveryRequest});
    EXPECT_EQ(line_->Transact(Request('e'), 3).size(), 3u);
    EXPECT_EQ(line_->Transact(Request('e'), 3).size(), 3u);
    logger_->ClearFaults();
    EXPECT_EQ(line_->Transact(Request('e'), 22).size(), 22u);
}

TEST_F(SimulatedLoggerTest, VanishFaultHangsUpAndUnpublishes) {
    sim::LoggerConfig config;
    config.portName = "SIMT" + std::to_string(::getpid() % 10000000);
    Begin(config);
    EXPECT_EQ(logger_->PortName(), config.portName + ":");
    EXPECT_EQ(virtual_ports::Resolve(config.portName), logger_->SlavePath());

    logger_->InjectFault({sim::FaultKind::Vanish, 'k', 1});
    line_->Send(Request('k', {'/'}));
    EXPECT_TRUE(line_->SeesHangUp(ReplyWait));
    EXPECT_TRUE(logger_->Vanished());
    EXPECT_EQ(logger_->Requests().size(), 1u);
    EXPECT_EQ(virtual_ports::Resolve(config.portName), "");
}

// ---------------------------------------------------------------------------
// The line itself

TEST_F(SimulatedLoggerTest, RecordsRequestsAndSurvivesTheProgramReopeningThePort) {
    const Bytes first = Request('e');
    ASSERT_EQ(line_->Transact(first, 22).size(), 22u);
    line_ = std::make_unique<Line>(logger_->SlavePath()); // close and reopen
    const Bytes second = ReadMemoryRequest(0x040024, 2);
    ASSERT_EQ(line_->Transact(second, 6).size(), 6u);

    ASSERT_TRUE(logger_->WaitForRequests(2, ReplyWait));
    const auto requests = logger_->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].frame, first);
    EXPECT_EQ(requests[1].frame, second);
    EXPECT_LE(requests[0].lastByte, requests[1].firstByte);
    logger_->ClearRequests();
    EXPECT_TRUE(logger_->Requests().empty());
}

TEST_F(SimulatedLoggerTest, PacedLineTakesAByteTimePerByte) {
    logger_->SetPacing(sim::Pacing::Baud9600);
    const Bytes request = ReadMemoryRequest(0x000000, 99);
    const auto sent = SteadyClock::now();
    ASSERT_EQ(line_->Transact(request, 103).size(), 103u);
    // 9 request bytes and 103 reply bytes at 1.04 ms each.
    EXPECT_GE(SteadyClock::now() - sent, 110ms);
    const auto recorded = logger_->Requests().at(0);
    EXPECT_GE(recorded.lastByte - recorded.firstByte, 8ms);
}

} // namespace
