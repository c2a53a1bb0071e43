#include "commands/DeviceCommands.h"

#include "communication/ResultCodes.h"
#include "files/FileSystem.h"

#include <array>

namespace {

constexpr std::array InfoLabelOrder = {
    InfoLabel::SerialNo,    InfoLabel::ModelNo,          InfoLabel::ChargeLevel,
    InfoLabel::Battery,     InfoLabel::Firmware,         InfoLabel::Temperature,
    InfoLabel::Pressure,    InfoLabel::ReadingSolution1, InfoLabel::ReadingSolution2,
    InfoLabel::MinTemp,     InfoLabel::MaxTemp,          InfoLabel::MaxPressure,
    InfoLabel::ElapsedTime,
};

} // namespace

WorkerResult RunAndWait(const std::string& port, std::int32_t mode, const std::string& file,
                        OperationEnvironment environment) {
    return ProcessThread(port, file, mode, std::move(environment)).Wait();
}

void InformationRecord::SetLabelText(InfoLabel label, const std::string& text) {
    texts[label] = text;
    if (shown != nullptr) {
        shown->SetLabelText(label, text);
    }
}

void InformationRecord::SetLabelVisible(InfoLabel label, bool isVisible) {
    visible[label] = isVisible;
    if (shown != nullptr) {
        shown->SetLabelVisible(label, isVisible);
    }
}

std::optional<std::string> InformationRecord::Text(InfoLabel label) const {
    const auto found = texts.find(label);
    return found == texts.end() ? std::nullopt : std::optional(found->second);
}

bool InformationRecord::Shown(InfoLabel label) const {
    const auto found = visible.find(label);
    return found != visible.end() && found->second;
}

bool InformationRecord::Hidden(InfoLabel label) const {
    const auto found = visible.find(label);
    return found != visible.end() && !found->second;
}

std::vector<std::pair<InfoLabel, std::string>> InformationRecord::Values() const {
    std::vector<std::pair<InfoLabel, std::string>> values;
    for (const InfoLabel label : InfoLabelOrder) {
        if (Hidden(label) || label == InfoLabel::ReadingSolution1 ||
            label == InfoLabel::ReadingSolution2) {
            continue;
        }
        // The serial number's label is shown once it holds a value; until then
        // it holds only its caption.
        if (label == InfoLabel::SerialNo && !SerialRead()) {
            continue;
        }
        // A label the read cleared and never filled holds its caption alone.
        if (const auto text = Text(label); text && !text->ends_with(':')) {
            values.emplace_back(label, *text);
        }
    }
    return values;
}

InformationResult ReadInformation(const std::string& port, const OperationRunner& run,
                                  InfoLabelSink* shown, const std::atomic<bool>* stop) {
    InformationResult result{{}, InformationRecord(shown)};
    OperationEnvironment environment;
    environment.labels = &result.labels;
    environment.hooks.stop = stop;
    result.outcome = run(port, OpReadInfo, {}, std::move(environment)).outcome;
    return result;
}

SelfTestRun RunSelfTest(const std::string& port, const OperationRunner& run,
                        const std::atomic<bool>* stop) {
    SelfTestRun result;
    OperationEnvironment environment;
    environment.hooks.stop = stop;
    const WorkerResult worker = run(port, OpSelfTest, {}, std::move(environment));
    result.outcome = worker.outcome;
    if (worker.outcome.Ok()) {
        result.mask = worker.selfTestMask;
        result.view = PresentSelfTest(worker.selfTestMask);
    }
    return result;
}

DumpResult DumpMemoryToFile(const std::string& port, const std::string& file,
                            const OperationRunner& run, OperationHooks hooks,
                            std::optional<std::string> portShown,
                            std::optional<std::string> fileShown) {
    DumpResult result;
    OperationEnvironment environment;
    environment.hooks = std::move(hooks);
    environment.dumpRecord = &result.record;
    result.outcome = run(port, OpMemoryDump, file, std::move(environment)).outcome;
    result.message = DumpOutcomeFor(result.outcome, result.record, portShown.value_or(port),
                                    fileShown.value_or(file));
    return result;
}

std::string DumpFileName(const InformationRecord& labels) {
    return DefaultDumpName(labels.Text(InfoLabel::ModelNo).value_or(""),
                           labels.Text(InfoLabel::SerialNo).value_or(""));
}

std::string Latin1ToUtf8(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        if (code < 0x80) {
            text += byte;
        } else {
            text += static_cast<char>(0xC0 | (code >> 6));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return text;
}

std::string ReportBody(const InformationRecord& labels, std::int32_t selfTestMask) {
    const auto text = [&labels](InfoLabel label) {
        return Latin1ToUtf8(labels.Text(label).value_or(""));
    };
    const ReportLabels report{text(InfoLabel::ModelNo),     text(InfoLabel::SerialNo),
                              text(InfoLabel::Firmware),    text(InfoLabel::Battery),
                              text(InfoLabel::ChargeLevel), text(InfoLabel::Temperature),
                              text(InfoLabel::Pressure)};
    return BuildReportBody(report, selfTestMask);
}

ReportSaved SaveReport(const std::string& file, const ReportContact& contact,
                       const std::string& body, std::optional<std::string> fileShown) {
    ReportSaved saved;
    saved.error = WriteReportFile(file, ReportFileText(contact, body));
    if (saved.error != 0) {
        saved.text = "The report could not be saved as " +
                     fileShown.value_or(files::PathText(files::PathFromName(file))) + ": " +
                     SystemErrorText(saved.error);
    }
    return saved;
}

LogListing ListCalibrationLog(const std::filesystem::path& logPath) {
    LogListing listing;
    CalibrationLog log(logPath);
    if (const auto loaded = log.Load(); loaded.status == CalibrationLog::LoadStatus::Failed) {
        listing.error = loaded.error;
        return listing;
    }
    for (std::size_t index = 0; index < log.Count(); ++index) {
        listing.lines.emplace_back(log.Line(index), log.IsCompleted(index));
    }
    return listing;
}
