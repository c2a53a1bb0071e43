#pragma once

#include "calibration/DateTimeValue.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The calibration log LogTime.csv beside the executable: one line per logger,
// "serial,start" while its calibration runs, "serial,start,clock,temperature, R s/day"
// once completed. The log holds the lines as the calibration dialog lists them;
// every change is saved whole.
class CalibrationLog {
public:
    static constexpr std::string_view FileName = "LogTime.csv";
    // Longer lines are completed records; shorter ones are in progress.
    static constexpr std::size_t LongestInProgress = 27;

    enum class LoadStatus {
        Loaded,  // the list now holds the file's lines
        Missing, // no file: the list is left as it was
        Failed,  // the file exists but cannot be read; the list is left as it was
    };
    struct LoadResult {
        LoadStatus status = LoadStatus::Loaded;
        std::string error; // for Failed: the file name and the system's reason
    };
    // Empty on success, else the text for the program's general error reporting:
    // the file name and the system's reason.
    using SaveError = std::optional<std::string>;

    // The log in the executable's directory.
    static std::filesystem::path PathIn(const std::filesystem::path& executableDirectory);

    explicit CalibrationLog(std::filesystem::path file);

    const std::filesystem::path& Path() const { return file; }
    const std::vector<std::string>& Lines() const { return lines; }
    std::size_t Count() const { return lines.size(); }
    const std::string& Line(std::size_t index) const { return lines.at(index); }
    bool IsCompleted(std::size_t index) const { return IsCompletedLine(lines.at(index)); }
    static bool IsCompletedLine(std::string_view line) { return line.size() > LongestInProgress; }

    // Reads the whole file: lines end at CR, LF or a CR LF pair (so LF CR gives an
    // extra empty line), and the text ends at a zero byte.
    LoadResult Load();
    bool FileExists() const;

    // The first line whose first field (the text before its first comma) is the
    // serial number in decimal.
    std::optional<std::size_t> Find(std::uint32_t serialNumber) const;

    void Append(std::string line);
    void Replace(std::size_t index, std::string line);
    void SetLines(std::vector<std::string> newLines) { lines = std::move(newLines); }

    // Every line followed by CR LF. The file is replaced as a whole: the new text
    // goes to a new file of this save's own beside it, reaches the disk, and only
    // then takes the log's name, so a failure at any point leaves the previous log
    // as it was, and two programs saving at once never mix their bytes. A log that
    // is a symbolic link is replaced at its target.
    SaveError Save() const;
    // Drops the completed lines and saves, unless the file is gone; then nothing
    // is written.
    SaveError RemoveCompleted();

private:
    std::filesystem::path file;
    std::vector<std::string> lines;
};

// The log's text split into lines as Load does, for a text already in memory.
std::vector<std::string> SplitLogText(std::string_view text);

// The started record: "serial,mm/dd/yy hh:nn:ss".
std::string StartedRecord(std::uint32_t serialNumber, DateTimeValue start);
// The started record completed: ",clock,temperature, R s/day" appended, the clock
// as "mm/dd/yy hh:nn:ss" and the temperature text as cut from the readings.
std::string CompletedRecord(std::string_view startedRecord, DateTimeValue loggerTime,
                            std::string_view temperatureText, std::int32_t secondsPerDay);
// The start time text of a line: the 19 characters after its first comma, or as
// many as there are; empty without a comma.
std::string_view StartTimeText(std::string_view line);
