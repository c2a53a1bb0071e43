// Start, stop and verification against a logger that answers with garbage, on a
// log full of nonsense, and on a disk that takes no log: every sequence ends with
// an outcome the dialog can show, and LogTime.csv is never damaged.

#include "FaultSandbox.h"
#include "SimulatedLogger.h"
#include "calibration/CalibrationSequences.h"
#include "communication/ResultCodes.h"
#include "files/FileSystem.h"
#include "support/FakePcClock.h"
#include "support/LoggerRequests.h"
#include "support/TestLogger.h"

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
        EXPECT_LT(outcome.link.Number(), 0);
        EXPECT_STRNE(LinkErrorMessage(outcome.link.Number()), "Internal Error")
            << outcome.link.Number();
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
                      OwnLine{"VeryLong", "1234567," + std::string(1 << 20, 'x'),
                              Kind::GeneralError, "is not a valid date and time"}),
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
    EXPECT_EQ(Names(folder.Path()), (Lines{"LogTime.csv", "LogTime.csv.lock", "filler"}));
    EXPECT_FALSE(logger.WriteAccessOpen());
}

// ---------------------------------------------------------------------------
// The log as people keep it and as other programs change it: every change reads
// the file as it is now, under the lock, and either saves every record or
// leaves the file as it was with a message that says why.

enum class Action { Start, Stop, RemoveCompleted };
enum class LockHolder {
    None,
    LiveProgram, // another log object holds the lock for the whole change
    DeadProgram, // a process took the lock and was killed
};

struct LogFault {
    const char* name;
    std::string bytes;            // the log before
    fs::perms mode;               // its permissions
    Action action;                // what the user does
    LockHolder holder;            // who else has the lock
    int otherProgramRecords;      // records a second process and this one add meanwhile
    std::string message;          // in the refusal; empty when the change is saved
    Lines after;                  // the lines after a saved change (the second process's aside)
    bool loggerUntouched = false; // refused before the logger is asked anything
    std::string meanwhile = {};   // the log another program saves while the logger is asked
};

void PrintTo(const LogFault& fault, std::ostream* out) {
    *out << fault.name;
}

std::string Utf16(std::string_view text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : text) {
        const char pair[2] = {bigEndian ? '\0' : c, bigEndian ? c : '\0'};
        bytes.append(pair, 2);
    }
    return bytes;
}

const std::string Other = "42,01/01/07 00:00:00";
// Where the other program of TwoProgramsAtOnce finds its log and how many records it adds.
constexpr const char* OtherProgramLog = "ONYX_TEST_OTHER_PROGRAM_LOG";
constexpr const char* OtherProgramRecords = "ONYX_TEST_OTHER_PROGRAM_RECORDS";
const std::string OtherCompleted = "43,01/01/07 00:00:00,01/02/07 00:00:00,  20.000, 0 s/day";
constexpr fs::perms Writable =
    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;
constexpr fs::perms ReadOnly =
    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;

std::vector<LogFault> LogFaultCases() {
    using namespace std::string_literals;
    const std::string plain = LogBytes({Other});
    const std::string stopped = StartedRecord + ",11/18/06 10:03:32,  21.500, 11 s/day";
    return {
        {"Unreadable",
         plain,
         fs::perms::none,
         Action::Start,
         LockHolder::None,
         0,
         "Cannot read %: Permission denied.\nThe file was left unchanged.",
         {},
         true},
        {"Utf16LittleEndian",
         Utf16(plain, false),
         Writable,
         Action::Start,
         LockHolder::None,
         0,
         "",
         {Other, StartedRecord}},
        {"Utf16BigEndian",
         Utf16(plain, true),
         Writable,
         Action::Start,
         LockHolder::None,
         0,
         "",
         {Other, StartedRecord}},
        {"Utf16CutInHalf",
         Utf16(plain, false) + "4",
         Writable,
         Action::Start,
         LockHolder::None,
         0,
         "ends in half a character",
         {},
         true},
        {"Utf8ByteOrderMark",
         "\xEF\xBB\xBF" + LogBytes({Other, "Zo\xC3\xAB"}),
         Writable,
         Action::Start,
         LockHolder::None,
         0,
         "",
         {Other, "Zo\xC3\xAB", StartedRecord}},
        {"Utf8MarkButLatin1",
         "\xEF\xBB\xBF" + LogBytes({Other, "Zo\xEB"}),
         Writable,
         Action::Start,
         LockHolder::None,
         0,
         "line 2 is not UTF-8",
         {},
         true},
        {"SingleByteText",
         LogBytes({Other, "Zo\xEB"}),
         Writable,
         Action::Start,
         LockHolder::None,
         0,
         "",
         {Other, "Zo\xEB", StartedRecord}},
        {"ZeroByte",
         plain + "7,01/01/07\0 00:00:00\r\n"s,
         Writable,
         Action::Start,
         LockHolder::None,
         0,
         "Cannot read %: line 2 holds a zero byte.\nThe file was left unchanged.",
         {},
         true},
        {"ZeroByteRemovingCompleted",
         LogBytes({OtherCompleted}) + "\0"s,
         Writable,
         Action::RemoveCompleted,
         LockHolder::None,
         0,
         "line 2 holds a zero byte",
         {}},
        {"PaddedRecordIsInProgress",
         LogBytes({OtherCompleted, StartedRecord + ",,,"}),
         Writable,
         Action::Stop,
         LockHolder::None,
         0,
         "",
         {OtherCompleted, stopped}},
        {"PaddedRecordIsNotRemoved",
         LogBytes({OtherCompleted, StartedRecord + ",,,", "x,y,z"}),
         Writable,
         Action::RemoveCompleted,
         LockHolder::None,
         0,
         "",
         {StartedRecord + ",,,", "x,y,z"}},
        {"ReadOnly",
         plain,
         ReadOnly,
         Action::Start,
         LockHolder::None,
         0,
         "LogTime.csv is read-only: %.\nThe file was left unchanged.",
         {},
         true},
        {"ReadOnlyRemovingCompleted",
         LogBytes({OtherCompleted}),
         ReadOnly,
         Action::RemoveCompleted,
         LockHolder::None,
         0,
         "LogTime.csv is read-only",
         {}},
        {"WritableKeepsItsMode",
         plain,
         fs::perms::owner_read | fs::perms::owner_write,
         Action::Start,
         LockHolder::None,
         0,
         "",
         {Other, StartedRecord}},
        {"LockedByALiveProgram",
         plain,
         Writable,
         Action::Start,
         LockHolder::LiveProgram,
         0,
         "Cannot save %: another program is changing it",
         {}},
        {"LockOfADeadProgram",
         plain,
         Writable,
         Action::Start,
         LockHolder::DeadProgram,
         0,
         "",
         {Other, StartedRecord}},
        {"SavedMeanwhileIsKept",
         plain,
         Writable,
         Action::Start,
         LockHolder::None,
         0,
         "",
         {Other, "77,01/01/07 00:00:00", StartedRecord},
         false,
         LogBytes({Other, "77,01/01/07 00:00:00"})},
        {"StartedElsewhereMeanwhile",
         plain,
         Writable,
         Action::Start,
         LockHolder::None,
         0,
         "changed the line of this Wellscribe in % meanwhile; the file was left unchanged.\n"
         "This calibration's record: " +
             StartedRecord,
         {},
         false,
         LogBytes({Other, "1234567,11/16/06 09:00:00"})},
        {"RemovedMeanwhile",
         LogBytes({StartedRecord}),
         Writable,
         Action::Stop,
         LockHolder::None,
         0,
         "changed the line of this Wellscribe in % meanwhile",
         {},
         false,
         LogBytes({Other})},
        {"TwoProgramsAtOnce",
         plain,
         Writable,
         Action::Start,
         LockHolder::None,
         200,
         "",
         {Other, StartedRecord}},
    };
}

class LogFaults : public CalibrationFaults, public ::testing::WithParamInterface<LogFault> {
protected:
    // The message with % for the log's path.
    std::string Expected(const std::string& message) const {
        std::string text = message;
        if (const auto at = text.find('%'); at != std::string::npos) {
            text.replace(at, 1, LogPath().string());
        }
        return text;
    }
    // `meanwhile` is saved as the log at the first pause between logger commands.
    CalibrationOutcome Act(Action action, const std::string& meanwhile) {
        bool saved = meanwhile.empty();
        const Protocols::Sleeper otherProgram = [&](std::chrono::milliseconds) {
            if (!saved) {
                WriteBytes(LogPath(), meanwhile);
                saved = true;
            }
        };
        switch (action) {
        case Action::Start:
            return StartCalibration(logger.PortName(), log, clock, otherProgram);
        case Action::Stop:
            TwentyHoursLater();
            return StopCalibration(logger.PortName(), log, clock, formats, otherProgram);
        case Action::RemoveCompleted:
            break;
        }
        CalibrationOutcome outcome;
        if (const auto removed = log.RemoveCompletedLines(); removed.Failed()) {
            outcome.kind = Kind::GeneralError;
            outcome.text = removed.error;
        }
        return outcome;
    }
    // A process that adds `records` records of its own, one change each.
    // Another program adding records: this test binary started afresh, running only
    // LogFaultsOtherProgram.AddsRecords. A fork of the test would not do: the simulated
    // logger's threads may hold a lock of the allocator at the fork, and the child then
    // hangs while it holds the log's lock.
    pid_t AddFromAnotherProgram(int records) {
        std::vector<std::string> environment{
            std::string(OtherProgramLog) + "=" + LogPath().string(),
            std::string(OtherProgramRecords) + "=" + std::to_string(records)};
        for (char** variable = environ; *variable != nullptr; ++variable) {
            environment.emplace_back(*variable);
        }
        std::vector<char*> envp;
        for (std::string& variable : environment) {
            envp.push_back(variable.data());
        }
        envp.push_back(nullptr);
        std::string program = "/proc/self/exe";
        std::string filter = "--gtest_filter=LogFaultsOtherProgram.AddsRecords";
        char* argv[] = {program.data(), filter.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t child = 0;
        const int spawned =
            ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        return spawned == 0 ? child : 0;
    }
};

// The other program of the case TwoProgramsAtOnce (see AddFromAnotherProgram); run
// on its own it has nothing to do.
TEST(LogFaultsOtherProgram, AddsRecords) {
    const char* path = std::getenv(OtherProgramLog);
    const char* records = std::getenv(OtherProgramRecords);
    if (path == nullptr || records == nullptr) {
        GTEST_SKIP() << "started by the case TwoProgramsAtOnce";
    }
    CalibrationLog other{fs::path(path)};
    for (int i = 0; i < std::atoi(records); ++i) {
        ASSERT_FALSE(other.AppendLine("9" + std::to_string(i) + ",01/01/07 00:00:00").Failed());
    }
}

TEST_P(LogFaults, NoRecordIsLostAndEveryRefusalSaysWhy) {
    const LogFault& fault = GetParam();
    if (fault.mode == fs::perms::none && geteuid() == 0) {
        GTEST_SKIP() << "the superuser reads unreadable files (scripts/test.sh runs this as an "
                        "ordinary user)";
    }
    WriteBytes(LogPath(), fault.bytes);
    fs::permissions(LogPath(), fault.mode);
    files::FileLock held;
    if (fault.holder == LockHolder::LiveProgram) {
        log.SetLockWait(std::chrono::milliseconds(300));
        ASSERT_TRUE(files::LockFile(log.LockPath(), held, std::chrono::milliseconds(0)));
    } else if (fault.holder == LockHolder::DeadProgram) {
        // Killed while it holds the lock, as a program that crashes mid-change.
        int locked[2];
        ASSERT_EQ(::pipe(locked), 0);
        Child dead([&] {
            files::FileLock lock;
            if (files::LockFile(log.LockPath(), lock, std::chrono::milliseconds(0)) &&
                ::write(locked[1], "l", 1) == 1) {
                ::pause();
            }
        });
        ASSERT_TRUE(dead.Started());
        char token = 0;
        EXPECT_EQ(::read(locked[0], &token, 1), 1);
        ::close(locked[0]);
        ::close(locked[1]);
        dead.Kill();
    }
    const pid_t other =
        fault.otherProgramRecords > 0 ? AddFromAnotherProgram(fault.otherProgramRecords) : 0;
    const CalibrationOutcome outcome = Act(fault.action, fault.meanwhile);
    for (int i = 0; i < fault.otherProgramRecords; ++i) {
        EXPECT_FALSE(log.AppendLine("8" + std::to_string(i) + ",01/01/07 00:00:00").Failed());
    }
    int otherStatus = 0;
    if (other > 0) {
        ASSERT_EQ(::waitpid(other, &otherStatus, 0), other);
        EXPECT_TRUE(WIFEXITED(otherStatus) && WEXITSTATUS(otherStatus) == 0) << otherStatus;
    }
    const fs::perms modeAfter = fs::status(LogPath()).permissions();
    fs::permissions(LogPath(), fs::perms::owner_all);
    const std::string bytesAfter = ReadBytes(LogPath());

    if (!fault.message.empty()) {
        EXPECT_EQ(outcome.kind, Kind::GeneralError);
        EXPECT_NE(outcome.text.find(Expected(fault.message)), std::string::npos) << outcome.text;
        EXPECT_TRUE(bytesAfter == (fault.meanwhile.empty() ? fault.bytes : fault.meanwhile))
            << "the file was changed";
        EXPECT_EQ(modeAfter, fault.mode);
        if (fault.loggerUntouched) {
            EXPECT_TRUE(logger.Requests().empty());
        }
        EXPECT_FALSE(logger.WriteAccessOpen());
        return;
    }
    EXPECT_NE(outcome.kind, Kind::GeneralError) << outcome.text;
    EXPECT_NE(outcome.kind, Kind::LinkError) << outcome.link.Number();
    EXPECT_EQ(modeAfter, fault.mode);
    // Saved in the program's own form (no byte-order mark, CR LF), and the list
    // shows the file as saved.
    CalibrationLog reloaded(LogPath());
    ASSERT_EQ(reloaded.Load().status, CalibrationLog::LoadStatus::Loaded);
    EXPECT_TRUE(bytesAfter == LogBytes(reloaded.Lines()));
    Lines ours;
    std::size_t fromOther = 0;
    std::size_t fromThis = 0;
    for (const std::string& line : reloaded.Lines()) {
        if (line.starts_with('9')) {
            ++fromOther;
        } else if (line.starts_with('8')) {
            ++fromThis;
        } else {
            ours.push_back(line);
        }
    }
    EXPECT_EQ(ours, fault.after);
    EXPECT_EQ(fromOther, static_cast<std::size_t>(fault.otherProgramRecords));
    EXPECT_EQ(fromThis, static_cast<std::size_t>(fault.otherProgramRecords));
    if (fault.otherProgramRecords == 0) {
        EXPECT_EQ(log.Lines(), reloaded.Lines()); // the list as saved
    }
}

INSTANTIATE_TEST_SUITE_P(Log, LogFaults, ::testing::ValuesIn(LogFaultCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A log path the record could never be saved to: refused before the logger is
// asked anything, naming the file at fault and why, and nothing on disk changes.
struct UnusablePath {
    const char* name;
    // Makes the situation in the folder; returns the log's path.
    std::function<fs::path(const fs::path& folder)> make;
    std::string message; // % is the folder
};

void PrintTo(const UnusablePath& path, std::ostream* out) {
    *out << path.name;
}

class UnusableLogPaths : public CalibrationFaults,
                         public ::testing::WithParamInterface<UnusablePath> {};

TEST_P(UnusableLogPaths, AreRefusedBeforeTheLoggerIsAsked) {
    const UnusablePath& path = GetParam();
    if (geteuid() == 0 && std::string(path.name).find("ReadOnly") != std::string::npos) {
        GTEST_SKIP() << "the superuser writes into read-only folders";
    }
    const fs::path logPath = path.make(folder.Path());
    for (const bool stop : {false, true}) {
        CalibrationLog unusable(logPath);
        const CalibrationOutcome outcome =
            stop ? StopCalibration(logger.PortName(), unusable, clock, formats, NoPause)
                 : StartCalibration(logger.PortName(), unusable, clock, NoPause);
        EXPECT_EQ(outcome.status, CalibrationStatus::Failed);
        std::string expected = path.message;
        for (auto at = expected.find('%'); at != std::string::npos; at = expected.find('%', at)) {
            expected.replace(at, 1, folder.Path().string());
            at += folder.Path().string().size();
        }
        EXPECT_NE(outcome.text.find(expected), std::string::npos) << outcome.text;
        EXPECT_NE(outcome.text.find("Nothing was sent to the Wellscribe."), std::string::npos);
        EXPECT_EQ(outcome.text.find("left unchanged"), std::string::npos)
            << "said of a file that is not there: " << outcome.text;
        EXPECT_TRUE(logger.Requests().empty());
    }
    fs::permissions(folder.Path(), fs::perms::owner_all);
}

INSTANTIATE_TEST_SUITE_P(
    Log, UnusableLogPaths,
    ::testing::Values(
        UnusablePath{"Fifo",
                     [](const fs::path& folder) {
                         EXPECT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
                         return folder / "pipe";
                     },
                     "%/pipe is a FIFO (named pipe), not a calibration log"},
        UnusablePath{"Device", [](const fs::path&) { return fs::path("/dev/null"); },
                     "/dev/null is a device, not a calibration log"},
        UnusablePath{"Folder",
                     [](const fs::path& folder) {
                         fs::create_directory(folder / "logs");
                         return folder / "logs";
                     },
                     "%/logs is a folder, not a calibration log"},
        UnusablePath{"MissingFolder",
                     [](const fs::path& folder) { return folder / "gone" / "LogTime.csv"; },
                     "Cannot save %/gone/LogTime.csv: the folder %/gone does not exist."},
        UnusablePath{"ReadOnlyFolder",
                     [](const fs::path& folder) {
                         fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
                         return folder / "LogTime.csv";
                     },
                     "Cannot save %/LogTime.csv: no new file can be made in its folder %"},
        UnusablePath{"LockFileOfAnotherAccount",
                     [](const fs::path& folder) {
                         // A lock file this account can neither open nor replace.
                         fs::create_directory(folder / "LogTime.csv.lock");
                         return folder / "LogTime.csv";
                     },
                     "Cannot lock %/LogTime.csv.lock, the lock file of %/LogTime.csv"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
