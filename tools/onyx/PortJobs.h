#pragma once

// The main window's commands and the calibration dialog's buttons, run for one
// port from the command line: the commands both front ends call, presented as one
// port's result (what the window would have shown) for onyx's text and JSON.

#include "calibration/CalibrationSequences.h"
#include "commands/DeviceCommands.h"
#include "operations/InfoLabels.h"
#include "report/ReportText.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct PortResult {
    std::string port;
    bool ok = true;
    // The failing step's result code, the self-test mask for a self-test, else 0.
    std::int32_t code = 0;
    // The outcome as the window words it: a failure's message, or the success text.
    std::string text;
    // The information labels written and not hidden, in the window's order.
    std::vector<std::pair<InfoLabel, std::string>> labels;
    // The lines the window shows besides the outcome (labels, self-test rows).
    std::vector<std::string> shown;
    std::optional<std::int32_t> selfTestMask;
    // A failure of an earlier step that the window reports and goes past (the read
    // of the information before a dump).
    std::optional<std::string> earlierFailure;
    std::optional<std::string> file;
    std::optional<std::uint64_t> bytes; // written to file
    std::optional<std::string> logLine; // the calibration log's line of this logger
    // The bytes of a report asked for on standard output ("-o -").
    std::string standardOutput;
};

// What a report is saved as: file (the name as the file code takes it), or on
// standard output when file is empty. Characters the PC's code page cannot hold
// are refused, naming them, unless allowLossy saves them as '?'.
struct ReportRequest {
    ReportContact contact;
    std::string file;
    bool allowLossy = false;
};

// The flag that ends reads and self-tests after the request in progress (Ctrl+C).
void StopReadsOn(const std::atomic<bool>* stop);

// Read Wellscribe Info.
PortResult ReadInfoJob(const std::string& port);
// Run Self-Test: the information, then the self-test when that succeeded. A
// logger that failed a test is a failed result (code: the mask).
PortResult SelfTestJob(const std::string& port);
// Read Memory Dump: the information, then the dump into file, named in messages
// as fileShown. A failed information read is a warning when the dump completes.
// blockWritten, when set, hears of every block; stop ends the dump after the
// block in progress.
PortResult DumpJob(const std::string& port, const std::string& file, const std::string& fileShown,
                   const std::function<void(std::uint32_t)>& blockWritten,
                   const std::atomic<bool>* stop);
// Create Report: the self-test command, then the report of the labels and the
// mask under the contact lines.
PortResult ReportJob(const std::string& port, const ReportRequest& request);

// The report's words for characters the PC's code page cannot hold.
std::string UnsavableCharactersText(const std::string& characters);

// The calibration dialog's buttons on the log at logPath. Each change to the log
// is its own function, which reads the log from disk, applies the one change and
// saves.
PortResult StartCalibrationJob(const std::string& port, const std::filesystem::path& logPath);
PortResult StopCalibrationJob(const std::string& port, const std::filesystem::path& logPath);
PortResult VerifyTimeJob(const std::string& port);

// The JSON key of an information label's value ("serialNumber"), and the value
// itself: the label text after its caption.
const char* LabelKey(InfoLabel label);
std::string LabelValue(const std::string& labelText);
