#include "calibration/CalibrationLog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

std::string Reason(int error) {
    return std::generic_category().message(error);
}

// The path as UTF-8 text for the messages (on Windows the path is UTF-16 inside).
std::string PathText(const std::filesystem::path& file) {
    const std::u8string text = file.u8string();
    return std::string(text.begin(), text.end());
}

std::string CannotRead(const std::filesystem::path& file, const std::string& reason) {
    return "Cannot read " + PathText(file) + ": " + reason;
}

std::string CannotSave(const std::filesystem::path& file, const std::string& reason) {
    return "Cannot save " + PathText(file) + ": " + reason;
}

// Opens by the path's own characters: UTF-16 on Windows, not the ANSI code page.
std::FILE* Open(const std::filesystem::path& file, bool write) {
#ifdef _WIN32
    return _wfopen(file.c_str(), write ? L"wb" : L"rb");
#else
    return std::fopen(file.c_str(), write ? "wb" : "rb");
#endif
}

// Pushes the file's data to the disk before it takes the log's name.
bool FlushToDisk(std::FILE* stream) {
    if (std::fflush(stream) != 0) {
        return false;
    }
#ifdef _WIN32
    return _commit(_fileno(stream)) == 0;
#else
    return ::fsync(::fileno(stream)) == 0;
#endif
}

// Makes the rename itself last across a power failure.
void FlushDirectory([[maybe_unused]] const std::filesystem::path& directory) {
#ifndef _WIN32
    const int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#endif
}

} // namespace

std::vector<std::string> SplitLogText(std::string_view text) {
    if (const auto zero = text.find('\0'); zero != std::string_view::npos) {
        text = text.substr(0, zero);
    }
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = at;
        while (at < text.size() && text[at] != '\r' && text[at] != '\n') {
            ++at;
        }
        lines.emplace_back(text.substr(start, at - start));
        if (at < text.size() && text[at] == '\r') {
            ++at;
        }
        if (at < text.size() && text[at] == '\n') {
            ++at;
        }
    }
    return lines;
}

std::string StartedRecord(std::uint32_t serialNumber, DateTimeValue start) {
    return std::to_string(serialNumber) + "," + FormatDateTime(LogDateTimeFormat, start);
}

std::string CompletedRecord(std::string_view startedRecord, DateTimeValue loggerTime,
                            std::string_view temperatureText, std::int32_t secondsPerDay) {
    std::string record(startedRecord);
    record += "," + FormatDateTime(LogDateTimeFormat, loggerTime);
    record += ",";
    record += temperatureText;
    record += ", " + std::to_string(secondsPerDay) + " s/day";
    return record;
}

std::string_view StartTimeText(std::string_view line) {
    constexpr std::size_t StartTextLength = 19;
    const std::size_t comma = line.find(',');
    return comma == std::string_view::npos ? std::string_view{}
                                           : line.substr(comma + 1, StartTextLength);
}

std::filesystem::path CalibrationLog::PathIn(const std::filesystem::path& executableDirectory) {
    return executableDirectory / FileName;
}

CalibrationLog::CalibrationLog(std::filesystem::path file) : file(std::move(file)) {}

bool CalibrationLog::FileExists() const {
    std::error_code error;
    return std::filesystem::exists(file, error);
}

CalibrationLog::LoadResult CalibrationLog::Load() {
    if (!FileExists()) {
        return {LoadStatus::Missing, {}};
    }
    std::FILE* stream = Open(file, false);
    if (stream == nullptr) {
        return {LoadStatus::Failed, CannotRead(file, Reason(errno))};
    }
    std::string text;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0) {
        text.append(buffer, got);
    }
    const bool failed = std::ferror(stream) != 0;
    const int error = errno;
    std::fclose(stream);
    if (failed) {
        return {LoadStatus::Failed, CannotRead(file, Reason(error))};
    }
    lines = SplitLogText(text);
    return {LoadStatus::Loaded, {}};
}

std::optional<std::size_t> CalibrationLog::Find(std::uint32_t serialNumber) const {
    const std::string key = std::to_string(serialNumber);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.substr(0, line.find(',')) == key) {
            return i;
        }
    }
    return std::nullopt;
}

void CalibrationLog::Append(std::string line) {
    lines.push_back(std::move(line));
}

void CalibrationLog::Replace(std::size_t index, std::string line) {
    lines.at(index) = std::move(line);
}

CalibrationLog::SaveError CalibrationLog::Save() const {
    std::filesystem::path fresh = file;
    fresh += ".new";
    std::FILE* stream = Open(fresh, true);
    if (stream == nullptr) {
        return CannotSave(file, Reason(errno));
    }
    bool written = true;
    for (const std::string& line : lines) {
        written = written && std::fwrite(line.data(), 1, line.size(), stream) == line.size() &&
                  std::fwrite("\r\n", 1, 2, stream) == 2;
    }
    written = written && FlushToDisk(stream);
    int error = errno;
    if (std::fclose(stream) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        std::error_code ignored;
        std::filesystem::remove(fresh, ignored);
        return CannotSave(file, Reason(error));
    }
    std::error_code renamed;
    std::filesystem::rename(fresh, file, renamed);
    if (renamed) {
        std::error_code ignored;
        std::filesystem::remove(fresh, ignored);
        return CannotSave(file, renamed.message());
    }
    FlushDirectory(file.parent_path());
    return std::nullopt;
}

CalibrationLog::SaveError CalibrationLog::RemoveCompleted() {
    std::erase_if(lines, [](const std::string& line) { return IsCompletedLine(line); });
    if (!FileExists()) {
        return std::nullopt;
    }
    return Save();
}
