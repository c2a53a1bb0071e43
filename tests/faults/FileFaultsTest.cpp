// The report file, the calibration log and a memory dump onto an earlier one when
// the disk is full or read-only, when the program is killed in the middle of a
// save, when a name is as long as the system allows, and when LogTime.csv holds
// anything at all: the old file survives whole, nothing half-written is left or
// read back, and the error names the file and the reason.

#include "FaultSandbox.h"
#include "calibration/CalibrationLog.h"
#include "commands/MainWindowText.h"
#include "communication/ResultCodes.h"
#include "operations/OperationFixture.h"
#include "operations/Operations.h"
#include "report/ReportText.h"

#include <chrono>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace fault_sandbox;
using Lines = std::vector<std::string>;

const std::string OldReport =
    "Name=Old\r\nCompany=\r\nPhoneNo=5551234567\r\n" + std::string(900, 'r');
const Lines OldLog{"1234567,11/17/06 14:03:22",
                   "7654321,11/17/06 14:03:22,11/18/06 14:05:10,  23.456, 2 s/day"};

// `count` completed records, all with the same letter in them, each line unique.
Lines ManyLines(char letter, std::size_t count) {
    Lines lines;
    for (std::size_t i = 0; i < count; ++i) {
        lines.push_back(std::to_string(1000000 + i) + ",11/17/06 14:03:22,11/18/06 14:05:10," +
                        std::string(20, letter) + ", 2 s/day");
    }
    return lines;
}

void ExpectNamesTheFileAndReason(const std::string& error, const fs::path& file, int reason) {
    EXPECT_NE(error.find(file.string()), std::string::npos) << error;
    EXPECT_NE(error.find(std::strerror(reason)), std::string::npos) << error;
}

// ---------------------------------------------------------------------------
// A full disk: a tmpfs with no byte left, or a file size limit below the size
// of the new file.

class FullDisk : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { ASSERT_FALSE(folder.Path().empty()); }

    // Writes the old file, then leaves no room for a bigger one: the error a
    // write then meets.
    int FillUpAround(const fs::path& oldFile, const std::string& oldBytes, std::size_t newSize) {
        if (GetParam()) {
            if (const std::string why = folder.MountTiny(64 * 1024); !why.empty()) {
                skip = why;
                return 0;
            }
            WriteBytes(oldFile, oldBytes);
            if (const std::string why = folder.Fill(); !why.empty()) {
                skip = why;
            }
            return ENOSPC;
        }
        WriteBytes(oldFile, oldBytes);
        limit = std::make_unique<FileSizeLimit>(newSize / 2);
        if (!limit->Active()) {
            skip = "cannot set a file size limit";
        }
        return EFBIG;
    }
    // The old file and, on the tmpfs, the filler: nothing else.
    void ExpectOnly(const std::string& name) const {
        if (GetParam()) {
            Lines expected{"filler", name};
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(Names(folder.Path()), expected);
        } else {
            EXPECT_EQ(Names(folder.Path()), Lines{name});
        }
    }
    void MakeRoom() {
        limit.reset();
        fs::remove(folder / "filler");
    }

    ScratchFolder folder;
    std::unique_ptr<FileSizeLimit> limit;
    std::string skip;
};

TEST_P(FullDisk, ReportKeepsTheOldReportWhole) {
    const fs::path report = folder / "report.txt";
    const std::string fresh =
        ReportFileText({"Ann", "", "555-123-45", "", ""}, BuildReportBody({}, 0)) +
        std::string(8000, 'n');
    const int reason = FillUpAround(report, OldReport, fresh.size());
    if (!skip.empty()) {
        GTEST_SKIP() << skip;
    }
    EXPECT_EQ(WriteReportFile(report.string(), fresh), reason);
    MakeRoom();
    EXPECT_EQ(ReadBytes(report), OldReport);
    EXPECT_EQ(Names(folder.Path()), Lines{"report.txt"}) << "a partial report was left";

    ASSERT_EQ(WriteReportFile(report.string(), fresh), 0);
    EXPECT_EQ(ReadBytes(report), fresh);
}

TEST_P(FullDisk, LogKeepsTheOldLogWhole) {
    const fs::path path = CalibrationLog::PathIn(folder.Path());
    CalibrationLog log(path);
    log.SetLines(ManyLines('x', 400));
    const std::string fresh = LogBytes(log.Lines());
    const int reason = FillUpAround(path, LogBytes(OldLog), fresh.size());
    if (!skip.empty()) {
        GTEST_SKIP() << skip;
    }
    const CalibrationLog::SaveError error = log.Save();
    ASSERT_TRUE(error);
    ExpectNamesTheFileAndReason(*error, path, reason);
    ExpectOnly("LogTime.csv");
    EXPECT_EQ(ReadBytes(path), LogBytes(OldLog));

    // The list keeps its lines; the next save once there is room writes them.
    EXPECT_EQ(log.Count(), 400u);
    MakeRoom();
    ASSERT_FALSE(log.Save());
    EXPECT_EQ(ReadBytes(path), fresh);
}

std::string DiskName(const ::testing::TestParamInfo<bool>& info) {
    return info.param ? "Tmpfs" : "FileSizeLimit";
}
INSTANTIATE_TEST_SUITE_P(Save, FullDisk, ::testing::Values(false), DiskName);
// Mounting the tmpfs needs the superuser: the root-only pass.
INSTANTIATE_TEST_SUITE_P(RootOnly, FullDisk, ::testing::Values(true), DiskName);

// ---------------------------------------------------------------------------
// A read-only folder.

class ReadOnlyFolder : public ::testing::Test {
protected:
    // The old report and log, then the folder sealed; false (and skip set) when
    // the machine cannot make a folder read-only for this process.
    bool Prepare() {
        if (folder.Path().empty()) {
            skip = "no scratch folder";
            return false;
        }
        if (geteuid() == 0) {
            if (const std::string why = folder.MountTiny(1 << 20); !why.empty()) {
                skip = "running as root, where permission bits do not stop writes, and " + why;
                return false;
            }
        }
        WriteBytes(folder / "report.txt", OldReport);
        WriteBytes(CalibrationLog::PathIn(folder.Path()), LogBytes(OldLog));
        skip = folder.SealReadOnly();
        return skip.empty();
    }
    void ExpectUntouched() const {
        EXPECT_EQ(ReadBytes(folder / "report.txt"), OldReport);
        EXPECT_EQ(ReadBytes(CalibrationLog::PathIn(folder.Path())), LogBytes(OldLog));
        EXPECT_EQ(Names(folder.Path()), (Lines{"LogTime.csv", "report.txt"}));
    }
    // EROFS on the read-only mount, EACCES under permission bits.
    static int Reason() { return geteuid() == 0 ? EROFS : EACCES; }

    ScratchFolder folder;
    std::string skip;
};

TEST_F(ReadOnlyFolder, ReportAndLogSavesFailWithTheReasonAndChangeNothing) {
    if (!Prepare()) {
        GTEST_SKIP() << skip;
    }
    EXPECT_EQ(WriteReportFile((folder / "report.txt").string(), "new"), Reason());
    EXPECT_EQ(WriteReportFile((folder / "other.txt").string(), "new"), Reason());

    const fs::path path = CalibrationLog::PathIn(folder.Path());
    CalibrationLog log(path);
    ASSERT_EQ(log.Load().status, CalibrationLog::LoadStatus::Loaded); // reading still works
    EXPECT_EQ(log.Lines(), OldLog);
    log.Append("42,01/01/07 00:00:00");
    // Sealed (by permission bits or a read-only mount) the log itself is read-only.
    const auto expectRefused = [&](const CalibrationLog::SaveError& error) {
        ASSERT_TRUE(error);
        EXPECT_EQ(error->rfind("LogTime.csv is read-only: " + path.string(), 0), 0u) << *error;
    };
    expectRefused(log.Save());
    expectRefused(log.RemoveCompleted());
    ExpectUntouched();
}

// ---------------------------------------------------------------------------
// The program killed in the middle of a log save.

// A pipe whose ends are closed however the test ends.
struct Pipe {
    Pipe() {
        if (::pipe(ends) != 0) {
            ends[0] = ends[1] = -1;
        }
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    void CloseRead() { Close(ends[0]); }
    void CloseWrite() { Close(ends[1]); }
    static void Close(int& fd) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
    int ends[2];
};

TEST(KilledSave, LeavesTheOldLogOrTheNewOneNeverAMix) {
    ScratchFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    const fs::path path = CalibrationLog::PathIn(folder.Path());
    // Two large logs that differ in every line and in length.
    const Lines a = ManyLines('a', 3000);
    const Lines b = ManyLines('b', 2000);
    CalibrationLog first(path);
    first.SetLines(a);
    const auto before = std::chrono::steady_clock::now();
    ASSERT_FALSE(first.Save());
    const auto saveTime = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - before);

    std::mt19937 random(20061117u);
    std::uniform_int_distribution<int> savesFirst(1, 3);
    std::uniform_int_distribution<long> into(0, 2 * saveTime.count() + 200);
    int leftovers = 0;
    for (int round = 0; round < 25; ++round) {
        Pipe saved;
        ASSERT_GE(saved.ends[0], 0);
        Child child([&] {
            ::close(saved.ends[0]);
            CalibrationLog log(path);
            for (int i = 0;; ++i) {
                log.SetLines(i % 2 == 0 ? b : a);
                if (log.Save()) {
                    ::_exit(3);
                }
                if (::write(saved.ends[1], "s", 1) != 1) {
                    ::_exit(4);
                }
            }
        });
        ASSERT_TRUE(child.Started());
        saved.CloseWrite();
        // A few whole saves, then the kill lands at a random moment of the next
        // one: while the new file is written, flushed, renamed, or in between.
        for (int n = savesFirst(random); n > 0; --n) {
            char token = 0;
            ASSERT_EQ(::read(saved.ends[0], &token, 1), 1) << "the saving child died";
        }
        std::this_thread::sleep_for(std::chrono::microseconds(into(random)));
        const int status = child.Kill();
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended on its own: " << status;

        CalibrationLog reloaded(path);
        ASSERT_EQ(reloaded.Load().status, CalibrationLog::LoadStatus::Loaded) << round;
        const bool whole = reloaded.Lines() == a || reloaded.Lines() == b;
        ASSERT_TRUE(whole) << "round " << round << ": " << reloaded.Count() << " lines";
    }

    // Whatever a killed save left beside the log, the next save goes through; the
    // leftovers keep names of their own and are never taken for the log.
    CalibrationLog next(path);
    next.SetLines(OldLog);
    ASSERT_FALSE(next.Save());
    EXPECT_EQ(ReadBytes(path), LogBytes(OldLog));
    for (const std::string& name : Names(folder.Path())) {
        if (name != "LogTime.csv") {
            EXPECT_EQ(name.rfind("LogTime.csv.new-", 0), 0u) << name;
            ++leftovers;
        }
    }
    RecordProperty("leftover_new_files", leftovers);
}

TEST(KilledSave, AHalfWrittenNewFileIsNeverTakenForTheLog) {
    ScratchFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    const fs::path path = CalibrationLog::PathIn(folder.Path());
    // Killed after writing part of the new text and before the rename.
    WriteBytes(path, LogBytes(OldLog));
    const std::string leftover = "LogTime.csv.new-" + std::to_string(::getpid()) + "-0";
    const std::string halfWritten = "9999999,01/01/07 00:00:00\r\n1234";
    WriteBytes(folder / leftover, halfWritten);
    CalibrationLog log(path);
    ASSERT_EQ(log.Load().status, CalibrationLog::LoadStatus::Loaded);
    EXPECT_EQ(log.Lines(), OldLog);
    // Killed before the first log was ever renamed into place: no log at all.
    fs::remove(path);
    CalibrationLog none(path);
    none.SetLines({"kept"});
    EXPECT_EQ(none.Load().status, CalibrationLog::LoadStatus::Missing);
    EXPECT_EQ(none.Lines(), Lines{"kept"});
    EXPECT_FALSE(none.RemoveCompleted()) << "no log: nothing is written";
    EXPECT_FALSE(fs::exists(path));

    // The next save writes a file of its own and leaves the leftover as it is.
    ASSERT_FALSE(log.Save());
    EXPECT_EQ(ReadBytes(path), LogBytes(OldLog));
    EXPECT_EQ(Names(folder.Path()), (Lines{"LogTime.csv", leftover}));
    EXPECT_EQ(ReadBytes(folder / leftover), halfWritten);
}

// ---------------------------------------------------------------------------
// Names as long as the system allows (255 bytes): the new file written beside the
// old one before it takes the name fits as well, and none is left.

TEST(LongestNames, ReportAndLogAreReplacedUnderThem) {
    ScratchFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    for (const std::size_t length : {245u, 250u, 255u}) {
        const fs::path report = folder / (std::string(length - 4, 'r') + ".txt");
        const fs::path log = folder / (std::string(length - 4, 'l') + ".csv");
        WriteBytes(report, OldReport);
        WriteBytes(log, LogBytes(OldLog));

        EXPECT_EQ(WriteReportFile(report.string(), "Name=New"), 0) << length;
        EXPECT_EQ(ReadBytes(report), "Name=New");
        CalibrationLog saved(log);
        saved.SetLines(ManyLines('x', 3));
        const CalibrationLog::SaveError error = saved.Save();
        EXPECT_FALSE(error) << length << ": " << *error;
        EXPECT_EQ(ReadBytes(log), LogBytes(ManyLines('x', 3)));
        EXPECT_EQ(Names(folder.Path()).size(), 2u) << "a temporary file was left";
        fs::remove(report);
        fs::remove(log);
    }
}

// ---------------------------------------------------------------------------
// A memory dump onto an earlier dump that the disk or the folder does not let
// finish: the earlier dump stays byte for byte, the blocks read are beside it as
// the message says, and a file that cannot be had stops the dump before the logger
// is asked anything.

enum class DumpFault {
    FileSizeLimit,      // the blocks' file grows past a limit
    ReadOnlyEarlier,    // the earlier dump is marked read-only
    ReadOnlyLeftover,   // an earlier dump's ".partial" is read-only
    FolderSealedAtLast, // the folder takes no rename once the last block is in
};
struct DumpFileFault {
    const char* name;
    DumpFault fault;
    ResultCode result;
    std::size_t requests;     // the logger's requests
    std::size_t partialBytes; // logger.hex.partial's size afterwards
    const char* failed;       // the file the message names: "" the chosen one, or its suffix
};

class DumpOntoEarlier : public OperationFixture,
                        public ::testing::WithParamInterface<DumpFileFault> {
protected:
    void SetUp() override {
        StartLogger();
        ASSERT_FALSE(folder.Path().empty());
    }
    ScratchFolder folder;
};

TEST_P(DumpOntoEarlier, KeepsTheEarlierDumpAndSaysWhereTheBlocksAre) {
    const DumpFileFault& when = GetParam();
    const bool permissionBits =
        when.fault != DumpFault::FileSizeLimit && when.fault != DumpFault::ReadOnlyEarlier;
    if (permissionBits && ::geteuid() == 0) {
        GTEST_SKIP() << "running as root, where permission bits do not stop writes";
    }
    const fs::path file = folder / "logger.hex";
    const fs::path partial = folder / "logger.hex.partial";
    const std::string earlier(5000, '\x5A');
    WriteBytes(file, earlier);
    std::unique_ptr<FileSizeLimit> limit;
    OperationHooks hooks;
    switch (when.fault) {
    case DumpFault::FileSizeLimit:
        limit = std::make_unique<FileSizeLimit>(40 * 256 + 100);
        ASSERT_TRUE(limit->Active());
        break;
    case DumpFault::ReadOnlyEarlier:
        fs::permissions(file, fs::perms::owner_read);
        break;
    case DumpFault::ReadOnlyLeftover:
        WriteBytes(partial, std::string(300, 'p'));
        fs::permissions(partial, fs::perms::owner_read);
        break;
    case DumpFault::FolderSealedAtLast:
        hooks.blockWritten = [&](std::uint32_t blocks) {
            if (blocks == DumpBlockCount) {
                fs::permissions(folder.Path(), fs::perms::owner_read | fs::perms::owner_exec);
            }
        };
        break;
    }
    DumpRecord record;
    const LinkOutcome outcome =
        DumpMemory(logger.PortName(), file.string(), RecordingSleeper(), hooks, &record);
    limit.reset();
    fs::permissions(folder.Path(), fs::perms::owner_all);

    EXPECT_EQ(outcome.code, when.result);
    EXPECT_EQ(logger.Requests().size(), when.requests);
    EXPECT_TRUE(ReadBytes(file) == earlier) << "the earlier dump was changed";
    const std::string blocks = ReadBytes(partial);
    EXPECT_EQ(blocks.size(), when.partialBytes);
    if (when.fault != DumpFault::ReadOnlyLeftover) {
        const std::vector<std::uint8_t> memory = logger.Memory(0, blocks.size());
        EXPECT_TRUE(blocks == std::string(memory.begin(), memory.end()));
    }
    const int reason = when.fault == DumpFault::FileSizeLimit ? EFBIG : EACCES;
    std::string expected = "Unable to save memory dump\nCannot write " + file.string() +
                           when.failed + ": " + std::strerror(reason);
    if (when.result == OP_ERR_FILE_WRITE) {
        const std::size_t read = blocks.size() / 256;
        expected += "\nThe dump ended after " + std::to_string(read) +
                    " of 1056 blocks. The earlier dump " + file.string() + " was kept as it was; " +
                    partial.string() + " holds the first " + std::to_string(read * 256) + " bytes.";
    }
    EXPECT_EQ(DumpOutcomeFor(outcome, record, "A1:", file.string()).text, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Dump, DumpOntoEarlier,
    ::testing::Values(DumpFileFault{"FileSizeLimit", DumpFault::FileSizeLimit, OP_ERR_FILE_WRITE,
                                    41, 40 * 256 + 100, ".partial"},
                      DumpFileFault{"ReadOnlyEarlier", DumpFault::ReadOnlyEarlier, OP_ERR_FILE_OPEN,
                                    0, 0, ""},
                      DumpFileFault{"ReadOnlyLeftover", DumpFault::ReadOnlyLeftover,
                                    OP_ERR_FILE_OPEN, 0, 300, ".partial"},
                      DumpFileFault{"FolderSealedAtLast", DumpFault::FolderSealedAtLast,
                                    OP_ERR_FILE_WRITE, DumpBlockCount, DumpBlockCount * 256, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Whatever LogTime.csv holds.

struct Malformed {
    const char* name;
    std::string bytes;
};

std::string RandomBytes(std::size_t size, bool zeros) {
    std::mt19937 random(static_cast<unsigned>(size));
    std::uniform_int_distribution<int> byte(zeros ? 0 : 1, 255);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(byte(random));
    }
    return bytes;
}

std::vector<Malformed> MalformedLogs() {
    using namespace std::string_literals;
    return {
        {"RandomBytes", RandomBytes(64 * 1024, false)},
        {"RandomBytesWithZeros", RandomBytes(4096, true)},
        {"OnlyZeroBytes", std::string(1000, '\0')},
        {"ZeroByteInTheMiddle", "1,01/01/07 00:00:00\r\n\0after\r\n"s},
        {"VeryLongLine", std::string(1 << 20, 'x') + "\r\n1,01/01/07 00:00:00"},
        {"OnlyCarriageReturns", std::string(5000, '\r')},
        {"LineEndsInEveryOrder", "a\n\rb\r\r\nc\n\n\r\r\n"},
        {"NoLineEndAtAll", "1234567,11/17/06 14:03:22"},
    };
}

class MalformedLog : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedLog, LoadsWithoutHarmAndRoundTripsThroughASave) {
    ScratchFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    const fs::path path = CalibrationLog::PathIn(folder.Path());
    WriteBytes(path, GetParam().bytes);
    CalibrationLog log(path);
    if (GetParam().bytes.find('\0') != std::string::npos) {
        // A zero byte is no text: the load fails, and says where.
        const CalibrationLog::LoadResult result = log.Load();
        ASSERT_EQ(result.status, CalibrationLog::LoadStatus::Failed);
        EXPECT_NE(result.error.find("holds a zero byte"), std::string::npos) << result.error;
        EXPECT_TRUE(log.Lines().empty());
        return;
    }
    ASSERT_EQ(log.Load().status, CalibrationLog::LoadStatus::Loaded);

    // The rules: the text ends at the first zero byte; every CR and every LF ends
    // a line, a CR LF pair only one; anything after the last end is a line too.
    const std::string_view text(GetParam().bytes.data(),
                                std::min(GetParam().bytes.find('\0'), GetParam().bytes.size()));
    std::size_t ends = 0;
    std::string characters;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))) {
            ++ends;
        }
        if (text[i] != '\r' && text[i] != '\n') {
            characters += text[i];
        }
    }
    const bool tail = !text.empty() && text.back() != '\r' && text.back() != '\n';
    EXPECT_EQ(log.Count(), ends + (tail ? 1 : 0));
    std::string joined;
    for (const std::string& line : log.Lines()) {
        joined += line;
    }
    EXPECT_TRUE(joined == characters) << "characters lost, added or reordered";

    // Written back line by line with CR LF, and read back the same.
    ASSERT_FALSE(log.Save());
    EXPECT_TRUE(ReadBytes(path) == LogBytes(log.Lines()));
    CalibrationLog again(path);
    ASSERT_EQ(again.Load().status, CalibrationLog::LoadStatus::Loaded);
    EXPECT_TRUE(again.Lines() == log.Lines());
}

INSTANTIATE_TEST_SUITE_P(Load, MalformedLog, ::testing::ValuesIn(MalformedLogs()),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
