// The self-test operation against the simulated logger.

#include "OperationFixture.h"
#include "communication/ResultCodes.h"
#include "communication/serial/SERIAL.h"
#include "operations/Operations.h"

#include <thread>
#include <vector>

namespace {

using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

class SelfTest : public OperationFixture {
protected:
    void SetUp() override { StartLogger(); }
    SelfTestOutcome Run() { return RunSelfTestOperation(logger.PortName(), RecordingSleeper()); }
};

TEST_F(SelfTest, ReturnsTheMaskOfOneRequest) {
    // 0x05 is also EIO's value: beside the outcome, a mask is never read as a code.
    for (const std::uint8_t mask : {0x00, 0xFF, 0x41, 0x05}) {
        SCOPED_TRACE(int{mask});
        logger.ClearRequests();
        logger.SetSelfTest(mask, milliseconds{0});
        const SelfTestOutcome result = Run();
        EXPECT_TRUE(result.outcome.Ok());
        EXPECT_EQ(result.mask, mask);
        const auto requests = logger.Requests();
        ASSERT_EQ(requests.size(), 1u);
        const Bytes& frame = requests[0].frame;
        EXPECT_EQ(Bytes(frame.begin(), frame.end() - 2), (Bytes{0x00, 'z', 0xFF, 0xFF}));
    }
}

TEST_F(SelfTest, WaitsLongerThanAnOrdinaryReply) {
    // Far beyond the 300 ms of every other command.
    logger.SetSelfTest(0x41, milliseconds{1500});
    EXPECT_EQ(Run().mask, 0x41);
}

TEST_F(SelfTest, FailuresAreNeverRetried) {
    logger.InjectFault(FaultOn(sim::FaultKind::WrongAcknowledge, 'z', sim::EveryRequest));
    EXPECT_EQ(Run().outcome.code, LINK_ERR_ACK);
    EXPECT_EQ(RequestLetters(logger), "z");
}

TEST_F(SelfTest, ReplyWithoutItsMaskIsNoPass) {
    // A reply without its mask byte must not read as "all tests passed". The
    // short reply leaves the program waiting for its last byte for the whole
    // self-test time-out; pulling the cable once the reply is out ends that wait.
    logger.InjectFault(FaultOn(sim::FaultKind::EmptyPayload, 'z'));
    std::thread cable([this] {
        if (logger.WaitForRequests(1, milliseconds{5000})) {
            std::this_thread::sleep_for(milliseconds{400});
        }
        logger.Vanish();
    });
    EXPECT_EQ(Run().outcome.code, LINK_ERR_CRC);
    cable.join();
    EXPECT_EQ(RequestLetters(logger), "z");
}

// Takes the full 195 s: run with --gtest_also_run_disabled_tests.
TEST_F(SelfTest, DISABLED_SilentLoggerTimesOutAfterOneLongWait) {
    logger.InjectFault(FaultOn(sim::FaultKind::Silence, 'z', sim::EveryRequest));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run().outcome.code, LINK_ERR_TIMEOUT);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, milliseconds{195000});
    EXPECT_LE(waited, milliseconds{200000});
    EXPECT_EQ(RequestLetters(logger), "z");
}

TEST_F(SelfTest, PortThatCannotBeOpenedSendsNothingAndIsNoMask) {
    // Told as the reply that never came, as the window has always told it.
    EXPECT_EQ(RunSelfTestOperation(MissingPort(), RecordingSleeper()).outcome.code,
              LINK_ERR_TIMEOUT);
    CSerial holder;
    ASSERT_EQ(holder.Open(logger.PortName().c_str(), 2048, 2048), 0);
    EXPECT_EQ(RunSelfTestOperation(logger.PortName(), RecordingSleeper()).outcome.code,
              LINK_ERR_TIMEOUT);
    EXPECT_TRUE(logger.Requests().empty());
}

} // namespace
