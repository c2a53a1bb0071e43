#pragma once

// The main window's commands, once for the window and onyx: Read Wellscribe Info,
// Run Self-Test after it, Read Memory Dump into its file, and the report built
// from what the read left and saved to its file; and the calibration log's
// listing. Each returns what happened; the front ends only present it (the window
// in its labels and boxes, onyx as text or JSON).

#include "calibration/CalibrationLog.h"
#include "commands/MainWindowText.h"
#include "communication/Commands.h"
#include "communication/ResultCodes.h"
#include "operations/InfoLabels.h"
#include "operations/Operations.h"
#include "operations/ProcessThread.h"
#include "report/ReportText.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Runs one operation of the worker and waits for it. The window's own keeps the
// window painting meanwhile; onyx's simply blocks (RunAndWait).
using OperationRunner = std::function<WorkerResult(const std::string& port, std::int32_t mode,
                                                   const std::string& file, OperationEnvironment)>;
WorkerResult RunAndWait(const std::string& port, std::int32_t mode, const std::string& file,
                        OperationEnvironment environment);

// The labels as an information read left them, passed on as they arrive to the
// labels shown, when there are any. Written on the worker's thread and read after
// the wait, which orders the two.
class InformationRecord final : public InfoLabelSink {
public:
    explicit InformationRecord(InfoLabelSink* shown = nullptr) : shown(shown) {}
    InformationRecord(const InformationRecord& other)
        : texts(other.texts), visible(other.visible) {}
    InformationRecord& operator=(const InformationRecord& other) {
        texts = other.texts;
        visible = other.visible;
        return *this;
    }

    void SetLabelText(InfoLabel label, const std::string& text) override;
    void SetLabelVisible(InfoLabel label, bool isVisible) override;

    // The label's text as written, caption and logger bytes (one byte a character).
    std::optional<std::string> Text(InfoLabel label) const;
    bool Shown(InfoLabel label) const;  // made visible by the read
    bool Hidden(InfoLabel label) const; // hidden by the read
    // True once the read got as far as the serial number.
    bool SerialRead() const { return Shown(InfoLabel::SerialNo); }
    // The value labels written and not hidden, in the window's order (the two
    // reading advice lines are the form's, not values).
    std::vector<std::pair<InfoLabel, std::string>> Values() const;

private:
    InfoLabelSink* shown = nullptr;
    std::map<InfoLabel, std::string> texts;
    std::map<InfoLabel, bool> visible;
};

struct InformationResult {
    LinkOutcome outcome;
    InformationRecord labels;
    bool Ok() const { return outcome.Ok(); }
    bool Stopped() const { return outcome.Stopped(); }
};
// Read Wellscribe Info on the port; shown, when given, sees every label change.
// stop (OperationHooks::stop), raised from any thread, ends the read after the
// request in progress with OP_STOPPED.
InformationResult ReadInformation(const std::string& port, const OperationRunner& run,
                                  InfoLabelSink* shown = nullptr,
                                  const std::atomic<bool>* stop = nullptr);

struct SelfTestRun {
    LinkOutcome outcome;
    std::optional<std::int32_t> mask; // when the logger answered
    SelfTestView view;                // the rows for the mask
    bool Passed() const { return mask && view.failures == 0; }
    bool Stopped() const { return outcome.Stopped(); }
};
// Run Self-Test, after a successful information read of the same port. stop ends
// the wait for the logger's reply within a quarter second (OP_STOPPED); the
// logger finishes its tests on its own.
SelfTestRun RunSelfTest(const std::string& port, const OperationRunner& run,
                        const std::atomic<bool>* stop = nullptr);

struct DumpResult {
    LinkOutcome outcome;
    DumpRecord record;
    DumpOutcome message; // the box's text, caption and icon
    std::uint64_t Bytes() const { return std::uint64_t{record.blocks} * BlockSize; }
    bool Complete() const { return outcome.Ok() && !record.stopped; }
};
// Read Memory Dump into file (the name as the file code takes it). The message
// names the port as portShown and the file as fileShown (by default the names
// given), for a front end that puts its own texts in.
DumpResult DumpMemoryToFile(const std::string& port, const std::string& file,
                            const OperationRunner& run, OperationHooks hooks = {},
                            std::optional<std::string> portShown = {},
                            std::optional<std::string> fileShown = {});
// The name the dump's save dialog proposes, from the labels of the last read.
std::string DumpFileName(const InformationRecord& labels);

// The report body from the labels of the last read and the self-test mask. The
// labels hold the logger's bytes one to a character; the body is their text in
// UTF-8, as the report's contact lines are, and the report file turns the whole
// into the PC's code page (UTF-8 outside Windows).
std::string ReportBody(const InformationRecord& labels, std::int32_t selfTestMask);
struct ReportSaved {
    int error = 0;    // the system's code, 0 when saved
    std::string text; // why not, naming the file; empty when saved
    bool Ok() const { return error == 0; }
};
// The message names the file as fileShown (by default the name given).
ReportSaved SaveReport(const std::string& file, const ReportContact& contact,
                       const std::string& body, std::optional<std::string> fileShown = {});

// The calibration log's lines as the dialog lists them, each with its check.
struct LogListing {
    std::string error; // the log cannot be read: the file and why
    std::vector<std::pair<std::string, bool>> lines;
    bool Ok() const { return error.empty(); }
};
LogListing ListCalibrationLog(const std::filesystem::path& logPath);

// A text of single bytes (the logger's, the labels') as UTF-8.
std::string Latin1ToUtf8(const std::string& bytes);
