// The reply time-out each step waits under, as the link's port is told it: the
// operations and the calibration sequences against the simulated logger.

#include "OperationFixture.h"
#include "calibration/CalibrationSequences.h"
#include "communication/ResultCodes.h"
#include "operations/Operations.h"
#include "support/FakePcClock.h"
#include "support/RecordingPort.h"

#include <atomic>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

class ReplyTimeouts : public OperationFixture {
protected:
    void SetUp() override { StartLogger(); }
    RecordedLinks links;
};

TEST_F(ReplyTimeouts, InformationReadWaits300PerStep) {
    FakeLabels labels;
    ASSERT_EQ(ReadDeviceInformation(logger.PortName(), labels, RecordingSleeper()).Number(),
              LINK_OK);
    EXPECT_EQ(links.Steps(), "c300 c300 k300 a300 c300");
}

TEST_F(ReplyTimeouts, SelfTestWaits195Seconds) {
    logger.SetSelfTest(0x41, std::chrono::milliseconds{0});
    ASSERT_EQ(RunSelfTestOperation(logger.PortName(), RecordingSleeper()).mask, 0x41);
    EXPECT_EQ(links.Steps(), "z195000");
}

TEST_F(ReplyTimeouts, DumpWaits300PerBlock) {
    const fs::path file = fs::temp_directory_path() / ("onyx-timeouts-" + logger.PortName());
    std::atomic<bool> stop{false};
    OperationHooks hooks;
    hooks.stop = &stop;
    hooks.blockWritten = [&stop](std::uint32_t blocks) { stop = blocks == 2; };
    ASSERT_TRUE(DumpMemory(logger.PortName(), file.string(), RecordingSleeper(), hooks).Ok());
    fs::remove(file);
    EXPECT_EQ(links.Steps(), "c300 c300");
}

TEST_F(ReplyTimeouts, CalibrationRewritesTheBlockUnderLongerWaits) {
    const fs::path file = fs::temp_directory_path() / ("onyx-timeouts-" + logger.PortName());
    CalibrationLog log(file);
    FakePcClock clock;
    clock.now = EncodeDateTime({2006, 11, 17, 14, 3, 22, 0});
    DateTimeFormats formats;

    ASSERT_EQ(StartCalibration(logger.PortName(), log, clock, RecordingSleeper()).kind,
              CalibrationOutcome::Kind::None);
    EXPECT_EQ(links.Steps(), "y300 c300 c300 i900 d600 f600 y600");

    clock.now += 1.0; // a day later, the logger's clock still right
    logger.SetClockOffset((clock.now - SystemPcClock().Now()) * SecondsPerDay);
    const auto stopped =
        StopCalibration(logger.PortName(), log, clock, formats, RecordingSleeper());
    fs::remove(file);
    ASSERT_EQ(stopped.logChange, LogChange::Replaced);
    EXPECT_EQ(links.Steps(), "y300 c300 e300 a300 c300 i900 d600 f600 y600");

    VerifyTime(logger.PortName(), clock, formats, RecordingSleeper());
    EXPECT_EQ(links.Steps(), "e300 e300 e300");
}

} // namespace
