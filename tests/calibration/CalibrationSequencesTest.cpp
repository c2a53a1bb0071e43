// Start, stop and verification against the simulated logger, with a PC clock
// the tests set and pauses that take no time.

#include "calibration/CalibrationSequences.h"

#include "SimulatedLogger.h"
#include "communication/Commands.h"
#include "communication/ResultCodes.h"
#include "files/FileSystem.h"
#include "support/FakePcClock.h"
#include "support/LoggerRequests.h"
#include "support/TemporaryFolder.h"

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Kind = CalibrationOutcome::Kind;

namespace {

DateTimeValue At(int year, int month, int day, int hour, int minute, int second,
                 int millisecond = 0) {
    return EncodeDateTime({year, month, day, hour, minute, second, millisecond});
}

// 17 November 2006, 14:03:22.
const DateTimeValue StartTime = At(2006, 11, 17, 14, 3, 22, 450);
const std::string StartedRecord = "1234567,11/17/06 14:03:22";

class Calibration : public ::testing::Test {
protected:
    static sim::LoggerConfig Config() {
        static std::atomic<int> counter{0};
        sim::LoggerConfig config;
        config.portName =
            "Cal" + std::to_string(getpid() % 100000) + "x" + std::to_string(++counter);
        config.readingsText = "RD+  20.000 deg C+   1.234 m\r\n";
        return config;
    }

    void SetUp() override {
        ASSERT_EQ(logger.Start(), 0);
        clock.now = StartTime;
    }

    // The pauses are counted; hook(n) runs at the n-th before the next command.
    Protocols::Sleeper Sleeper() {
        return [this](std::chrono::milliseconds pause) {
            if (pause == CommandPause) {
                ++commandPauses;
                pausedAfter.push_back(logger.Requests().size());
                if (onPause) {
                    onPause(commandPauses);
                }
            }
        };
    }

    CalibrationOutcome Start() {
        logger.ClearRequests();
        pausedAfter.clear();
        return StartCalibration(logger.PortName(), log, clock, Sleeper());
    }
    CalibrationOutcome Stop() {
        logger.ClearRequests();
        pausedAfter.clear();
        return StopCalibration(logger.PortName(), log, clock, formats, Sleeper());
    }
    CalibrationOutcome Verify() {
        logger.ClearRequests();
        pausedAfter.clear();
        return VerifyTime(logger.PortName(), clock, formats, Sleeper());
    }

    // Sets the logger's clock so that it reads `target` for the next few hundred ms.
    void SetLoggerClock(DateTimeValue target) {
        SystemPcClock pc;
        logger.SetClockOffset((target - pc.Now()) * SecondsPerDay + 0.5);
    }

    std::string Letters() const { return RequestLetters(logger); }
    // The letters with a '.' where each 50 ms pause came.
    std::string LettersAndPauses() const {
        std::string letters = Letters();
        for (auto at = pausedAfter.rbegin(); at != pausedAfter.rend(); ++at) {
            letters.insert(std::min(*at, letters.size()), ".");
        }
        return letters;
    }
    // The request data of the requests with this letter, in order.
    std::vector<Bytes> DataOf(char letter) const {
        std::vector<Bytes> data;
        for (const auto& request : logger.Requests()) {
            if (request.Letter() == static_cast<std::uint8_t>(letter)) {
                data.emplace_back(request.frame.begin() + 3, request.frame.end() - 2);
            }
        }
        return data;
    }
    static std::string Text(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

    // The sequence ended with the closing access code and left the logger closed.
    void ExpectAccessClosed() const {
        EXPECT_FALSE(logger.WriteAccessOpen());
        const auto codes = DataOf('y');
        ASSERT_FALSE(codes.empty());
        EXPECT_EQ(codes.back(), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
        EXPECT_EQ(logger.Requests().back().Letter(), 'y');
    }

    std::string FileText() const {
        std::ifstream in(log.Path(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // A started record for the simulated logger, and the clock at the stop.
    void StartedAgo(double days) {
        fs::remove(log.Path()); // the line in the list only, as the last save left it
        log.SetLines({StartedRecord});
        clock.now = At(2006, 11, 17, 14, 3, 22) + days;
    }

    sim::SimulatedLogger logger{Config()};
    TemporaryFolder scratch{"onyx-cal"};
    const fs::path& directory = scratch.Path();
    CalibrationLog log{fs::temp_directory_path()}; // replaced in each test's body
    FakePcClock clock;
    DateTimeFormats formats;
    int commandPauses = 0;
    std::vector<std::size_t> pausedAfter; // the number of requests sent at each pause
    std::function<void(int)> onPause;
};

class Started : public Calibration {
protected:
    void SetUp() override {
        Calibration::SetUp();
        log = CalibrationLog(CalibrationLog::PathIn(directory));
    }
};

TEST_F(Started, SetsTheClockAndLogsTheStart) {
    log.SetLines({"7654321,11/01/06 10:00:00"});
    const auto outcome = Start();
    EXPECT_EQ(outcome.kind, Kind::None);
    EXPECT_EQ(outcome.logChange, LogChange::Appended);
    EXPECT_EQ(outcome.line, 1u);
    EXPECT_EQ(Letters(), "yccidfy");
    EXPECT_EQ(commandPauses, 6);
    EXPECT_EQ(DataOf('y').front(), (Bytes{0x6C, 0x2B, 0x19, 0xD4}));
    // Both reads ask for 256 bytes: the serial number's at 0x051012, then the block.
    EXPECT_EQ(DataOf('c'),
              (std::vector<Bytes>{{0xFF, 0x05, 0x10, 0x12}, {0xFF, 0x05, 0x10, 0x00}}));
    EXPECT_EQ(DataOf('i'), std::vector<Bytes>{(Bytes{0x00, 0x01})});
    EXPECT_EQ(Text(DataOf('f').front()), "17/11/2006 14:03:22");
    ExpectAccessClosed();

    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"7654321,11/01/06 10:00:00", StartedRecord}));
    EXPECT_FALSE(log.IsCompleted(1));
    EXPECT_EQ(FileText(), "7654321,11/01/06 10:00:00\r\n" + StartedRecord + "\r\n");
    EXPECT_EQ(logger.LoggerClock(), (ClockTime{2006, 11, 17, 14, 3, 22}));
}

TEST_F(Started, RewritesOnlyTheCorrectionAndCoefficients) {
    // Bytes 228 to 241 hold something else before the start.
    const Bytes stale{0x34, 0x12, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    logger.SetMemory(ParameterBlockAddress + 228, stale);
    const auto before = logger.ParameterBlock();

    ASSERT_EQ(Start().kind, Kind::None);
    const auto written = DataOf('d');
    ASSERT_EQ(written.size(), 1u);
    ASSERT_EQ(written[0].size(), 260u);
    EXPECT_EQ(Bytes(written[0].begin(), written[0].begin() + 4), (Bytes{0xFF, 0x05, 0x10, 0x00}));
    const Bytes block(written[0].begin() + 4, written[0].end());
    for (std::size_t i = 0; i < block.size(); ++i) {
        if (i < 228 || i > 241) {
            EXPECT_EQ(block[i], before[i]) << i;
        }
    }
    EXPECT_EQ(Bytes(block.begin() + 228, block.begin() + 242),
              (Bytes{0x00, 0x00, 0xE8, 0xDC, 0xED, 0xBC, 0xF4, 0x4E, 0x15, 0x3F, 0x45, 0xF5, 0x04,
                     0x40}));
    const auto after = logger.ParameterBlock();
    EXPECT_EQ(Bytes(after.begin(), after.end()), block);
}

TEST_F(Started, SecondStartIsRefusedAndTouchesNothing) {
    ASSERT_EQ(Start().kind, Kind::None);
    const auto block = logger.ParameterBlock();
    clock.now = StartTime + 0.5;

    const auto outcome = Start();
    EXPECT_EQ(outcome.kind, Kind::Message);
    EXPECT_EQ(outcome.text, "Time Calibration Started for this Wellscribe");
    EXPECT_EQ(outcome.caption, "Error");
    EXPECT_EQ(outcome.icon, MessageIcon::None);
    EXPECT_EQ(outcome.logChange, LogChange::None);
    EXPECT_EQ(Letters(), "ycy");
    ExpectAccessClosed();
    EXPECT_EQ(logger.ParameterBlock(), block);
    EXPECT_EQ(logger.LoggerClock(), (ClockTime{2006, 11, 17, 14, 3, 22}));
    EXPECT_EQ(log.Count(), 1u);
}

TEST_F(Started, CompletedLineAlsoBlocksAStart) {
    log.SetLines({StartedRecord + ",11/18/06 14:05:10,  23.456, 2 s/day"});
    EXPECT_EQ(Start().text, "Time Calibration Started for this Wellscribe");
    // A line of another logger whose digits hold this serial number does not.
    log.SetLines({"12345678,11/17/06 14:03:22", "91234567,11/17/06 14:03:22"});
    EXPECT_EQ(Start().kind, Kind::None);
    EXPECT_EQ(log.Count(), 3u);
}

TEST_F(Started, FailedCommandsCloseAccessAndLogNothing) {
    for (const char letter : {'c', 'i', 'd', 'f'}) {
        logger.ClearFaults();
        logger.InjectFault(FaultOn(sim::FaultKind::WrongAcknowledge, letter));
        const auto outcome = Start();
        EXPECT_EQ(outcome.kind, Kind::LinkError) << letter;
        EXPECT_EQ(outcome.link.Number(), LINK_ERR_ACK) << letter;
        EXPECT_EQ(outcome.logChange, LogChange::None);
        ExpectAccessClosed();
        EXPECT_EQ(log.Count(), 0u);
        // A failed set-clock takes out again the line saved just before it.
        EXPECT_TRUE(!fs::exists(log.Path()) || FileText().empty()) << letter;
    }
}

TEST_F(Started, BlockCutShortIsNeverWrittenBack) {
    // The block read is the second 'c', after the second pause.
    onPause = [this](int n) {
        if (n == 2) {
            sim::Fault fault = FaultOn(sim::FaultKind::CutShort, 'c');
            fault.bytes = 100;
            logger.InjectFault(fault);
        }
    };
    const auto outcome = Start();
    EXPECT_EQ(outcome.kind, Kind::LinkError);
    EXPECT_LT(outcome.link.Number(), 0);
    EXPECT_EQ(Letters(), "yccy");
    ExpectAccessClosed();
    EXPECT_EQ(log.Count(), 0u);
}

TEST_F(Started, FailedFinalCloseAddsNoRecordAndIsSentAgain) {
    onPause = [this](int n) {
        if (n == 6) {
            logger.InjectFault(FaultOn(sim::FaultKind::WrongAcknowledge, 'y'));
        }
    };
    const auto outcome = Start();
    EXPECT_EQ(outcome.kind, Kind::LinkError);
    EXPECT_EQ(outcome.link.Number(), LINK_ERR_ACK);
    EXPECT_EQ(Letters(), "yccidfyy");
    EXPECT_FALSE(logger.WriteAccessOpen());
    EXPECT_EQ(log.Count(), 0u);
    // The next attempt goes through: the list holds no line for the logger.
    onPause = nullptr;
    EXPECT_EQ(Start().kind, Kind::None);
}

TEST_F(Started, ALockedLogIsRefusedBeforeTheLoggerIsTouched) {
    // Another program keeps the log locked: nothing goes to the logger.
    files::FileLock other;
    ASSERT_TRUE(files::LockFile(log.LockPath(), other, std::chrono::milliseconds(0)));
    log.SetLockWait(std::chrono::milliseconds(0));
    const auto outcome = Start();
    EXPECT_EQ(outcome.kind, Kind::GeneralError);
    EXPECT_EQ(outcome.status, CalibrationStatus::Failed);
    EXPECT_NE(outcome.text.find(log.Path().string() + ": another program is changing it"),
              std::string::npos)
        << outcome.text;
    EXPECT_NE(outcome.text.find("Nothing was sent to the Wellscribe."), std::string::npos);
    EXPECT_EQ(outcome.logChange, LogChange::None);
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_FALSE(fs::exists(log.Path()));
    EXPECT_EQ(Letters(), "");
}

TEST_F(Started, PortThatCannotBeOpened) {
    const auto outcome =
        StartCalibration("NoPort" + std::to_string(getpid()) + ":", log, clock, Sleeper());
    EXPECT_EQ(outcome.kind, Kind::LinkError);
    EXPECT_GT(outcome.link.Number(), 0);
}

class Stopped : public Started {
protected:
    // The started logger's clock reads `ahead` seconds past the PC's when the
    // stop reads it, `days` after the start.
    CalibrationOutcome StopAfter(double days, double ahead) {
        StartedAgo(days);
        SetLoggerClock(clock.now + ahead / SecondsPerDay);
        return Stop();
    }
};

TEST_F(Stopped, WorkedExampleEndToEnd) {
    // One day and ten seconds ahead at 20 degrees: 116 ppm, 113 after the model.
    const Bytes stale{0x55, 0x66};
    logger.SetMemory(ParameterBlockAddress + 228, stale);
    const auto before = logger.ParameterBlock();
    const auto outcome = StopAfter(1.0, 10.0);

    EXPECT_EQ(outcome.kind, Kind::Message);
    EXPECT_EQ(outcome.text, "Time Calibration for this Wellscribe is completed");
    EXPECT_EQ(outcome.caption, "Information");
    EXPECT_EQ(outcome.logChange, LogChange::Replaced);
    EXPECT_EQ(outcome.line, 0u);
    EXPECT_EQ(Letters(), "yceacidfy");
    ExpectAccessClosed();

    const std::string completed = StartedRecord + ",11/18/06 14:03:32,  20.000, 9 s/day";
    EXPECT_EQ(log.Lines(), std::vector<std::string>{completed});
    EXPECT_TRUE(log.IsCompleted(0));
    EXPECT_EQ(FileText(), completed + "\r\n");

    auto expected = before;
    expected[228] = 113;
    expected[229] = 0;
    EXPECT_EQ(logger.ParameterBlock(), expected);
    EXPECT_EQ(Text(DataOf('f').front()), "18/11/2006 14:03:22");
    EXPECT_EQ(formats.ShortDate(), "mm/dd/yy");
    EXPECT_EQ(formats.LongTime(), "hh:nn:ss");
}

TEST_F(Stopped, SmallDriftGetsNoCorrection) {
    logger.SetClockDrift(50.0); // over a few milliseconds: nothing
    const auto outcome = StopAfter(1.0, 5.0);
    EXPECT_EQ(outcome.caption, "Information");
    EXPECT_EQ(log.Line(0), StartedRecord + ",11/18/06 14:03:27,  20.000, 0 s/day");
    EXPECT_EQ(logger.ParameterBlock()[228], 0);
    EXPECT_EQ(logger.ParameterBlock()[229], 0);
}

TEST_F(Stopped, BelowZeroTheModelTakesTheSign) {
    logger.SetReadingsText("RD-   5.000 deg C+   1.234 m\r\n");
    // 10 s a day: D 116, M(-5) = -1.56461, K 117, 10.1 s/day.
    ASSERT_EQ(StopAfter(1.0, 10.0).caption, "Information");
    EXPECT_EQ(log.Line(0), StartedRecord + ",11/18/06 14:03:32,   5.000, 10 s/day");
    EXPECT_EQ(logger.ParameterBlock()[228], 117);
}

TEST_F(Stopped, NotBeforeTwentyHours) {
    const auto early = StopAfter((19 * 60 + 59) / 1440.0, 0.0);
    EXPECT_EQ(early.kind, Kind::Message);
    EXPECT_EQ(early.text, "Minimium Time for Time Calibration is 20 hours");
    EXPECT_EQ(early.caption, "Error");
    EXPECT_EQ(early.icon, MessageIcon::Warning);
    EXPECT_EQ(Letters(), "ycy");
    ExpectAccessClosed();
    EXPECT_EQ(log.Lines(), std::vector<std::string>{StartedRecord});

    // The minimum is 0.8333333 day, a few ms short of 20 hours.
    const auto onTime = StopAfter(20.0 / 24.0 - 0.001 / SecondsPerDay, 0.0);
    EXPECT_EQ(onTime.caption, "Information");
    EXPECT_TRUE(log.IsCompleted(0));
}

TEST_F(Stopped, PausesComeBeforeEveryCommandButTheBlockRead) {
    EXPECT_EQ(StopAfter(1.0, 10.0).caption, "Information");
    EXPECT_EQ(LettersAndPauses(), "y.c.e.ac.i.d.f.y");
    // Refused after the readings: the closing code still waits its 50 ms.
    EXPECT_EQ(StopAfter(1.0, 3600.0).kind, Kind::Message); // too large a drift
    EXPECT_EQ(LettersAndPauses(), "y.c.e.a.y");
    logger.SetReadingsText("NOT READY");
    EXPECT_EQ(StopAfter(1.0, 10.0).kind, Kind::LinkError);
    EXPECT_EQ(LettersAndPauses(), "y.c.e.a.y");
}

TEST_F(Stopped, AnUnreadableLoggerClockLeavesTheClockFormats) {
    // A clock in the year 10006 has no four-digit year.
    StartedAgo(1.0);
    SetLoggerClock(At(10006, 11, 18, 14, 3, 22));
    const auto outcome = Stop();
    EXPECT_EQ(outcome.kind, Kind::GeneralError);
    EXPECT_EQ(formats.ShortDate(), "dd/mm/yyyy");
    EXPECT_EQ(formats.LongTime(), "hh:nn:ss");
    EXPECT_EQ(log.Lines(), std::vector<std::string>{StartedRecord});
}

TEST_F(Stopped, RefusalsCloseAccessAndChangeNothing) {
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        std::string readings;
        double ahead;
        Kind kind;
        std::string text;
        std::int32_t code;
    };
    const std::string completed = StartedRecord + ",11/18/06 14:05:10,  23.456, 2 s/day";
    const std::string good = "RD+  20.000 deg C+   1.234 m\r\n";
    const Case cases[] = {
        {"empty list", {}, good, 0, Kind::Message, std::string(calibration_text::NotStarted), 0},
        {"other logger",
         {"123456,11/17/06 14:03:22"},
         good,
         0,
         Kind::Message,
         std::string(calibration_text::NotStarted),
         0},
        {"completed first",
         {completed, StartedRecord},
         good,
         0,
         Kind::Message,
         std::string(calibration_text::Completed),
         0},
        {"bad start",
         {"1234567,11/31/06 14:03:22"},
         good,
         0,
         Kind::GeneralError,
         "'11/31/06 14:03:22' is not a valid date and time",
         0},
        {"no start",
         {"1234567"},
         good,
         0,
         Kind::GeneralError,
         "'' is not a valid date and time",
         0},
        {"not ready",
         {StartedRecord},
         "not ready+  20.000 deg C",
         0,
         Kind::LinkError,
         "",
         Raw(LINK_ERR_TIMEOUT)},
        {"no delimiter",
         {StartedRecord},
         "RD  20.000 deg C",
         0,
         Kind::LinkError,
         "",
         Raw(LINK_ERR_TIMEOUT)},
        {"short field",
         {StartedRecord},
         "RD+deg C+1.0 m",
         0,
         Kind::LinkError,
         "",
         Raw(LINK_ERR_TIMEOUT)},
        {"drift too large", {StartedRecord}, good, 3600, Kind::Message, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        logger.SetReadingsText(c.readings);
        const auto block = logger.ParameterBlock();
        log.SetLines(c.lines);
        clock.now = At(2006, 11, 18, 14, 3, 22);
        SetLoggerClock(clock.now + c.ahead / SecondsPerDay);
        const auto clockBefore = logger.LoggerClock();

        const auto outcome = Stop();
        EXPECT_EQ(outcome.kind, c.kind);
        if (c.kind == Kind::GeneralError) {
            // A start time that cannot be read is named by its file and line.
            EXPECT_EQ(outcome.text, "The start time on line 1 of " + files::PathText(log.Path()) +
                                        " cannot be read: " + c.text);
        } else if (!c.text.empty()) {
            EXPECT_EQ(outcome.text, c.text);
        }
        if (c.kind == Kind::Message) {
            EXPECT_EQ(outcome.caption, "Error");
        }
        EXPECT_EQ(outcome.link.Number(), c.code);
        EXPECT_EQ(outcome.logChange, LogChange::None);
        ExpectAccessClosed();
        EXPECT_TRUE(DataOf('d').empty());
        EXPECT_TRUE(DataOf('f').empty());
        EXPECT_EQ(logger.ParameterBlock(), block);
        EXPECT_EQ(logger.LoggerClock(), clockBefore);
        EXPECT_EQ(log.Lines(), c.lines);
        EXPECT_FALSE(fs::exists(log.Path()));
    }
}

TEST_F(Stopped, FailedCommandsCloseAccessAndLogNothing) {
    for (const char letter : {'e', 'a', 'i', 'd', 'f'}) {
        SCOPED_TRACE(letter);
        logger.ClearFaults();
        logger.InjectFault(FaultOn(sim::FaultKind::WrongAcknowledge, letter));
        const auto outcome = StopAfter(1.0, 10.0);
        EXPECT_EQ(outcome.kind, Kind::LinkError);
        EXPECT_EQ(outcome.link.Number(), LINK_ERR_ACK);
        ExpectAccessClosed();
        EXPECT_EQ(log.Lines(), std::vector<std::string>{StartedRecord});
        EXPECT_FALSE(fs::exists(log.Path()));
    }
}

TEST_F(Stopped, AMeasurementThatCannotBeNotedLeavesTheLoggerAsItWas) {
    // No byte can be written: the note of the drift cannot be made, so the logger is
    // not written; the next stop measures afresh.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit none = saved;
    none.rlim_cur = 0;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &none), 0);
    const auto outcome = StopAfter(1.0, 10.0);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(outcome.kind, Kind::GeneralError);
    EXPECT_NE(outcome.text.find("Cannot save " + log.PendingPath().string() + ": "),
              std::string::npos)
        << outcome.text;
    EXPECT_EQ(outcome.logChange, LogChange::None);
    EXPECT_FALSE(log.IsCompleted(0));
    EXPECT_FALSE(fs::exists(log.PendingPath()));
    EXPECT_EQ(logger.ParameterBlock()[228], 0);
    EXPECT_EQ(Letters(), "yceay");
    ExpectAccessClosed();
}

TEST_F(Calibration, VerificationAveragesThreeReadings) {
    // The logger is two minutes ahead, read 0.3 s into a PC second: 119.7 s each time.
    clock.now = At(2006, 11, 17, 14, 3, 22, 300);
    SetLoggerClock(At(2006, 11, 17, 14, 5, 22));
    const auto outcome = Verify();
    EXPECT_EQ(outcome.kind, Kind::Message);
    EXPECT_EQ(outcome.text,
              "The Wellscribe Time Offset is 119 second(s), as compared to the Time Reference");
    EXPECT_EQ(outcome.caption, "Time Verification Completed");
    EXPECT_EQ(outcome.icon, MessageIcon::None);
    EXPECT_EQ(outcome.logChange, LogChange::None);
    EXPECT_EQ(Letters(), "eee");
    EXPECT_EQ(commandPauses, 4);
    EXPECT_EQ(formats.ShortDate(), "dd/mm/yyyy");
    EXPECT_FALSE(logger.WriteAccessOpen());

    // In step, the logger reads behind by the PC's fraction of a second.
    SetLoggerClock(clock.now);
    EXPECT_EQ(Verify().text,
              "The Wellscribe Time Offset is -1 second(s), as compared to the Time Reference");
}

TEST_F(Calibration, VerificationFailures) {
    logger.InjectFault(FaultOn(sim::FaultKind::WrongAcknowledge, 'e'));
    const auto failed = Verify();
    EXPECT_EQ(failed.kind, Kind::LinkError);
    EXPECT_EQ(failed.link.Number(), LINK_ERR_ACK);
    EXPECT_EQ(Letters(), "e");

    const auto missing =
        VerifyTime("NoPort" + std::to_string(getpid()) + ":", clock, formats, Sleeper());
    EXPECT_EQ(missing.kind, Kind::LinkError);
    EXPECT_GT(missing.link.Number(), 0);
}

} // namespace

namespace {

// A stop cut short at any step, then run again: the record holds the drift the
// first stop measured and the logger its correction; a logger whose clock the
// first stop had set is never measured again.
enum class Cut {
    Silence,   // the logger stops answering from this pause on
    Killed,    // the program is killed (SIGKILL) at this pause
    SaveFails, // the log turns read-only at this pause, so the record cannot be saved
    LockHeld,  // another program holds the log's lock when the stop begins
};
struct Interruption {
    const char* name;
    Cut cut;
    int pause; // the 50 ms pause at which it happens (1 to 7)
};

class InterruptedStop : public Stopped, public ::testing::WithParamInterface<Interruption> {
protected:
    static constexpr double Ahead = 10.0;
    const std::string Completed = StartedRecord + ",11/18/06 14:03:32,  20.000, 9 s/day";

    void SetUp() override {
        Stopped::SetUp();
        log.SetLines({StartedRecord});
        ASSERT_FALSE(log.Save());
        clock.now = At(2006, 11, 17, 14, 3, 22) + 1.0;
        SetLoggerClock(clock.now + Ahead / SecondsPerDay);
    }

    // The first stop, cut short as the case says.
    void CutShort(const Interruption& cut) {
        logger.ClearRequests();
        const auto at = [this, cut](const std::function<void()>& action) {
            onPause = [cut, action](int n) {
                if (n == cut.pause) {
                    action();
                }
            };
        };
        files::FileLock other;
        switch (cut.cut) {
        case Cut::Silence:
            at([this] { logger.InjectFault(FaultOf(sim::FaultKind::Silence, sim::EveryRequest)); });
            EXPECT_EQ(Stop().status, CalibrationStatus::Failed);
            logger.ClearFaults();
            break;
        case Cut::Killed:
            if (const pid_t child = fork(); child == 0) {
                at([] { raise(SIGKILL); });
                Stop();
                _exit(3); // never reached the pause
            } else {
                int status = 0;
                ASSERT_EQ(waitpid(child, &status, 0), child);
                ASSERT_TRUE(WIFSIGNALED(status)) << status;
                // A killed program leaves its port in exclusive mode until the
                // adapter is plugged in again.
                logger.Stop();
                ASSERT_EQ(logger.Start(), 0);
            }
            break;
        case Cut::SaveFails:
            at([this] { fs::permissions(log.Path(), fs::perms::owner_read); });
            EXPECT_EQ(Stop().status, CalibrationStatus::Failed);
            fs::permissions(log.Path(), fs::perms::owner_read | fs::perms::owner_write);
            break;
        case Cut::LockHeld:
            ASSERT_TRUE(files::LockFile(log.LockPath(), other, std::chrono::milliseconds(0)));
            log.SetLockWait(std::chrono::milliseconds(0));
            EXPECT_EQ(Stop().status, CalibrationStatus::Failed);
            EXPECT_EQ(Letters(), "") << "nothing is sent while another program has the log";
            other.Release();
            break;
        }
        onPause = nullptr;
    }
};

TEST_P(InterruptedStop, TheNextStopKeepsTheFirstMeasurement) {
    const Interruption cut = GetParam();
    CutShort(cut);
    const bool clockSet = !DataOf('f').empty();
    if (!clockSet) {
        SetLoggerClock(clock.now + Ahead / SecondsPerDay); // the same reading as the first time
    }
    const bool noted = fs::exists(log.PendingPath());

    const auto outcome = Stop();
    EXPECT_EQ(outcome.status, CalibrationStatus::Done) << outcome.text;
    EXPECT_EQ(outcome.resumed, noted);
    if (clockSet) {
        EXPECT_EQ(Letters().find('e'), std::string::npos) << "measured from a clock it had set";
    }
    EXPECT_EQ(FileText(), Completed + "\r\n");
    EXPECT_EQ(outcome.savedLine, Completed);
    EXPECT_EQ(logger.ParameterBlock()[228], 113);
    EXPECT_FALSE(fs::exists(log.PendingPath()));
    ExpectAccessClosed();
}

INSTANTIATE_TEST_SUITE_P(
    Steps, InterruptedStop,
    ::testing::Values(Interruption{"SilentAfterTheSerialNumber", Cut::Silence, 2},
                      Interruption{"SilentDuringTheBlockWrite", Cut::Silence, 5},
                      Interruption{"SilentAfterTheClockWasSet", Cut::Silence, 7},
                      Interruption{"KilledAfterAccess", Cut::Killed, 1},
                      Interruption{"KilledAfterTheClockRead", Cut::Killed, 3},
                      Interruption{"KilledBeforeThePrepare", Cut::Killed, 4},
                      Interruption{"KilledBeforeTheBlockWrite", Cut::Killed, 5},
                      Interruption{"KilledBeforeTheClockIsSet", Cut::Killed, 6},
                      Interruption{"KilledAfterTheClockWasSet", Cut::Killed, 7},
                      Interruption{"LogReadOnlyAtTheSave", Cut::SaveFails, 7},
                      Interruption{"LockHeldByAnotherProgram", Cut::LockHeld, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A start killed once it has sent the set-clock leaves its line: the next start is
// refused as one already running, and the stop 20 hours on measures from that start.
TEST_F(Started, AStartKilledAfterTheClockWasSentLeavesItsLine) {
    if (const pid_t child = fork(); child == 0) {
        // The sixth pause comes after the set-clock (the logger, in the parent,
        // records the requests; this copy of it sees none).
        onPause = [](int n) {
            if (n == 6) {
                raise(SIGKILL);
            }
        };
        Start();
        _exit(3);
    } else {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
    }
    EXPECT_EQ(Text(DataOf('f').at(0)), "17/11/2006 14:03:22");
    logger.Stop(); // the killed program left the port in exclusive mode
    ASSERT_EQ(logger.Start(), 0);
    EXPECT_EQ(FileText(), StartedRecord + "\r\n");
    log.SetLines({});
    EXPECT_EQ(Start().status, CalibrationStatus::Refused);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{StartedRecord});
}

} // namespace
