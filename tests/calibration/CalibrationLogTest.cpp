// The calibration log file: line splitting, line states, lookup by serial
// number, and saves that never lose the previous log.

#include "calibration/CalibrationLog.h"

#include "support/TemporaryFolder.h"

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

const std::string Started = "1234567,11/17/06 14:03:22"; // 25
const std::string Completed = "1234567,11/17/06 14:03:22,11/18/06 14:05:10,  23.456, 2 s/day";

class LogFile : public ::testing::Test {
protected:
    fs::path LogPath() const { return CalibrationLog::PathIn(directory); }

    void WriteFile(const std::string& bytes) const {
        std::ofstream(LogPath(), std::ios::binary) << bytes;
    }
    std::string ReadFile() const {
        std::ifstream in(LogPath(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    TemporaryFolder scratch{"onyx-log"};
    const fs::path& directory = scratch.Path();
};

TEST_F(LogFile, SplitsAtCrLfAndCrLfPairs) {
    EXPECT_EQ(SplitLogText("a\rb\nc\r\nd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLogText("a\r\n"), (Lines{"a"}));
    EXPECT_EQ(SplitLogText("\r\n\r\n"), (Lines{"", ""}));
    EXPECT_EQ(SplitLogText(""), Lines{});
    // LF CR: the LF ends the line, the CR ends an extra empty one.
    EXPECT_EQ(SplitLogText("R\n\r"), (Lines{"R", ""}));
    // The text ends at a zero byte.
    EXPECT_EQ(SplitLogText(std::string("a\r\nb\0c\r\nd", 9)), (Lines{"a", "b"}));
    EXPECT_EQ(SplitLogText(std::string("\0a", 2)), Lines{});
}

TEST_F(LogFile, LoadsAndWritesBackWithCrLfAfterEveryLine) {
    WriteFile("R\n\r");
    CalibrationLog log(LogPath());
    ASSERT_EQ(log.Load().status, CalibrationLog::LoadStatus::Loaded);
    EXPECT_EQ(log.Lines(), (Lines{"R", ""}));
    ASSERT_FALSE(log.Save());
    EXPECT_EQ(ReadFile(), "R\r\n\r\n");

    log.SetLines({});
    ASSERT_FALSE(log.Save());
    EXPECT_TRUE(fs::exists(LogPath()));
    EXPECT_EQ(ReadFile(), "");
    // No file of the save is left beside the log.
    EXPECT_EQ(std::distance(fs::directory_iterator(directory), fs::directory_iterator{}), 1);
}

TEST_F(LogFile, MissingOrUnreadableFileLeavesTheList) {
    CalibrationLog log(LogPath());
    log.SetLines({"kept"});
    EXPECT_EQ(log.Load().status, CalibrationLog::LoadStatus::Missing);
    EXPECT_EQ(log.Lines(), Lines{"kept"});

    fs::create_directory(LogPath()); // a name that cannot be read as a file
    const auto result = log.Load();
    EXPECT_EQ(result.status, CalibrationLog::LoadStatus::Failed);
    EXPECT_NE(result.error.find("LogTime.csv"), std::string::npos) << result.error;
    EXPECT_EQ(log.Lines(), Lines{"kept"});
}

TEST_F(LogFile, LineStatesFollowTheShapeOfTheRecords) {
    using State = CalibrationLog::LineState;
    const struct {
        std::string line;
        State state;
    } cases[] = {
        {Started, State::InProgress},
        {Completed, State::Completed},
        {"1234567,11/17/06 14:03:22,11/18/06 14:05:10,  23.456, -12 s/day", State::Completed},
        {"1,11/17/06 14:03:22,11/18/06 14:05:10,, 0 s/day", State::Completed}, // no temperature
        // A spreadsheet pads a started record with empty fields.
        {"2222222,01/05/26 09:00:00,,,", State::InProgress},
        {"2222222,01/05/26 09:00:00, , ,", State::InProgress},
        // Neither: shown unchecked, never removed, whatever their length.
        {std::string(27, 'x'), State::Other},
        {std::string(28, 'x'), State::Other},
        {"", State::Other},
        {"1234567", State::Other},
        {"1234567,", State::Other},
        {"serial,11/17/06 14:03:22", State::Other},
        {"1234567,11/17/06 14:03:22, 2 s/day", State::Other},           // no clock
        {"1234567,11/17/06 14:03:22,,  23.456, 2 s/day", State::Other}, // empty clock
        {"1234567,11/17/06 14:03:22,11/18/06 14:05:10,  23.456, x s/day", State::Other},
        {"1234567,11/17/06 14:03:22,11/18/06 14:05:10,  23.456, 2 s/days", State::Other},
        {"1234567,11/17/06 14:03:22,11/18/06 14:05:10,  23.456,2 s/day", State::Other},
        {"1234567,11/17/06 14:03:22,x", State::Other},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CalibrationLog::StateOf(c.line), c.state) << c.line;
    }
    // A padded record is stopped from its start time and completed in the usual shape.
    const std::string padded = "2222222,01/05/26 09:00:00,,,";
    EXPECT_EQ(StartTimeText(padded), "01/05/26 09:00:00");
    const std::string done = CompletedRecord(padded, 0.0, "  20.000", 9);
    EXPECT_EQ(done.rfind("2222222,01/05/26 09:00:00,", 0), 0u) << done;
    EXPECT_EQ(done.find(",,"), std::string::npos) << done;
    EXPECT_EQ(CalibrationLog::StateOf(done), State::Completed) << done;
}

TEST_F(LogFile, FindsTheSerialNumberInTheFirstFieldOnly) {
    CalibrationLog log(LogPath());
    log.SetLines({"1234567,11/17/06 14:03:22", "99,12/12/12 12:12:12", "12,01/02/07 03:04:05",
                  "123", "", Completed, "55"});
    EXPECT_EQ(log.Find(12), 2u);      // not 1234567's line, nor a date holding "12"
    EXPECT_EQ(log.Find(123), 3u);     // a line without a comma is all first field
    EXPECT_EQ(log.Find(1234567), 0u); // the first in list order
    EXPECT_EQ(log.Find(55), 6u);
    EXPECT_FALSE(log.Find(1));
    EXPECT_FALSE(log.Find(14));
    EXPECT_FALSE(log.Find(0));
    // A completed line ahead of a started one of the same logger is found first.
    log.SetLines({Completed, Started});
    EXPECT_EQ(log.Find(1234567), 0u);
}

TEST_F(LogFile, RemoveCompletedRewritesTheFileWithTheRest) {
    WriteFile(Completed + "\r\n" + Completed + "\r\n" + Started + "\r\n");
    CalibrationLog log(LogPath());
    ASSERT_EQ(log.Load().status, CalibrationLog::LoadStatus::Loaded);
    ASSERT_FALSE(log.RemoveCompleted());
    EXPECT_EQ(log.Lines(), Lines{Started});
    EXPECT_EQ(ReadFile(), Started + "\r\n");
}

// A line that begins with a byte-order mark's bytes and becomes the first line is
// never read back as the file's mark: it keeps its bytes, or the log fails to load.
TEST_F(LogFile, AFirstLineThatBeginsLikeAByteOrderMarkIsNeverMisread) {
    for (const std::string& marked : {"\xEF\xBB\xBF" + Started, "\xFE\xFF" + Started}) {
        WriteFile(Completed + "\r\n" + marked + "\r\n");
        CalibrationLog log(LogPath());
        ASSERT_EQ(log.Load().status, CalibrationLog::LoadStatus::Loaded);
        ASSERT_FALSE(log.RemoveCompleted());
        CalibrationLog again(LogPath());
        const bool loaded = again.Load().status == CalibrationLog::LoadStatus::Loaded;
        EXPECT_TRUE(loaded ? again.Lines() == Lines{marked} : marked.starts_with("\xFE"));
    }
}

TEST_F(LogFile, RemoveCompletedWritesNoFileWhenItWasDeleted) {
    WriteFile(Started + "\r\n" + Completed + "\r\n");
    CalibrationLog log(LogPath());
    ASSERT_EQ(log.Load().status, CalibrationLog::LoadStatus::Loaded);
    fs::remove(LogPath());
    ASSERT_FALSE(log.RemoveCompleted());
    EXPECT_EQ(log.Lines(), Lines{Started});
    EXPECT_FALSE(fs::exists(LogPath()));
}

TEST_F(LogFile, FailedSaveKeepsTheOldFileWhole) {
    const std::string old = Started + "\r\n";
    WriteFile(old);
    CalibrationLog log(LogPath());
    log.SetLines({Started, Completed});

    // The new file cannot be made beside the log: no file descriptor is left.
    struct rlimit files {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    const int lowest = dup(0);
    ASSERT_GE(lowest, 0);
    close(lowest);
    struct rlimit none = files;
    none.rlim_cur = static_cast<rlim_t>(lowest);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    const auto error = log.Save();
    setrlimit(RLIMIT_NOFILE, &files);
    ASSERT_TRUE(error);
    EXPECT_NE(error->find(LogPath().string()), std::string::npos) << *error;
    EXPECT_EQ(ReadFile(), old);

    // The disk fills up while the new text is written.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto full = log.Save();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    ASSERT_TRUE(full);
    EXPECT_NE(full->find("LogTime.csv"), std::string::npos) << *full;
    EXPECT_NE(full->find(": "), std::string::npos) << *full; // with the system's reason
    EXPECT_EQ(ReadFile(), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(directory), fs::directory_iterator()), 1);

    // And once the disk has room again the save goes through.
    ASSERT_FALSE(log.Save());
    EXPECT_EQ(ReadFile(), Started + "\r\n" + Completed + "\r\n");
}

TEST_F(LogFile, TwoSavesAtOnceNeverMixTheirBytes) {
    // Two programs saving the same log: each writes a file of its own.
    const Lines first{Started};
    const Lines second{Completed, Started, Completed};
    std::atomic<int> failures{0};
    const auto saveMany = [&](const Lines& lines) {
        CalibrationLog log(LogPath());
        log.SetLines(lines);
        for (int i = 0; i < 100; ++i) {
            failures += log.Save() ? 1 : 0;
        }
    };
    std::thread one(saveMany, first);
    std::thread other(saveMany, second);
    one.join();
    other.join();
    EXPECT_EQ(failures, 0);
    CalibrationLog reloaded(LogPath());
    ASSERT_EQ(reloaded.Load().status, CalibrationLog::LoadStatus::Loaded);
    EXPECT_TRUE(reloaded.Lines() == first || reloaded.Lines() == second) << ReadFile();
    EXPECT_EQ(std::distance(fs::directory_iterator(directory), fs::directory_iterator()), 1);
}

TEST_F(LogFile, ALogThatIsASymbolicLinkIsSavedAtItsTarget) {
    fs::create_directory(directory / "kept");
    std::ofstream(directory / "kept" / "calibrations.csv", std::ios::binary) << Started << "\r\n";
    fs::create_symlink(fs::path("kept") / "calibrations.csv", LogPath());
    CalibrationLog log(LogPath());
    ASSERT_EQ(log.Load().status, CalibrationLog::LoadStatus::Loaded);
    log.Append(Completed);
    ASSERT_FALSE(log.Save());
    EXPECT_TRUE(fs::is_symlink(LogPath()));
    EXPECT_EQ(ReadFile(), Started + "\r\n" + Completed + "\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(directory / "kept"), fs::directory_iterator()),
              1);
}

TEST_F(LogFile, SaveIntoAReadOnlyFolderFailsWithoutHarm) {
    if (geteuid() == 0) {
        // scripts/test.sh runs this as an ordinary user.
        GTEST_SKIP() << "the superuser writes into read-only folders";
    }
    const std::string old = Started + "\r\n";
    WriteFile(old);
    CalibrationLog log(LogPath());
    log.SetLines({Completed});
    fs::permissions(directory, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_TRUE(log.Save());
    fs::permissions(directory, fs::perms::owner_all);
    EXPECT_EQ(ReadFile(), old);
}

} // namespace
