// The logger commands and the block rewrite against the simulated logger.

#include "communication/Encodings.h"
#include "communication/LinkSession.h"
#include "communication/ResultCodes.h"
#include "support/LoggerRequests.h"
#include "support/TestLogger.h"

#include <array>
#include <chrono>
#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(logger.Start(), 0);
        ASSERT_EQ(link.Open(logger.PortName()), 0);
    }
    // The link keeps its five attempts, so that a reply a loaded machine delivers
    // late is read on the next one; the tests count transactions.
    std::string Letters() const { return TransactionLetters(logger); }

    sim::SimulatedLogger logger{UniqueLoggerConfig("L")};
    LinkSession link;
};

TEST_F(Commands, ReadMemoryFromOneTo256Bytes) {
    std::array<std::uint8_t, 256> block{};
    std::uint32_t received = 0;
    ASSERT_EQ(link.ReadMemory(0x000100, std::span(block).first(1), 1, received), LINK_OK);
    EXPECT_EQ(received, 1u);
    EXPECT_EQ(block[0], sim::PatternByte(0x000100));
    ASSERT_EQ(link.ReadMemory(0x03FF00, block, block.size(), received), LINK_OK);
    EXPECT_EQ(received, 256u);
    EXPECT_EQ(Bytes(block.begin(), block.end()), logger.Memory(0x03FF00, 256));
    // The request carries N = 255 and the address high byte first.
    const Bytes frame = logger.Requests().back().frame;
    EXPECT_EQ(Bytes(frame.begin() + 3, frame.begin() + 7), (Bytes{0xFF, 0x03, 0xFF, 0x00}));

    std::array<std::uint8_t, 257> tooMany{};
    EXPECT_EQ(link.ReadMemory(0, tooMany), LINK_ERR_INTERNAL_B);
    EXPECT_EQ(link.ReadMemory(0, {}), LINK_ERR_INTERNAL_B);
}

TEST_F(Commands, AReplyShorterThanTheStepDecodesIsCutShort) {
    // An empty payload passes its CRC: only the length tells it from a whole reply.
    std::array<std::uint8_t, 256> block{};
    std::uint32_t received = 99;
    logger.InjectFault(FaultOf(sim::FaultKind::EmptyPayload));
    EXPECT_EQ(link.ReadMemory(ParameterSerialAddress, block, 3, received), LINK_ERR_CRC);
    EXPECT_EQ(received, 0u);
    logger.InjectFault(FaultOf(sim::FaultKind::EmptyPayload));
    EXPECT_EQ(link.ReadMemory(ParameterBlockAddress, block), LINK_ERR_CRC);
    logger.InjectFault(FaultOf(sim::FaultKind::EmptyPayload));
    std::string status = "stale";
    EXPECT_EQ(link.ReadStatusText(status), LINK_ERR_CRC);
    EXPECT_TRUE(status.empty());
    // Asked for what the step decodes, a whole reply goes through.
    ASSERT_EQ(link.ReadMemory(ParameterSerialAddress, block, 3, received), LINK_OK);
    EXPECT_EQ(received, 256u);
}

TEST_F(Commands, WritesNeedTheAccessCode) {
    const Bytes bytes{1, 2, 3, 4};
    link.Configure(50, 1);
    EXPECT_EQ(link.WriteMemory(0x000010, bytes), LINK_ERR_TIMEOUT);
    EXPECT_EQ(logger.RefusedWrites(), 1u);
    EXPECT_NE(logger.Memory(0x000010, 4), bytes);
    link.Configure(Protocols::DefaultTimeout, ST_Base_Protocol::DefaultRetryCount);

    ASSERT_EQ(link.SetAccessCode(WriteAccessCode), LINK_OK);
    EXPECT_TRUE(logger.WriteAccessOpen());
    const Bytes code = logger.Requests().back().frame;
    EXPECT_EQ(Bytes(code.begin() + 3, code.begin() + 7), (Bytes{0x6C, 0x2B, 0x19, 0xD4}));
    ASSERT_EQ(link.WriteMemory(0x000010, bytes), LINK_OK);
    EXPECT_EQ(logger.Memory(0x000010, 4), bytes);
    // N, the address, then the bytes.
    const Bytes frame = logger.Requests().back().frame;
    EXPECT_EQ(Bytes(frame.begin() + 3, frame.end() - 2), (Bytes{3, 0x00, 0x00, 0x10, 1, 2, 3, 4}));

    ASSERT_EQ(link.SetAccessCode(CloseAccessCode), LINK_OK);
    EXPECT_FALSE(logger.WriteAccessOpen());
}

TEST_F(Commands, ClockTextBothWays) {
    std::string text;
    ASSERT_EQ(link.ReadClock(text), LINK_OK);
    EXPECT_EQ(text.size(), ClockTextLength);
    EXPECT_TRUE(ParseClockText(text)) << text;
    EXPECT_EQ(logger.Requests().back().frame.size(), 5u);

    ASSERT_EQ(link.SetAccessCode(WriteAccessCode), LINK_OK);
    ASSERT_EQ(link.SetClock("17/11/2006 14:03:22"), LINK_OK);
    ASSERT_EQ(link.ReadClock(text), LINK_OK);
    // The logger's clock runs on from the time set; a second may pass meanwhile.
    EXPECT_TRUE(text == "17/11/2006 14:03:22" || text == "17/11/2006 14:03:23") << text;
    EXPECT_EQ(link.SetClock("17/11/2006"), LINK_ERR_INTERNAL_B);
}

TEST_F(Commands, ReplyTextsAndSelfTest) {
    std::string text;
    ASSERT_EQ(link.ReadStatusText(text), LINK_OK);
    EXPECT_EQ(text.size(), 48u);
    EXPECT_EQ(text.rfind("ST+", 0), 0u);
    ASSERT_EQ(link.ReadReadings(text), LINK_OK);
    EXPECT_EQ(text.size(), 48u);
    EXPECT_EQ(Letters(), "ka");
    EXPECT_EQ(logger.Requests().back().frame[3], '/');

    logger.SetSelfTest(0x41, milliseconds(0));
    std::optional<std::uint8_t> mask;
    ASSERT_EQ(link.RunSelfTest(mask), LINK_OK);
    EXPECT_EQ(mask, 0x41);

    logger.InjectFault(FaultOf(sim::FaultKind::EmptyPayload));
    ASSERT_EQ(link.RunSelfTest(mask), LINK_OK);
    EXPECT_FALSE(mask.has_value()) << "no payload byte is no self-test result";
}

TEST_F(Commands, PrepareBlockWriteCarriesItsTwoDataBytes) {
    ASSERT_EQ(link.SetAccessCode(WriteAccessCode), LINK_OK);
    ASSERT_EQ(link.PrepareBlockWrite(), LINK_OK);
    const Bytes frame = logger.Requests().back().frame;
    EXPECT_EQ(frame.size(), 7u);
    EXPECT_EQ(frame[3], 0x00);
    EXPECT_EQ(frame[4], 0x01);
}

class BlockRewrite : public Commands {
protected:
    void SetUp() override {
        Commands::SetUp();
        ASSERT_EQ(link.SetAccessCode(WriteAccessCode), LINK_OK);
        logger.ClearRequests();
    }
};

TEST_F(BlockRewrite, ReadPrepareWriteWithTheirTimeoutsAndPauses) {
    const auto before = logger.ParameterBlock();
    ASSERT_EQ(link.RewriteBlock(ParameterBlockAddress,
                                [](std::span<std::uint8_t, BlockSize> block) {
                                    block[228] = 0x34;
                                    block[229] = 0x12;
                                    return Raw(LINK_OK);
                                }),
              LINK_OK);
    EXPECT_EQ(Letters(), "cid");
    const auto after = logger.ParameterBlock();
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (i != 228 && i != 229) {
            EXPECT_EQ(after[i], before[i]) << i;
        }
    }
    EXPECT_EQ(after[228], 0x34);
    EXPECT_EQ(after[229], 0x12);
    const auto transactions = Transactions(logger);
    ASSERT_EQ(transactions.size(), 3u);
    EXPECT_EQ(transactions[2].request.frame.size(), 4u + 256u + 5u);
    for (std::size_t i = 1; i < transactions.size(); ++i) {
        EXPECT_GE(transactions[i].request.firstByte - transactions[i - 1].request.lastByte,
                  CommandPause);
    }

    // The write's longer time-out stays for the commands that follow: the first
    // attempt goes unanswered and is waited for that long before the second.
    logger.InjectFault(FaultOf(sim::FaultKind::Silence));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.SetAccessCode(CloseAccessCode), LINK_OK);
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              milliseconds(WriteMemoryTimeout) + Protocols::RetryPause);
}

TEST_F(BlockRewrite, NothingIsWrittenWhenTheEditRefuses) {
    EXPECT_EQ(link.RewriteBlock(ParameterBlockAddress,
                                [](std::span<std::uint8_t, BlockSize>) { return -1; }),
              -1);
    EXPECT_EQ(Letters(), "c");
}

TEST_F(BlockRewrite, ABlockThatDoesNotArriveWholeIsNeverWrittenBack) {
    logger.InjectFault(FaultOf(sim::FaultKind::EmptyPayload));
    bool edited = false;
    EXPECT_EQ(link.RewriteBlock(ParameterBlockAddress,
                                [&](std::span<std::uint8_t, BlockSize>) {
                                    edited = true;
                                    return Raw(LINK_OK);
                                }),
              LINK_ERR_CRC);
    EXPECT_FALSE(edited);
    EXPECT_EQ(Letters(), "c");
}

TEST_F(BlockRewrite, AFailedPrepareEndsTheSequence) {
    // One attempt for the prepare that goes unanswered; the read before it is
    // given time enough for any load.
    link.Configure(3000, 1);
    logger.InjectFault(FaultOn(sim::FaultKind::Silence, 'i'));
    EXPECT_EQ(link.RewriteBlock(ParameterBlockAddress, {}), LINK_ERR_TIMEOUT);
    EXPECT_EQ(RequestLetters(logger), "ci");
}

} // namespace
