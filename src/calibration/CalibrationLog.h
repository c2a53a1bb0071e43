#pragma once

#include "calibration/DateTimeValue.h"
#include "files/FileSystem.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A stop whose measurement is noted but not yet in the log: the correction to
// write into the logger and the completed record to put in the log. Kept in
// "LogTime.csv.pending" beside the log, one "serial,correction,record" a line,
// until the record is saved; the log's own lines never hold this state.
struct PendingStop {
    std::uint32_t serialNumber = 0;
    std::int16_t correction = 0;
    std::string record;
};

// The calibration log LogTime.csv beside the executable: one line per logger,
// "serial,start" while its calibration runs, "serial,start,clock,temperature, R s/day"
// once completed.
//
// The file is the truth, and other programs (a second copy of the program, the
// command-line tool) may change it at any time. So every change goes through
// Change: it takes the log's lock, reads the file as it is now, applies that one
// change to it and saves it, and the log then holds the lines as saved. A file
// that cannot be read whole is never replaced.
class CalibrationLog {
public:
    static constexpr std::string_view FileName = "LogTime.csv";
    // The lock file beside the log: "LogTime.csv.lock".
    static constexpr std::string_view LockSuffix = ".lock";
    // The noted stops beside the log: "LogTime.csv.pending".
    static constexpr std::string_view PendingSuffix = ".pending";
    // How long a change waits for another program's lock before giving up.
    static constexpr std::chrono::milliseconds DefaultLockWait{5000};

    enum class LoadStatus {
        Loaded,  // the list now holds every line of the file
        Missing, // no file: the list is left as it was
        Failed,  // the file exists but cannot be read whole; the list is left as it was
    };
    struct LoadResult {
        LoadStatus status = LoadStatus::Loaded;
        // For Failed: the file, the reason, and that the file was left unchanged.
        std::string error;
    };
    // Empty on success, else the text for the program's general error reporting:
    // the file name and the reason.
    using SaveError = std::optional<std::string>;

    enum class LineState {
        InProgress, // a started record, trailing empty fields allowed
        Completed,  // serial, start, clock, temperature, ", R s/day"
        Other,      // anything else: shown unchecked, never removed
    };

    // One change to the lines as they are in the file now; returns false when it
    // changes nothing (then nothing is written). It may set a refusal text for
    // its caller through what it captures.
    using Edit = std::function<bool(std::vector<std::string>& lines)>;
    enum class WhenMissing {
        Create,   // no file: the edit applies to the list as it is, and the file is created
        ListOnly, // no file: the edit applies to the list only, and no file is written
    };
    enum class ChangeStatus {
        Saved,     // applied to the file as it was and saved; Lines() is the file now
        Unchanged, // the edit changed nothing; Lines() is the file now
        ListOnly,  // no file, WhenMissing::ListOnly: Lines() changed, nothing written
        Failed,    // the file was left unchanged; error says why
    };
    struct ChangeResult {
        ChangeStatus status = ChangeStatus::Saved;
        std::string error; // for Failed: the file, the reason, that it was left unchanged
        bool Failed() const { return status == ChangeStatus::Failed; }
    };

    // The log in the executable's directory.
    static std::filesystem::path PathIn(const std::filesystem::path& executableDirectory);

    explicit CalibrationLog(std::filesystem::path file);
    ~CalibrationLog();
    CalibrationLog(CalibrationLog&&) = default;
    CalibrationLog& operator=(CalibrationLog&&) = default;

    const std::filesystem::path& Path() const { return file; }
    std::filesystem::path LockPath() const;
    std::filesystem::path PendingPath() const;
    const std::vector<std::string>& Lines() const { return lines; }
    std::size_t Count() const { return lines.size(); }
    const std::string& Line(std::size_t index) const { return lines.at(index); }
    LineState State(std::size_t index) const { return StateOf(lines.at(index)); }
    bool IsCompleted(std::size_t index) const { return IsCompletedLine(lines.at(index)); }
    static LineState StateOf(std::string_view line);
    static bool IsCompletedLine(std::string_view line) {
        return StateOf(line) == LineState::Completed;
    }

    // Reads the whole file (see DecodeLogText) and, when it reads, replaces the
    // list with its lines. A path that is no regular file (a folder, a FIFO, a
    // device) fails at once, without being opened.
    LoadResult Load();

    // The checks a start or a stop makes before it sends the logger anything, so
    // that its record can be saved once the logger is changed: the log's lock is
    // taken (and kept until ReleaseLock), the log and the noted stops read whole,
    // the path is a regular file or none, its folder takes new files, and the log
    // is not read-only. The text names the file at fault and the reason.
    SaveError PrepareChange();
    // PrepareChange's checks that the log can be replaced, without the lock or a
    // read: the path is a regular file or none, not read-only, and its folder
    // exists and takes new files. For telling the user before a change is tried.
    SaveError ReplaceCheck() const;
    // Keeps the log's lock until ReleaseLock: a sequence that changes the logger
    // and then the log is one change for other programs. Other copies of the log
    // in this program share the lock, and their changes take turns.
    files::FileResult HoldLock();
    void ReleaseLock();

    // The noted stop of a logger, if any (see PendingStop); error when the file of
    // noted stops cannot be read whole.
    std::optional<PendingStop> FindPending(std::uint32_t serialNumber, std::string& error) const;
    // Notes a logger's stop, replacing an earlier note of it; saved to disk first.
    SaveError NotePending(const PendingStop& stop);
    // Drops a logger's note; the file goes when it holds no more.
    SaveError DropPending(std::uint32_t serialNumber);
    bool FileExists() const;

    // The first line whose first field (the text before its first comma) is the
    // serial number in decimal.
    std::optional<std::size_t> Find(std::uint32_t serialNumber) const;
    static std::optional<std::size_t> Find(const std::vector<std::string>& lines,
                                           std::uint32_t serialNumber);

    // The one way to change the log: under the lock (waited for up to the lock
    // wait), the file read as it is now (a missing file gives the list as it is),
    // the edit applied, the lines saved. A file that cannot be read is not
    // replaced. When the lock cannot be had or the save fails, the list shows the
    // change (so the user still sees the line the message is about) but the file
    // is as it was.
    ChangeResult Change(const Edit& edit, WhenMissing whenMissing = WhenMissing::Create);
    void SetLockWait(std::chrono::milliseconds wait) { lockWait = wait; }

    // The changes the dialog makes, each one Change.
    ChangeResult AppendLine(std::string line);
    // Drops the completed lines; no file: the list only.
    ChangeResult RemoveCompletedLines();

    void Append(std::string line);
    void Replace(std::size_t index, std::string line);
    void SetLines(std::vector<std::string> newLines) { lines = std::move(newLines); }

    // Every line followed by CR LF, as the file's whole new content (through
    // files::ReplaceFileContents: a new file, flushed, renamed over the log; a
    // symbolic link is replaced at its target; a read-only log is refused). Saves
    // the list as it is, without the lock or a fresh read: for a caller that owns
    // the file.
    SaveError Save() const;
    // The save's refusal of a read-only log, asked before a change is begun.
    SaveError ReadOnlyError() const;
    // RemoveCompletedLines, as a SaveError.
    SaveError RemoveCompleted();

    struct SharedLock;

private:
    // A path that is no regular file (nor missing), or cannot be looked at: why.
    SaveError KindError() const;
    using PendingEdit = std::function<void(std::vector<PendingStop>&)>;
    SaveError ChangePending(const PendingEdit& edit);

    std::filesystem::path file;
    std::vector<std::string> lines;
    std::chrono::milliseconds lockWait = DefaultLockWait;
    std::shared_ptr<SharedLock> heldLock;
};

// The noted stops' file text, and back; false with error (naming the line) when
// a line is no noted stop.
std::string PendingText(const std::vector<PendingStop>& stops);
bool ParsePending(std::string_view text, std::vector<PendingStop>& stops, std::string& error);

// The log's bytes as text lines: a UTF-8 byte-order mark is dropped (the rest must
// be UTF-8), UTF-16 with either byte-order mark is read as UTF-16 and held as UTF-8,
// anything else is taken byte for byte, as the program has always written it
// (single-byte text). A zero byte or a character that is not whole in its encoding
// fails it; error says where. Every line of the text is in lines, or it failed.
bool DecodeLogText(std::string_view bytes, std::vector<std::string>& lines, std::string& error);

// A text split into lines at CR, LF or a CR LF pair (so LF CR gives an extra empty
// line); the text ends at a zero byte (which Load refuses before splitting).
std::vector<std::string> SplitLogText(std::string_view text);

// The started record: "serial,mm/dd/yy hh:nn:ss".
std::string StartedRecord(std::uint32_t serialNumber, DateTimeValue start);
// The started record completed: its empty trailing fields dropped, then
// ",clock,temperature, R s/day" appended, the clock as "mm/dd/yy hh:nn:ss" and the
// temperature text as cut from the readings.
std::string CompletedRecord(std::string_view startedRecord, DateTimeValue loggerTime,
                            std::string_view temperatureText, std::int32_t secondsPerDay);
// The start time text of a line: the 19 characters after its first comma, or as
// many as there are before the next comma or the end; empty without a comma.
std::string_view StartTimeText(std::string_view line);
