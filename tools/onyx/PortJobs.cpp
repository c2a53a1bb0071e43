#include "PortJobs.h"

#include "commands/DeviceCommands.h"
#include "communication/ResultCodes.h"

namespace {

// Raised by Ctrl+C, SIGTERM or SIGHUP: a read or a self-test ends after the request
// in progress.
const std::atomic<bool>* stopRequest = nullptr;

void Fail(PortResult& result, std::int32_t code, std::string text) {
    result.ok = false;
    result.code = code;
    result.text = std::move(text);
}

// The information read, shown as the window shows it; the labels stay in record.
bool ReadInfo(PortResult& result, InformationRecord& record) {
    const InformationResult read = ReadInformation(result.port, RunAndWait, nullptr, stopRequest);
    record = read.labels;
    result.labels = record.Values();
    for (const auto& [label, text] : result.labels) {
        result.shown.push_back(Latin1ToUtf8(text));
    }
    // The advice under the readings, when the read showed it.
    for (const InfoLabel advice : {InfoLabel::ReadingSolution1, InfoLabel::ReadingSolution2}) {
        if (record.Shown(advice)) {
            result.shown.emplace_back(advice == InfoLabel::ReadingSolution1 ? ReadingSolution1
                                                                            : ReadingSolution2);
        }
    }
    if (read.Stopped()) {
        Fail(result, read.outcome.Number(), "stopped before the read was complete");
        return false;
    }
    if (!read.Ok()) {
        Fail(result, read.outcome.Number(), OutcomeText(read.outcome, result.port));
        return false;
    }
    result.text = "OK";
    return true;
}

// The self-test after a successful read: the mask presented row by row.
bool SelfTest(PortResult& result) {
    const SelfTestRun selfTest = RunSelfTest(result.port, RunAndWait, stopRequest);
    if (selfTest.Stopped()) {
        Fail(result, selfTest.outcome.Number(),
             "stopped while the logger ran its self-test (it finishes the tests on its own)");
        return false;
    }
    if (!selfTest.mask) {
        Fail(result, selfTest.outcome.Number(), OutcomeText(selfTest.outcome, result.port));
        return false;
    }
    result.selfTestMask = *selfTest.mask;
    for (int test = 1; test <= 8; ++test) {
        const bool failed = selfTest.view.failed[static_cast<std::size_t>(test - 1)];
        result.shown.push_back(
            std::string(SelfTestCaption(test)) +
            (failed ? std::string(" failed: ") + SelfTestSolution(test) : std::string(" passed")));
    }
    result.code = *selfTest.mask;
    result.text = selfTest.view.summary;
    result.ok = selfTest.Passed();
    return true;
}

PortResult FromOutcome(const std::string& port, const CalibrationOutcome& outcome) {
    PortResult result;
    result.port = port;
    result.ok = outcome.status == CalibrationStatus::Done;
    switch (outcome.kind) {
    case CalibrationOutcome::Kind::None:
        result.text = "OK";
        break;
    case CalibrationOutcome::Kind::LinkError:
        // The port and the reason, as every other command tells them; the
        // dialog's numbered form ("2 Internal Error") says neither.
        result.code = outcome.link.Number();
        result.text = OutcomeText(outcome.link, port);
        if (!outcome.text.empty()) {
            result.text += "\n" + outcome.text;
        }
        break;
    case CalibrationOutcome::Kind::Message:
    case CalibrationOutcome::Kind::GeneralError:
        result.text = outcome.text;
        break;
    }
    // The logger's own words ("Time Calibration Started for this Wellscribe"), told
    // as what they are: the reason nothing was done.
    if (outcome.status == CalibrationStatus::Refused) {
        result.text = "refused: " + result.text;
    }
    // Only what the log holds now: a record that could not be saved is in the text.
    if (!outcome.savedLine.empty()) {
        result.logLine = outcome.savedLine;
    }
    return result;
}

// One sequence on the log at logPath, as the dialog runs it on its log.
template <typename Sequence>
PortResult OnLog(const std::string& port, const std::filesystem::path& logPath,
                 const Sequence& sequence) {
    CalibrationLog log(logPath);
    return FromOutcome(port, sequence(log));
}

} // namespace

void StopReadsOn(const std::atomic<bool>* stop) {
    stopRequest = stop;
}

PortResult ReadInfoJob(const std::string& port) {
    PortResult result;
    result.port = port;
    InformationRecord record;
    ReadInfo(result, record);
    return result;
}

PortResult SelfTestJob(const std::string& port) {
    PortResult result;
    result.port = port;
    InformationRecord record;
    if (ReadInfo(result, record)) {
        SelfTest(result);
    }
    return result;
}

PortResult DumpJob(const std::string& port, const std::string& file, const std::string& fileShown,
                   const std::function<void(std::uint32_t)>& blockWritten,
                   const std::atomic<bool>* stop) {
    PortResult result;
    result.port = port;
    InformationRecord record;
    // The window reports a failed read and goes on to the dump.
    if (!ReadInfo(result, record)) {
        result.earlierFailure = result.text;
        result.ok = true;
        result.code = 0;
    }
    OperationHooks hooks;
    hooks.blockWritten = blockWritten;
    hooks.stop = stop;
    const DumpResult dump = DumpMemoryToFile(port, file, RunAndWait, hooks, port, fileShown);
    result.file = fileShown;
    result.bytes = dump.Bytes();
    result.text = dump.message.text;
    result.code = dump.outcome.Number();
    // A complete dump is what was asked for; the failed read stays a warning.
    result.ok = dump.Complete();
    return result;
}

PortResult ReportJob(const std::string& port, const ReportRequest& request) {
    PortResult result;
    result.port = port;
    InformationRecord record;
    if (!ReadInfo(result, record) || !SelfTest(result)) {
        return result;
    }
    const std::string body = ReportBody(record, *result.selfTestMask);
    const std::string text = ReportFileText(request.contact, body);
    if (const std::string characters = UnsavableCharacters(text);
        !characters.empty() && !request.allowLossy) {
        Fail(result, 0, "The report was not saved: " + UnsavableCharactersText(characters));
        return result;
    }
    if (request.file.empty()) {
        result.standardOutput = SystemCodePageText(text);
        result.text = "Report written to standard output";
    } else {
        result.file = request.file;
        const ReportSaved saved = SaveReport(request.file, request.contact, body);
        if (!saved.Ok()) {
            Fail(result, saved.error, saved.text);
            return result;
        }
        result.text = "Report saved as " + NativeSeparators(request.file);
    }
    // A logger that failed a test still gets its report: that is what it is for.
    result.ok = true;
    result.code = 0;
    return result;
}

std::string UnsavableCharactersText(const std::string& characters) {
    return "these characters cannot be saved in this PC's character set: " + characters +
           "\nGive --allow-lossy to save them as '?'.";
}

PortResult StartCalibrationJob(const std::string& port, const std::filesystem::path& logPath) {
    return OnLog(port, logPath, [&port](CalibrationLog& log) {
        SystemPcClock clock;
        return StartCalibration(port, log, clock);
    });
}

PortResult StopCalibrationJob(const std::string& port, const std::filesystem::path& logPath) {
    return OnLog(port, logPath, [&port](CalibrationLog& log) {
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
