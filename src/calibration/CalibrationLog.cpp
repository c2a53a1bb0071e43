#include "calibration/CalibrationLog.h"

#include "files/FileSystem.h"

#include <algorithm>

namespace {

constexpr std::string_view LeftUnchanged = "The file was left unchanged.";

std::string CannotRead(const std::filesystem::path& file, const std::string& reason) {
    return "Cannot read " + files::PathText(file) + ": " + reason + ".\n" +
           std::string(LeftUnchanged) + " Nothing is saved to it until it can be read.";
}

std::string CannotSave(const std::filesystem::path& file, const files::FileResult& result) {
    if (result.status == files::FileStatus::ReadOnly) {
        return files::PathText(file.filename()) + " is read-only: " + files::PathText(file) +
               ".\n" + std::string(LeftUnchanged);
    }
    return "Cannot save " + files::PathText(file) + ": " + result.reason + ".\n" +
           std::string(LeftUnchanged);
}

std::string Busy(const std::filesystem::path& file, std::chrono::milliseconds waited) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(waited).count();
    return "Cannot save " + files::PathText(file) + ": another program is changing it (waited " +
           std::to_string(seconds) + " s).\n" + std::string(LeftUnchanged) +
           " Try again when the other program is done.";
}

// The line (counted from 1) that holds the byte at `at` of the text.
std::size_t LineAt(std::string_view text, std::size_t at) {
    const std::string_view before = text.substr(0, at);
    const std::size_t ended = SplitLogText(before).size();
    const bool inLastLine = !before.empty() && before.back() != '\r' && before.back() != '\n';
    return inLastLine ? ended : ended + 1;
}

// The length of the UTF-8 sequence at `at`, or 0 when it is not one.
std::size_t Utf8SequenceAt(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0u) != 0x80u) {
            return 0;
        }
        code = (code << 6) | (byte(at + i) & 0x3Fu);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return overlong || surrogate || code > 0x10FFFF ? 0 : length;
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
            const std::size_t length = Utf8SequenceAt(text, at);
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

std::filesystem::path CalibrationLog::LockPath() const {
    std::filesystem::path lock = files::ReplaceTarget(file);
    lock += LockSuffix;
    return lock;
}

bool CalibrationLog::FileExists() const {
    std::error_code error;
    return std::filesystem::exists(file, error);
}

CalibrationLog::LoadResult CalibrationLog::Load() {
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
    files::FileLock lock;
    const files::FileResult locked = files::LockFile(LockPath(), lock, lockWait);
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
