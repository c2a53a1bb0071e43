#include "calibration/CalibrationLog.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <system_error>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#else
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
std::FILE* OpenForReading(const std::filesystem::path& file) {
#ifdef _WIN32
    return _wfopen(file.c_str(), L"rb");
#else
    return std::fopen(file.c_str(), "rb");
#endif
}

// The file a save replaces: the log, or where its symbolic links lead, so a link
// stays a link and the file it points to gets the new text.
std::filesystem::path SaveTarget(const std::filesystem::path& file) {
    constexpr int MostLinks = 40; // as many as the system follows
    std::filesystem::path target = file;
    for (int link = 0; link < MostLinks; ++link) {
        std::error_code error;
        if (!std::filesystem::is_symlink(target, error)) {
            break;
        }
        const std::filesystem::path next = std::filesystem::read_symlink(target, error);
        if (error) {
            break;
        }
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target;
}

// A new file beside target under a name of this save's own, created exclusively:
// two programs saving at once never write into the same file, and a file someone
// left under such a name is never written into. Null with errno set on failure.
std::FILE* CreateFresh(const std::filesystem::path& target, std::filesystem::path& fresh) {
    static std::atomic<unsigned> saves{0};
#ifdef _WIN32
    const int process = _getpid();
#else
    const int process = static_cast<int>(::getpid());
#endif
    constexpr int Attempts = 100;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        fresh = target;
        fresh += ".new-" + std::to_string(process) + "-" + std::to_string(saves++);
#ifdef _WIN32
        const int fd =
            _wopen(fresh.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        const int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return nullptr;
        }
#ifdef _WIN32
        std::FILE* stream = _fdopen(fd, "wb");
#else
        std::FILE* stream = ::fdopen(fd, "wb");
#endif
        if (stream == nullptr) {
            const int error = errno;
#ifdef _WIN32
            _close(fd);
#else
            ::close(fd);
#endif
            std::error_code ignored;
            std::filesystem::remove(fresh, ignored);
            errno = error;
        }
        return stream;
    }
    errno = EEXIST;
    return nullptr;
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
    std::FILE* stream = OpenForReading(file);
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
    const std::filesystem::path target = SaveTarget(file);
    std::filesystem::path fresh;
    std::FILE* stream = CreateFresh(target, fresh);
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
    std::filesystem::rename(fresh, target, renamed);
    if (renamed) {
        std::error_code ignored;
        std::filesystem::remove(fresh, ignored);
        return CannotSave(file, renamed.message());
    }
    FlushDirectory(target.parent_path());
    return std::nullopt;
}

CalibrationLog::SaveError CalibrationLog::RemoveCompleted() {
    std::erase_if(lines, [](const std::string& line) { return IsCompletedLine(line); });
    if (!FileExists()) {
        return std::nullopt;
    }
    return Save();
}
