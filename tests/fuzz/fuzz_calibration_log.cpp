// The calibration log as it may lie on disk: any bytes at all. The text splitter,
// and the log loaded from a real file (or refused, and then never replaced),
// looked up, saved, loaded again and pruned.

#include "FuzzCheck.h"
#include "calibration/CalibrationLog.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// One folder per fuzzing process, in memory when the machine has /dev/shm (the
// log's save flushes to disk on every run).
// Removed when the fuzzer exits.
struct ScratchFolder {
    fs::path path;
    ScratchFolder() {
        const fs::path base =
            fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        path = base / ("onyx-fuzz-log-" + std::to_string(getpid()));
        fs::create_directories(path);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

const fs::path& Folder() {
    static const ScratchFolder folder;
    return folder.path;
}

void WriteFile(const fs::path& file, std::string_view text) {
    std::FILE* out = std::fopen(file.c_str(), "wb");
    FUZZ_CHECK(out != nullptr);
    FUZZ_CHECK(std::fwrite(text.data(), 1, text.size(), out) == text.size());
    FUZZ_CHECK(std::fclose(out) == 0);
}

std::string SavedForm(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

void CheckSplit(std::string_view text, const std::vector<std::string>& lines) {
    const std::string_view kept = text.substr(0, text.find('\0'));
    // Every line is the next run of the text without a line end, in order; joined
    // back with one character between them they never outgrow the text.
    std::size_t at = 0;
    std::size_t joined = 0;
    for (const auto& line : lines) {
        FUZZ_CHECK(line.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
        FUZZ_CHECK(kept.compare(at, line.size(), line) == 0);
        at += line.size();
        // One line end after it: CR, LF or CR LF.
        if (at < kept.size() && kept[at] == '\r') {
            ++at;
        }
        if (at < kept.size() && kept[at] == '\n') {
            ++at;
        }
        joined += line.size() + 1;
    }
    FUZZ_CHECK(at == kept.size());
    FUZZ_CHECK(lines.empty() || joined - 1 <= text.size());
    // What a save writes loads as the same lines.
    FUZZ_CHECK(SplitLogText(SavedForm(lines)) == lines);
}

// The leading digits of the first line, as a serial number to look up.
std::uint32_t SerialToFind(const std::vector<std::string>& lines) {
    std::uint32_t serial = 0;
    if (!lines.empty()) {
        for (std::size_t i = 0; i < lines[0].size() && i < 8; ++i) {
            const char c = lines[0][i];
            if (c < '0' || c > '9') {
                break;
            }
            serial = serial * 10 + static_cast<std::uint32_t>(c - '0');
        }
    }
    return serial;
}

void CheckLog(std::string_view text) {
    const fs::path file = Folder() / "LogTime.csv";
    WriteFile(file, text);
    CalibrationLog log(file);
    std::vector<std::string> lines;
    std::string error;
    if (!DecodeLogText(text, lines, error)) {
        // Not text: the load says so, and no change ever replaces the file.
        const CalibrationLog::LoadResult loaded = log.Load();
        FUZZ_CHECK(loaded.status == CalibrationLog::LoadStatus::Failed);
        FUZZ_CHECK(loaded.error.find("LogTime.csv") != std::string::npos);
        FUZZ_CHECK(log.RemoveCompletedLines().Failed());
        FUZZ_CHECK(log.AppendLine("1,01/01/07 00:00:00").Failed());
        std::FILE* in = std::fopen(file.c_str(), "rb");
        FUZZ_CHECK(in != nullptr);
        std::string after(text.size() + 1, '\0');
        FUZZ_CHECK(std::fread(after.data(), 1, after.size(), in) == text.size());
        std::fclose(in);
        after.resize(text.size());
        FUZZ_CHECK(after == text);
        return;
    }
    // Every line of the text, or none.
    FUZZ_CHECK(text.find('\0') == std::string_view::npos || text.starts_with("\xFF\xFE") ||
               text.starts_with("\xFE\xFF"));
    if (!text.starts_with("\xEF\xBB\xBF") && !text.starts_with("\xFF\xFE") &&
        !text.starts_with("\xFE\xFF")) {
        FUZZ_CHECK(lines == SplitLogText(text));
    }
    FUZZ_CHECK(log.Load().status == CalibrationLog::LoadStatus::Loaded);
    FUZZ_CHECK(log.Lines() == lines);

    const std::uint32_t serial = SerialToFind(lines);
    const auto found = log.Find(serial);
    const std::string key = std::to_string(serial);
    for (std::size_t i = 0; i < log.Count(); ++i) {
        const std::string_view line = log.Line(i);
        const bool matches = line.substr(0, line.find(',')) == key;
        FUZZ_CHECK(!found || i > *found || matches == (i == *found));
        // Records begin with the serial number; completed ones end with the rate.
        const CalibrationLog::LineState state = log.State(i);
        FUZZ_CHECK(state == CalibrationLog::LineState::Other ||
                   (!line.empty() && line[0] >= '0' && line[0] <= '9'));
        FUZZ_CHECK(state != CalibrationLog::LineState::Completed || line.ends_with(" s/day"));
    }

    // Saved and loaded again: the same lines, in the form a save writes.
    FUZZ_CHECK(!log.Save().has_value());
    CalibrationLog reloaded(file);
    FUZZ_CHECK(reloaded.Load().status == CalibrationLog::LoadStatus::Loaded);
    FUZZ_CHECK(reloaded.Lines() == lines);

    // Removing the completed lines keeps every other line, in order.
    std::vector<std::string> kept;
    for (const std::string& line : lines) {
        if (!CalibrationLog::IsCompletedLine(line)) {
            kept.push_back(line);
        }
    }
    FUZZ_CHECK(!reloaded.RemoveCompletedLines().Failed());
    FUZZ_CHECK(reloaded.Lines() == kept);
    // Read back, every kept line is there; only a kept first line that begins with a
    // byte-order mark's bytes and is no UTF-8 may make the load fail, never read
    // other lines.
    CalibrationLog pruned(file);
    const bool loaded = pruned.Load().status == CalibrationLog::LoadStatus::Loaded;
    FUZZ_CHECK(!loaded || pruned.Lines() == kept);
    const std::string_view first = kept.empty() ? std::string_view{} : kept.front();
    FUZZ_CHECK(loaded || first.starts_with("\xEF\xBB\xBF") || first.starts_with("\xFF\xFE") ||
               first.starts_with("\xFE\xFF"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto lines = SplitLogText(text);
    CheckSplit(text, lines);
    CheckLog(text);
    return 0;
}
