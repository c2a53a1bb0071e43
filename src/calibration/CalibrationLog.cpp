#include "calibration/CalibrationLog.h"

#include "files/FileSystem.h"
#include "files/Utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>

// The log's lock as this program holds it: one flock (LockFileEx) for every copy
// of the log in the program, and a turn for each change, so that the loggers of a
// batch run side by side while other programs wait.
struct CalibrationLog::SharedLock {
    files::FileLock lock;
    std::mutex changes;
};

namespace {

constexpr std::string_view LeftUnchanged = "The file was left unchanged.";

bool Exists(const std::filesystem::path& file) {
    return files::KindOf(file) != files::PathKind::Missing;
}

// "The file was left unchanged.", said only of a file that is there.
std::string Unchanged(const std::filesystem::path& file, std::string_view more = {}) {
    if (!Exists(file)) {
        return {};
    }
    return "\n" + std::string(LeftUnchanged) + std::string(more);
}

std::string CannotRead(const std::filesystem::path& file, const std::string& reason) {
    return "Cannot read " + files::PathText(file) + ": " + reason + "." +
           Unchanged(file, " Nothing is saved to it until it can be read.");
}

std::string CannotSave(const std::filesystem::path& file, const files::FileResult& result) {
    if (result.status == files::FileStatus::ReadOnly) {
        return files::PathText(file.filename()) + " is read-only: " + files::PathText(file) + "." +
               Unchanged(file);
    }
    return "Cannot save " + files::PathText(file) + ": " + result.reason + "." + Unchanged(file);
}

std::string Busy(const std::filesystem::path& file, std::chrono::milliseconds waited) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(waited).count();
    return "Cannot save " + files::PathText(file) + ": another program is changing it (waited " +
           std::to_string(seconds) + " s)." +
           Unchanged(file, " Try again when the other program is done.");
}

// A path that is no regular file: refused before it is opened.
std::string NotAFile(const std::filesystem::path& file, files::PathKind kind) {
    return files::PathText(file) + " is " + files::KindText(kind) +
           ", not a calibration log: give the name of a file.";
}

std::mutex lockRegistryMutex;
std::map<std::filesystem::path, std::weak_ptr<CalibrationLog::SharedLock>> lockRegistry;

// This program's hold of the lock file: shared when another copy of the log holds it.
files::FileResult ShareLock(const std::filesystem::path& lockPath, std::chrono::milliseconds wait,
                            std::shared_ptr<CalibrationLog::SharedLock>& shared) {
    const std::lock_guard guard(lockRegistryMutex);
    if (auto held = lockRegistry[lockPath].lock()) {
        shared = std::move(held);
        return {};
    }
    auto fresh = std::make_shared<CalibrationLog::SharedLock>();
    const files::FileResult locked = files::LockFile(lockPath, fresh->lock, wait);
    if (locked) {
        lockRegistry[lockPath] = fresh;
        shared = std::move(fresh);
    }
    return locked;
}

// The line (counted from 1) that holds the byte at `at` of the text.
std::size_t LineAt(std::string_view text, std::size_t at) {
    const std::string_view before = text.substr(0, at);
    const std::size_t ended = SplitLogText(before).size();
    const bool inLastLine = !before.empty() && before.back() != '\r' && before.back() != '\n';
    return inLastLine ? ended : ended + 1;
}

void AppendUtf8(std::string& text, std::uint32_t code) {
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xE0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (code >> 18));
        text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// UTF-16 (after its byte-order mark) as UTF-8; false with error on a unit cut in
// half or a surrogate without its pair.
bool Utf16ToUtf8(std::string_view bytes, bool bigEndian, std::string& text, std::string& error) {
    if (bytes.size() % 2 != 0) {
        error = "it is marked as UTF-16 text but ends in half a character";
        return false;
    }
    const auto unit = [&](std::size_t i) -> std::uint32_t {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (first << 8) | second : (second << 8) | first;
    };
    text.clear();
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        std::uint32_t code = unit(i);
        if (code >= 0xD800 && code <= 0xDBFF && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 &&
            unit(i + 2) <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            error = "it is marked as UTF-16 text but line " +
                    std::to_string(LineAt(text, text.size())) + " holds a broken character";
            return false;
        }
        AppendUtf8(text, code);
    }
    return true;
}

bool StartsWithByteOrderMark(std::string_view bytes) {
    return bytes.starts_with("\xEF\xBB\xBF") || bytes.starts_with("\xFF\xFE") ||
           bytes.starts_with("\xFE\xFF");
}

std::string LogBytes(const std::vector<std::string>& lines) {
    std::size_t size = 3;
    for (const std::string& line : lines) {
        size += line.size() + 2;
    }
    std::string bytes;
    bytes.reserve(size);
    // A first line that itself begins with a byte-order mark's bytes is written after
    // a UTF-8 mark of its own, so that the next read never takes them for the file's
    // mark and reads the log in another encoding.
    if (!lines.empty() && StartsWithByteOrderMark(lines.front())) {
        bytes += "\xEF\xBB\xBF";
    }
    for (const std::string& line : lines) {
        bytes += line;
        bytes += "\r\n";
    }
    return bytes;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The serial number field and its comma: the length taken, or 0.
std::size_t SerialField(std::string_view line) {
    std::size_t at = 0;
    while (at < line.size() && IsDigit(line[at])) {
        ++at;
    }
    return at > 0 && at < line.size() && line[at] == ',' ? at + 1 : 0;
}

bool IsBlankOrComma(char c) {
    return c == ',' || c == ' ' || c == '\t';
}

// The line less the empty fields a spreadsheet pads it with.
std::string_view WithoutEmptyFields(std::string_view line) {
    while (!line.empty() && IsBlankOrComma(line.back())) {
        line.remove_suffix(1);
    }
    return line;
}

} // namespace

bool DecodeLogText(std::string_view bytes, std::vector<std::string>& lines, std::string& error) {
    using namespace std::string_view_literals;
    std::string converted;
    std::string_view text = bytes;
    if (bytes.starts_with("\xEF\xBB\xBF"sv)) {
        text.remove_prefix(3);
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t length = files::Utf8CharacterAt(text, at);
            if (length == 0) {
                error = "it is marked as UTF-8 text but line " + std::to_string(LineAt(text, at)) +
                        " is not UTF-8";
                return false;
            }
            at += length;
        }
    } else if (bytes.starts_with("\xFF\xFE"sv) || bytes.starts_with("\xFE\xFF"sv)) {
        if (!Utf16ToUtf8(bytes.substr(2), bytes[0] == '\xFE', converted, error)) {
            return false;
        }
        text = converted;
    }
    if (const std::size_t zero = text.find('\0'); zero != std::string_view::npos) {
        error = "line " + std::to_string(LineAt(text, zero)) + " holds a zero byte";
        return false;
    }
    lines = SplitLogText(text);
    return true;
}

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
    std::string record(WithoutEmptyFields(startedRecord));
    record += "," + FormatDateTime(LogDateTimeFormat, loggerTime);
    record += ",";
    record += temperatureText;
    record += ", " + std::to_string(secondsPerDay) + " s/day";
    return record;
}

std::string_view StartTimeText(std::string_view line) {
    constexpr std::size_t StartTextLength = 19;
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) {
        return {};
    }
    const std::string_view rest = line.substr(comma + 1);
    return rest.substr(0, std::min(StartTextLength, rest.find(',')));
}

CalibrationLog::LineState CalibrationLog::StateOf(std::string_view line) {
    const std::size_t serial = SerialField(line);
    if (serial == 0) {
        return LineState::Other;
    }
    const std::string_view fields = line.substr(serial);
    const std::size_t startEnd = std::min(fields.find(','), fields.size());
    if (startEnd == 0) {
        return LineState::Other;
    }
    // "serial,start" and nothing but empty fields after it.
    if (WithoutEmptyFields(fields).size() == startEnd) {
        return LineState::InProgress;
    }
    // ",clock,temperature, R s/day": the rate is the text after the last ", ".
    constexpr std::string_view Unit = " s/day";
    const std::size_t rateAt = fields.rfind(", ");
    if (!fields.ends_with(Unit) || rateAt == std::string_view::npos || rateAt <= startEnd) {
        return LineState::Other;
    }
    std::string_view rate = fields.substr(rateAt + 2, fields.size() - Unit.size() - rateAt - 2);
    if (rate.starts_with('-')) {
        rate.remove_prefix(1);
    }
    if (rate.empty() || !std::all_of(rate.begin(), rate.end(), IsDigit)) {
        return LineState::Other;
    }
    // The clock between the start and the temperature: a field of its own.
    const std::string_view middle = fields.substr(startEnd + 1, rateAt - startEnd - 1);
    const std::size_t clockEnd = middle.find(',');
    return clockEnd != std::string_view::npos && clockEnd > 0 ? LineState::Completed
                                                              : LineState::Other;
}

std::filesystem::path CalibrationLog::PathIn(const std::filesystem::path& executableDirectory) {
    return executableDirectory / FileName;
}

CalibrationLog::CalibrationLog(std::filesystem::path file) : file(std::move(file)) {}

CalibrationLog::~CalibrationLog() = default;

std::filesystem::path CalibrationLog::PendingPath() const {
    std::filesystem::path pending = files::ReplaceTarget(file);
    pending += PendingSuffix;
    return pending;
}

std::filesystem::path CalibrationLog::LockPath() const {
    std::filesystem::path lock = files::ReplaceTarget(file);
    lock += LockSuffix;
    return lock;
}

bool CalibrationLog::FileExists() const {
    return Exists(file);
}

CalibrationLog::LoadResult CalibrationLog::Load() {
    if (const files::PathKind kind = files::KindOf(file); kind != files::PathKind::Regular &&
                                                          kind != files::PathKind::Missing &&
                                                          kind != files::PathKind::Unknown) {
        return {LoadStatus::Failed, NotAFile(file, kind)};
    }
    std::string bytes;
    const files::FileResult read = files::ReadWholeFile(file, bytes);
    if (read.status == files::FileStatus::NotFound) {
        return {LoadStatus::Missing, {}};
    }
    if (!read) {
        return {LoadStatus::Failed, CannotRead(file, read.reason)};
    }
    std::vector<std::string> decoded;
    std::string error;
    if (!DecodeLogText(bytes, decoded, error)) {
        return {LoadStatus::Failed, CannotRead(file, error)};
    }
    lines = std::move(decoded);
    return {LoadStatus::Loaded, {}};
}

std::optional<std::size_t> CalibrationLog::Find(const std::vector<std::string>& lines,
                                                std::uint32_t serialNumber) {
    const std::string key = std::to_string(serialNumber);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.substr(0, line.find(',')) == key) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> CalibrationLog::Find(std::uint32_t serialNumber) const {
    return Find(lines, serialNumber);
}

CalibrationLog::ChangeResult CalibrationLog::Change(const Edit& edit, WhenMissing whenMissing) {
    if (whenMissing == WhenMissing::ListOnly && !FileExists()) {
        edit(lines);
        return {ChangeStatus::ListOnly, {}};
    }
    std::shared_ptr<SharedLock> lock = heldLock;
    files::FileResult locked;
    if (!lock) {
        locked = ShareLock(LockPath(), lockWait, lock);
    }
    std::unique_lock<std::mutex> turn;
    if (lock) {
        turn = std::unique_lock(lock->changes);
    }
    const LoadResult loaded = Load();
    if (loaded.status == LoadStatus::Failed) {
        return {ChangeStatus::Failed, loaded.error};
    }
    SaveError refused = ReadOnlyError(); // the plainest reason first
    if (!refused && !locked) {
        refused = locked.status == files::FileStatus::Busy ? Busy(file, lockWait)
                                                           : CannotSave(file, locked);
    }
    if (refused) {
        // Nothing is written; the list shows the change on the file as it was
        // read, so the user still sees the line the message is about.
        edit(lines);
        return {ChangeStatus::Failed, std::move(*refused)};
    }
    if (loaded.status == LoadStatus::Missing && whenMissing == WhenMissing::ListOnly) {
        edit(lines);
        return {ChangeStatus::ListOnly, {}};
    }
    std::vector<std::string> changed = lines;
    if (!edit(changed)) {
        return {ChangeStatus::Unchanged, {}};
    }
    lines = std::move(changed);
    if (SaveError failure = Save()) {
        return {ChangeStatus::Failed, std::move(*failure)};
    }
    return {ChangeStatus::Saved, {}};
}

CalibrationLog::ChangeResult CalibrationLog::AppendLine(std::string line) {
    return Change([&line](std::vector<std::string>& current) {
        current.push_back(line);
        return true;
    });
}

CalibrationLog::ChangeResult CalibrationLog::RemoveCompletedLines() {
    return Change(
        [](std::vector<std::string>& current) {
            return std::erase_if(current,
                                 [](const std::string& line) { return IsCompletedLine(line); }) > 0;
        },
        WhenMissing::ListOnly);
}

void CalibrationLog::Append(std::string line) {
    lines.push_back(std::move(line));
}

void CalibrationLog::Replace(std::size_t index, std::string line) {
    lines.at(index) = std::move(line);
}

CalibrationLog::SaveError CalibrationLog::Save() const {
    const files::FileResult saved = files::ReplaceFileContents(file, LogBytes(lines));
    if (!saved) {
        return CannotSave(file, saved);
    }
    return std::nullopt;
}

CalibrationLog::SaveError CalibrationLog::ReadOnlyError() const {
    if (files::IsReadOnly(files::ReplaceTarget(file))) {
        return CannotSave(file, {files::FileStatus::ReadOnly, 0, {}});
    }
    return std::nullopt;
}

CalibrationLog::SaveError CalibrationLog::RemoveCompleted() {
    ChangeResult result = RemoveCompletedLines();
    if (result.Failed()) {
        return std::move(result.error);
    }
    return std::nullopt;
}

files::FileResult CalibrationLog::HoldLock() {
    if (heldLock) {
        return {};
    }
    return ShareLock(LockPath(), lockWait, heldLock);
}

void CalibrationLog::ReleaseLock() {
    heldLock.reset();
}

CalibrationLog::SaveError CalibrationLog::PrepareChange() {
    if (SaveError notAFile = KindError()) {
        return notAFile;
    }
    // The plainest reason first: a log that cannot be read, then one that cannot be replaced.
    if (const LoadResult loaded = Load(); loaded.status == LoadStatus::Failed) {
        return loaded.error;
    }
    if (SaveError refused = ReplaceCheck()) {
        return refused;
    }
    if (const files::FileResult locked = HoldLock(); !locked) {
        if (locked.status == files::FileStatus::Busy) {
            return Busy(file, lockWait);
        }
        return "Cannot lock " + files::PathText(LockPath()) + ", the lock file of " +
               files::PathText(file) + ": " + locked.reason + "." + Unchanged(file);
    }
    if (const LoadResult loaded = Load(); loaded.status == LoadStatus::Failed) {
        return loaded.error;
    }
    std::string error;
    if (FindPending(0, error); !error.empty()) {
        return error;
    }
    return ReadOnlyError();
}

CalibrationLog::SaveError CalibrationLog::KindError() const {
    std::int64_t kindError = 0;
    const files::PathKind kind = files::KindOf(file, &kindError);
    if (kind == files::PathKind::Unknown) {
        return CannotRead(file, std::system_category().message(static_cast<int>(kindError)));
    }
    if (kind != files::PathKind::Regular && kind != files::PathKind::Missing) {
        return NotAFile(file, kind);
    }
    return std::nullopt;
}

CalibrationLog::SaveError CalibrationLog::ReplaceCheck() const {
    if (SaveError notAFile = KindError()) {
        return notAFile;
    }
    if (SaveError readOnly = ReadOnlyError()) {
        return readOnly;
    }
    std::filesystem::path folder = files::ReplaceTarget(file).parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    if (files::KindOf(folder) == files::PathKind::Missing) {
        return "Cannot save " + files::PathText(file) + ": the folder " + files::PathText(folder) +
               " does not exist.";
    }
    if (const files::FileResult probe = files::FolderTakesNewFiles(folder); !probe) {
        return "Cannot save " + files::PathText(file) + ": no new file can be made in its folder " +
               files::PathText(folder) + " (" + probe.reason + ")." + Unchanged(file);
    }
    return std::nullopt;
}

std::optional<PendingStop> CalibrationLog::FindPending(std::uint32_t serialNumber,
                                                       std::string& error) const {
    const std::filesystem::path path = PendingPath();
    std::string bytes;
    const files::FileResult read = files::ReadWholeFile(path, bytes);
    if (read.status == files::FileStatus::NotFound) {
        return std::nullopt;
    }
    std::vector<PendingStop> stops;
    std::string why;
    if (!read) {
        why = read.reason;
    } else if (!ParsePending(bytes, stops, why)) {
        stops.clear();
    }
    if (!why.empty()) {
        error = CannotRead(path, why);
        return std::nullopt;
    }
    for (const PendingStop& stop : stops) {
        if (stop.serialNumber == serialNumber) {
            return stop;
        }
    }
    return std::nullopt;
}

CalibrationLog::SaveError CalibrationLog::ChangePending(const PendingEdit& edit) {
    std::shared_ptr<SharedLock> lock = heldLock;
    if (!lock) {
        if (const files::FileResult locked = ShareLock(LockPath(), lockWait, lock); !locked) {
            return locked.status == files::FileStatus::Busy ? Busy(PendingPath(), lockWait)
                                                            : CannotSave(PendingPath(), locked);
        }
    }
    const std::lock_guard turn(lock->changes);
    const std::filesystem::path path = PendingPath();
    std::string bytes;
    const files::FileResult read = files::ReadWholeFile(path, bytes);
    std::vector<PendingStop> stops;
    std::string why;
    if (!read && read.status != files::FileStatus::NotFound) {
        return CannotRead(path, read.reason);
    }
    if (read && !ParsePending(bytes, stops, why)) {
        return CannotRead(path, why);
    }
    edit(stops);
    if (stops.empty()) {
        if (const files::FileResult removed = files::RemoveFile(path); !removed) {
            return CannotSave(path, removed);
        }
        return std::nullopt;
    }
    if (const files::FileResult saved = files::ReplaceFileContents(path, PendingText(stops));
        !saved) {
        return CannotSave(path, saved);
    }
    return std::nullopt;
}

CalibrationLog::SaveError CalibrationLog::NotePending(const PendingStop& stop) {
    return ChangePending([&stop](std::vector<PendingStop>& stops) {
        std::erase_if(stops, [&stop](const PendingStop& other) {
            return other.serialNumber == stop.serialNumber;
        });
        stops.push_back(stop);
    });
}

CalibrationLog::SaveError CalibrationLog::DropPending(std::uint32_t serialNumber) {
    return ChangePending([serialNumber](std::vector<PendingStop>& stops) {
        std::erase_if(stops, [serialNumber](const PendingStop& other) {
            return other.serialNumber == serialNumber;
        });
    });
}

std::string PendingText(const std::vector<PendingStop>& stops) {
    std::string text;
    for (const PendingStop& stop : stops) {
        text += std::to_string(stop.serialNumber) + "," + std::to_string(stop.correction) + "," +
                stop.record + "\r\n";
    }
    return text;
}

bool ParsePending(std::string_view text, std::vector<PendingStop>& stops, std::string& error) {
    const std::vector<std::string> lines = SplitLogText(text);
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const std::string_view line = lines[index];
        const std::size_t serialEnd = SerialField(line);
        const std::size_t correctionEnd = line.find(',', serialEnd);
        PendingStop stop;
        bool read = serialEnd > 1 && serialEnd <= 9 && correctionEnd != std::string_view::npos &&
                    text.find('\0') == std::string_view::npos;
        if (read) {
            const std::string serial(line.substr(0, serialEnd - 1));
            const std::string correction(line.substr(serialEnd, correctionEnd - serialEnd));
            const unsigned long serialNumber = std::stoul(serial);
            char* end = nullptr;
            const long value = std::strtol(correction.c_str(), &end, 10);
            stop.record = line.substr(correctionEnd + 1);
            read = serialNumber <= 0xFFFFFF && !correction.empty() && *end == '\0' &&
                   value >= INT16_MIN && value <= INT16_MAX &&
                   CalibrationLog::IsCompletedLine(stop.record) &&
                   stop.record.starts_with(serial + ",");
            stop.serialNumber = static_cast<std::uint32_t>(serialNumber);
            stop.correction = static_cast<std::int16_t>(value);
        }
        if (!read) {
            error = "line " + std::to_string(index + 1) + " is not a noted stop";
            return false;
        }
        stops.push_back(std::move(stop));
    }
    return true;
}
