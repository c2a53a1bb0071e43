// The self-test operation against the simulated logger.

#include "OperationFixture.h"
#include "communication/ResultCodes.h"
#include "communication/serial/SERIAL.h"
#include "operations/Operations.h"

#include <atomic>
#include <cerrno>
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
    // A reply without its mask byte must not read as "all tests passed". With a
    // stop flag (as both front ends pass one) the wait for its missing last byte
    // is a slice, not the whole self-test time-out.
    logger.InjectFault(FaultOn(sim::FaultKind::EmptyPayload, 'z'));
    const std::atomic<bool> never{false};
    OperationHooks hooks;
    hooks.stop = &never;
    EXPECT_EQ(RunSelfTestOperation(logger.PortName(), RecordingSleeper(), hooks).outcome.code,
              LINK_ERR_CRC);
    EXPECT_EQ(RequestLetters(logger), "z");
}

// The stop flag ends the long wait within a slice; a flag never raised leaves a
// late reply whole.
TEST_F(SelfTest, AStopEndsTheWaitAndAnUnraisedOneChangesNothing) {
    std::atomic<bool> stop{false};
    OperationHooks hooks;
    hooks.stop = &stop;
    logger.SetSelfTest(0x41, milliseconds{700}); // longer than two slices
    EXPECT_EQ(RunSelfTestOperation(logger.PortName(), RecordingSleeper(), hooks).mask, 0x41);

    logger.SetSelfTest(0, milliseconds{60000});
    std::thread user([&] {
        if (logger.WaitForRequests(2, milliseconds{5000})) {
            stop = true;
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const SelfTestOutcome stopped =
        RunSelfTestOperation(logger.PortName(), RecordingSleeper(), hooks);
    const auto waited = std::chrono::steady_clock::now() - start;
    user.join();
    EXPECT_TRUE(stopped.outcome.Stopped());
    EXPECT_LT(waited, milliseconds{5000});
    EXPECT_EQ(RequestLetters(logger), "zz");
    // The port was closed on the way out.
    CSerial port;
    EXPECT_EQ(port.Open(logger.PortName().c_str(), 2048, 2048), 0);
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
    // Told as the port that could not be opened, as at every other step.
    const LinkOutcome missing = RunSelfTestOperation(MissingPort(), RecordingSleeper()).outcome;
    EXPECT_EQ(missing.systemError, ENOENT);
    EXPECT_FALSE(missing.portOpened);
    CSerial holder;
    ASSERT_EQ(holder.Open(logger.PortName().c_str(), 2048, 2048), 0);
    EXPECT_EQ(RunSelfTestOperation(logger.PortName(), RecordingSleeper()).outcome,
              LinkOutcome::From(EBUSY, false));
    EXPECT_TRUE(logger.Requests().empty());
}

} // namespace
