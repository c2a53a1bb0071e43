// Start, stop and verification against a logger that answers with garbage, on a
// log full of nonsense, and on a disk that takes no log: every sequence ends with
// an outcome the dialog can show, and LogTime.csv is never damaged.

#include "FaultSandbox.h"
#include "SimulatedLogger.h"
#include "calibration/CalibrationSequences.h"
#include "communication/ResultCodes.h"
#include "support/FakePcClock.h"
#include "support/LoggerRequests.h"
#include "support/TestLogger.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <random>

namespace {

namespace fs = std::filesystem;
using namespace fault_sandbox;
using Kind = CalibrationOutcome::Kind;
using Lines = std::vector<std::string>;

// 17 November 2006, 14:03:22.
const DateTimeValue StartTime = EncodeDateTime({2006, 11, 17, 14, 3, 22, 0});
const std::string StartedRecord = "1234567,11/17/06 14:03:22";

class CalibrationFaults : public ::testing::Test {
protected:
    // The pauses between commands cost nothing here; the link runs for real.
    static void NoPause(std::chrono::milliseconds) {}

    static sim::LoggerConfig Config() { return UniqueLoggerConfig("Flt"); }

    void SetUp() override {
        ASSERT_EQ(logger.Start(), 0);
        ASSERT_FALSE(folder.Path().empty());
        clock.now = StartTime;
    }

    fs::path LogPath() const { return CalibrationLog::PathIn(folder.Path()); }
    // Writes the file and loads it into the log.
    void LoadLog(const std::string& bytes) {
        WriteBytes(LogPath(), bytes);
        ASSERT_EQ(log.Load().status, CalibrationLog::LoadStatus::Loaded);
    }

    CalibrationOutcome Start() { return StartCalibration(logger.PortName(), log, clock, NoPause); }
    CalibrationOutcome Stop() {
        return StopCalibration(logger.PortName(), log, clock, formats, NoPause);
    }
    CalibrationOutcome Verify() { return VerifyTime(logger.PortName(), clock, formats, NoPause); }

    // Twenty hours on, the logger's clock 10 seconds ahead of the PC's.
    void TwentyHoursLater() {
        clock.now = StartTime + 20.0 / 24;
        SystemPcClock real;
        logger.SetClockOffset((clock.now - real.Now()) * SecondsPerDay + 10.5);
    }

    sim::SimulatedLogger logger{Config()};
    ScratchFolder folder;
    CalibrationLog log{CalibrationLog::PathIn(folder.Path())};
    FakePcClock clock;
    DateTimeFormats formats;
};

TEST_F(CalibrationFaults, GarbageRepliesEndEverySequenceWithALinkErrorAndNoChange) {
    LoadLog(LogBytes({StartedRecord, "42,01/01/07 00:00:00"}));
    const std::string before = LogBytes(log.Lines());
    const auto parameters = logger.ParameterBlock();
    logger.InjectFault(FaultOf(sim::FaultKind::Garbage, sim::EveryRequest));

    const std::function<CalibrationOutcome()> sequences[] = {
        [this] { return Start(); }, [this] { return Stop(); }, [this] { return Verify(); }};
    for (const auto& sequence : sequences) {
        const CalibrationOutcome outcome = sequence();
        EXPECT_EQ(outcome.kind, Kind::LinkError);
        EXPECT_LT(outcome.linkCode, 0);
        EXPECT_STRNE(LinkErrorMessage(outcome.linkCode), "Internal Error") << outcome.linkCode;
        EXPECT_EQ(outcome.logChange, LogChange::None);
        EXPECT_FALSE(logger.WriteAccessOpen());
    }
    EXPECT_EQ(LogBytes(log.Lines()), before);
    EXPECT_EQ(ReadBytes(LogPath()), before);
    EXPECT_EQ(logger.ParameterBlock(), parameters);
}

TEST_F(CalibrationFaults, ALogOfRandomBytesStillTakesAStartAndAStop) {
    std::mt19937 random(7u);
    std::uniform_int_distribution<int> byte(1, 255);
    std::string bytes(16 * 1024, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(byte(random));
    }
    LoadLog(bytes);
    Lines expected = log.Lines();

    const CalibrationOutcome started = Start();
    EXPECT_EQ(started.kind, Kind::None);
    ASSERT_EQ(started.logChange, LogChange::Appended);
    EXPECT_EQ(started.line, expected.size());
    expected.push_back(StartedRecord);
    EXPECT_TRUE(ReadBytes(LogPath()) == LogBytes(expected));

    TwentyHoursLater();
    const CalibrationOutcome stopped = Stop();
    EXPECT_EQ(stopped.kind, Kind::Message);
    EXPECT_EQ(stopped.text, calibration_text::Completed);
    EXPECT_EQ(stopped.caption, calibration_text::InformationCaption);
    ASSERT_EQ(stopped.logChange, LogChange::Replaced);
    EXPECT_EQ(stopped.line, expected.size() - 1);
    expected.back() = log.Lines().back();
    EXPECT_EQ(expected.back().rfind(StartedRecord + ",11/18/06 10:03:32,", 0), 0u)
        << expected.back();
    EXPECT_TRUE(ReadBytes(LogPath()) == LogBytes(expected));
    EXPECT_FALSE(logger.WriteAccessOpen());
}

// The logger's own line is malformed: a refusal or an error, never a crash, and
// the log stays as it was.
struct OwnLine {
    const char* name;
    std::string line;
    Kind stopKind;
    std::string stopText; // contained in the stop's text
};

class MalformedOwnLine : public CalibrationFaults, public ::testing::WithParamInterface<OwnLine> {};

TEST_P(MalformedOwnLine, StartRefusesAndStopSaysWhy) {
    const OwnLine& own = GetParam();
    LoadLog(LogBytes({"1,01/01/07 00:00:00", own.line}));
    const std::string before = ReadBytes(LogPath());
    TwentyHoursLater();

    const CalibrationOutcome started = Start();
    EXPECT_EQ(started.kind, Kind::Message);
    EXPECT_EQ(started.text, calibration_text::AlreadyStarted);
    EXPECT_EQ(started.logChange, LogChange::None);

    const CalibrationOutcome stopped = Stop();
    EXPECT_EQ(stopped.kind, own.stopKind);
    EXPECT_NE(stopped.text.find(own.stopText), std::string::npos) << stopped.text;
    EXPECT_EQ(stopped.logChange, LogChange::None);

    EXPECT_EQ(log.Count(), 2u);
    EXPECT_TRUE(ReadBytes(LogPath()) == before);
    EXPECT_FALSE(logger.WriteAccessOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Log, MalformedOwnLine,
    ::testing::Values(OwnLine{"BinaryStartTime", "1234567,\xFF\xFE\x01\x7F nonsense",
                              Kind::GeneralError, "is not a valid date and time"},
                      OwnLine{"NoStartTime", "1234567", Kind::GeneralError,
                              "is not a valid date and time"},
                      OwnLine{"VeryLong", "1234567," + std::string(1 << 20, 'x'), Kind::Message,
                              std::string(calibration_text::Completed)}),
    [](const auto& info) { return std::string(info.param.name); });

// The log cannot be saved after the logger was started: the error names the
// file and the reason, the list keeps the line, the file keeps its bytes. The
// full disk is a tmpfs, which needs the superuser: the root-only pass.
using RootOnlyCalibrationFaults = CalibrationFaults;
TEST_F(RootOnlyCalibrationFaults, AStartOnAFullDiskReportsTheLogFileAndKeepsIt) {
    if (const std::string why = folder.MountTiny(64 * 1024); !why.empty()) {
        GTEST_SKIP() << why;
    }
    LoadLog(LogBytes({"42,01/01/07 00:00:00"}));
    ASSERT_EQ(folder.Fill(), "");

    const CalibrationOutcome started = Start();
    EXPECT_EQ(started.kind, Kind::GeneralError);
    EXPECT_NE(started.text.find(LogPath().string()), std::string::npos) << started.text;
    EXPECT_NE(started.text.find(std::strerror(ENOSPC)), std::string::npos) << started.text;
    EXPECT_EQ(started.logChange, LogChange::Appended);
    EXPECT_EQ(log.Lines(), (Lines{"42,01/01/07 00:00:00", StartedRecord}));
    EXPECT_EQ(ReadBytes(LogPath()), LogBytes({"42,01/01/07 00:00:00"}));
    EXPECT_EQ(Names(folder.Path()), (Lines{"LogTime.csv", "filler"}));
    EXPECT_FALSE(logger.WriteAccessOpen());
}

} // namespace
