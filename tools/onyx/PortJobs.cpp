#include "PortJobs.h"

#include "calibration/CalibrationLog.h"
#include "calibration/DateTimeValue.h"
#include "communication/Commands.h"
#include "communication/ResultCodes.h"
#include "operations/ProcessThread.h"
#include "ui/text/MainWindowText.h"

#include <array>
#include <map>

namespace {

// The window's labels as the worker leaves them. Written on the worker's thread
// and read only after the wait, which orders the two.
class LabelRecord final : public InfoLabelSink {
public:
    void SetLabelText(InfoLabel label, const std::string& text) override { texts[label] = text; }
    void SetLabelVisible(InfoLabel label, bool visible) override { shown[label] = visible; }

    std::optional<std::string> Text(InfoLabel label) const {
        const auto found = texts.find(label);
        return found == texts.end() ? std::nullopt : std::optional(found->second);
    }
    bool Hidden(InfoLabel label) const {
        const auto found = shown.find(label);
        return found != shown.end() && !found->second;
    }
    bool Shown(InfoLabel label) const {
        const auto found = shown.find(label);
        return found != shown.end() && found->second;
    }

private:
    std::map<InfoLabel, std::string> texts;
    std::map<InfoLabel, bool> shown;
};

constexpr std::array InfoLabelOrder = {
    InfoLabel::SerialNo,    InfoLabel::ModelNo,          InfoLabel::ChargeLevel,
    InfoLabel::Battery,     InfoLabel::Firmware,         InfoLabel::Temperature,
    InfoLabel::Pressure,    InfoLabel::ReadingSolution1, InfoLabel::ReadingSolution2,
    InfoLabel::MinTemp,     InfoLabel::MaxTemp,          InfoLabel::MaxPressure,
    InfoLabel::ElapsedTime,
};

// One operation on a worker of its own, waited for, as the window runs it.
WorkerResult RunWorker(const std::string& port, const std::string& file, std::int32_t mode,
                       OperationEnvironment environment) {
    return ProcessThread(port, file, mode, std::move(environment)).Wait();
}

void Fail(PortResult& result, std::int32_t code, std::string text) {
    result.ok = false;
    result.code = code;
    result.text = std::move(text);
}

// Read Wellscribe Info into result; the labels stay in record for the report.
bool ReadInfo(PortResult& result, LabelRecord& record) {
    OperationEnvironment environment;
    environment.labels = &record;
    const LinkOutcome step = RunWorker(result.port, {}, OpReadInfo, std::move(environment)).outcome;
    for (const InfoLabel label : InfoLabelOrder) {
        if (record.Hidden(label)) {
            continue;
        }
        if (label == InfoLabel::ReadingSolution1 || label == InfoLabel::ReadingSolution2) {
            // Their texts are the form's; the read only shows them.
            if (record.Shown(label)) {
                result.shown.emplace_back(label == InfoLabel::ReadingSolution1 ? ReadingSolution1
                                                                               : ReadingSolution2);
            }
        } else if (const auto text = record.Text(label)) {
            result.labels.emplace_back(label, *text);
            result.shown.push_back(*text);
        }
    }
    if (!step.Ok()) {
        Fail(result, step.Number(), OutcomeText(step, result.port));
        return false;
    }
    result.text = "OK";
    return true;
}

// Run Self-Test after a successful read: the mask presented row by row.
bool RunSelfTest(PortResult& result) {
    const WorkerResult selfTest = RunWorker(result.port, {}, OpSelfTest, {});
    if (!selfTest.outcome.Ok()) {
        Fail(result, selfTest.outcome.Number(), OutcomeText(selfTest.outcome, result.port));
        return false;
    }
    const std::int32_t code = selfTest.selfTestMask;
    const SelfTestView view = PresentSelfTest(code);
    result.selfTestMask = code;
    for (int test = 1; test <= 8; ++test) {
        const bool failed = view.failed[static_cast<std::size_t>(test - 1)];
        result.shown.push_back(
            std::string(SelfTestCaption(test)) +
            (failed ? std::string(" failed: ") + SelfTestSolution(test) : std::string(" passed")));
    }
    result.code = code;
    result.text = view.summary;
    result.ok = view.failures == 0;
    return true;
}

PortResult FromOutcome(const std::string& port, const CalibrationOutcome& outcome) {
    PortResult result;
    result.port = port;
    switch (outcome.kind) {
    case CalibrationOutcome::Kind::None:
        result.text = "OK";
        break;
    case CalibrationOutcome::Kind::LinkError:
        Fail(result, outcome.link.Number(), OutcomeText(outcome.link, port, true));
        break;
    case CalibrationOutcome::Kind::Message:
        result.text = outcome.text;
        result.ok = outcome.caption != calibration_text::ErrorCaption;
        break;
    case CalibrationOutcome::Kind::GeneralError:
        Fail(result, 0, outcome.text);
        break;
    }
    return result;
}

// One change to the log: the log as it is on disk now, the dialog's sequence,
// which makes its one change and saves. A log that cannot be read is left alone.
template <typename Sequence>
PortResult ChangeLog(const std::string& port, const std::filesystem::path& logPath,
                     const Sequence& sequence) {
    CalibrationLog log(logPath);
    if (const auto loaded = log.Load(); loaded.status == CalibrationLog::LoadStatus::Failed) {
        PortResult result;
        result.port = port;
        Fail(result, 0, loaded.error);
        return result;
    }
    const CalibrationOutcome outcome = sequence(log);
    PortResult result = FromOutcome(port, outcome);
    if (outcome.logChange != LogChange::None && outcome.line < log.Count()) {
        result.logLine = log.Line(outcome.line);
    }
    return result;
}

} // namespace

PortResult ReadInfoJob(const std::string& port) {
    PortResult result;
    result.port = port;
    LabelRecord record;
    ReadInfo(result, record);
    return result;
}

PortResult SelfTestJob(const std::string& port) {
    PortResult result;
    result.port = port;
    LabelRecord record;
    if (ReadInfo(result, record)) {
        RunSelfTest(result);
    }
    return result;
}

PortResult DumpJob(const std::string& port, const std::string& file,
                   const std::function<void(std::uint32_t)>& blockWritten,
                   const std::atomic<bool>* stop) {
    PortResult result;
    result.port = port;
    LabelRecord record;
    // The window reports a failed read and goes on to the dump.
    if (!ReadInfo(result, record)) {
        result.earlierFailure = result.text;
        result.ok = true;
        result.code = 0;
    }
    OperationEnvironment environment;
    environment.hooks.blockWritten = blockWritten;
    environment.hooks.stop = stop;
    DumpRecord dump;
    environment.dumpRecord = &dump;
    const LinkOutcome code = RunWorker(port, file, OpMemoryDump, std::move(environment)).outcome;
    const DumpOutcome outcome = DumpOutcomeFor(code, dump, port, file);
    result.file = file;
    result.bytes = std::uint64_t{dump.blocks} * BlockSize;
    result.text = outcome.text;
    result.code = code.Number();
    result.ok = code.Ok() && !dump.stopped && !result.earlierFailure;
    return result;
}

PortResult ReportJob(const std::string& port, const ReportContact& contact,
                     const std::string& file) {
    PortResult result;
    result.port = port;
    LabelRecord record;
    if (!ReadInfo(result, record) || !RunSelfTest(result)) {
        return result;
    }
    const auto text = [&record](InfoLabel label) { return record.Text(label).value_or(""); };
    const ReportLabels labels{text(InfoLabel::ModelNo),     text(InfoLabel::SerialNo),
                              text(InfoLabel::Firmware),    text(InfoLabel::Battery),
                              text(InfoLabel::ChargeLevel), text(InfoLabel::Temperature),
                              text(InfoLabel::Pressure)};
    const std::string body = BuildReportBody(labels, *result.selfTestMask);
    result.file = file;
    if (const int error = WriteReportFile(file, ReportFileText(contact, body)); error != 0) {
        Fail(result, error,
             "The report could not be saved as " + file + ": " + SystemErrorText(error));
        return result;
    }
    // A logger that failed a test still gets its report: that is what it is for.
    result.ok = true;
    result.code = 0;
    result.text = "Report saved as " + file;
    return result;
}

PortResult StartCalibrationJob(const std::string& port, const std::filesystem::path& logPath) {
    return ChangeLog(port, logPath, [&port](CalibrationLog& log) {
        SystemPcClock clock;
        return StartCalibration(port, log, clock);
    });
}

PortResult StopCalibrationJob(const std::string& port, const std::filesystem::path& logPath) {
    return ChangeLog(port, logPath, [&port](CalibrationLog& log) {
        SystemPcClock clock;
        DateTimeFormats formats;
        return StopCalibration(port, log, clock, formats);
    });
}

PortResult VerifyTimeJob(const std::string& port) {
    SystemPcClock clock;
    DateTimeFormats formats;
    return FromOutcome(port, VerifyTime(port, clock, formats));
}

LogListing ListCalibrationLog(const std::filesystem::path& logPath) {
    LogListing listing;
    CalibrationLog log(logPath);
    if (const auto loaded = log.Load(); loaded.status == CalibrationLog::LoadStatus::Failed) {
        listing.ok = false;
        listing.error = loaded.error;
        return listing;
    }
    for (std::size_t index = 0; index < log.Count(); ++index) {
        listing.lines.emplace_back(log.Line(index), log.IsCompleted(index));
    }
    return listing;
}

const char* LabelKey(InfoLabel label) {
    switch (label) {
    case InfoLabel::SerialNo:
        return "serialNumber";
    case InfoLabel::ModelNo:
        return "modelNumber";
    case InfoLabel::ChargeLevel:
        return "chargeLevel";
    case InfoLabel::Battery:
        return "batteryVoltage";
    case InfoLabel::Firmware:
        return "firmwareVersion";
    case InfoLabel::Temperature:
        return "temperature";
    case InfoLabel::Pressure:
        return "level";
    case InfoLabel::MinTemp:
        return "minRecordTemperature";
    case InfoLabel::MaxTemp:
        return "maxRecordTemperature";
    case InfoLabel::MaxPressure:
        return "maxRecordPressure";
    case InfoLabel::ElapsedTime:
        return "elapsedTime";
    case InfoLabel::ReadingSolution1:
    case InfoLabel::ReadingSolution2:
        break;
    }
    return "";
}

std::string LabelValue(const std::string& labelText) {
    const std::size_t colon = labelText.find(": ");
    return colon == std::string::npos ? labelText : labelText.substr(colon + 2);
}
