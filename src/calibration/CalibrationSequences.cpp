#include "calibration/CalibrationSequences.h"

#include "calibration/ClockCalibration.h"
#include "communication/Encodings.h"
#include "communication/LinkSession.h"
#include "communication/ResultCodes.h"
#include "files/FileSystem.h"

#include <array>
#include <cstdio>
#include <functional>
#include <optional>

namespace cc = clock_calibration;

namespace {

constexpr std::uint8_t CalibrationAttempts = 1;
constexpr std::size_t VerificationSamples = 3;

// The logger's clock reply up to its length or a zero byte, whichever comes first.
std::string_view ClockReply(const std::string& text) {
    const std::string_view view = text;
    return view.substr(0, view.find('\0'));
}

// One reading of the logger's clock against the PC clock.
struct ClockReading {
    DateTimeValue pcTime = 0.0;              // P
    std::optional<DateTimeValue> loggerTime; // L; empty when the text is no date-time
    std::string text;                        // the clock text as received
    std::string error;                       // why it is no date-time
};

// The link of one sequence. Write access asked for with OpenAccess is closed
// when the link goes, unless CloseAccess already did, so no way out of a
// sequence leaves the logger open for writing; the closing code, like every
// command, comes 50 ms after the transaction before it.
class CalibrationLink : public LinkSession {
public:
    using LinkSession::LinkSession;
    ~CalibrationLink() {
        if (accessAsked) {
            if (afterCommand) {
                Pause();
            }
            SetAccessCode(CloseAccessCode); // nothing more to report
        }
    }

    void Pause() {
        LinkSession::Pause();
        afterCommand = false;
    }

    // A failed step for ShowLinkError.
    CalibrationOutcome Failure(std::int32_t code) const {
        CalibrationOutcome outcome;
        outcome.kind = CalibrationOutcome::Kind::LinkError;
        outcome.link = Outcome(code);
        return outcome;
    }

    // The set-up that starting and stopping share: open the port, one attempt
    // per command, open write access and read the logger's serial number.
    std::int32_t Begin(const std::string& portName, std::uint32_t& serialNumber) {
        std::int32_t result = Open(portName);
        if (result != LINK_OK) {
            return result;
        }
        Configure(Protocols::DefaultTimeout, CalibrationAttempts);
        if (result = OpenAccess(); result != LINK_OK) {
            return result;
        }
        Pause();
        if (result = ReadSerialNumber(serialNumber); result != LINK_OK) {
            return result;
        }
        Pause();
        return Raw(LINK_OK);
    }

    // Asked for even when the reply is lost: the logger may have taken it.
    std::int32_t OpenAccess() {
        accessAsked = true;
        return Sent(SetAccessCode(WriteAccessCode));
    }
    std::int32_t CloseAccess() {
        const std::int32_t result = Sent(SetAccessCode(CloseAccessCode));
        if (result == LINK_OK) {
            accessAsked = false;
        }
        return result;
    }

    // The serial number: the first three bytes of the 256 read at 0x051012.
    std::int32_t ReadSerialNumber(std::uint32_t& serialNumber) {
        std::array<std::uint8_t, BlockSize> bytes{};
        std::uint32_t received = 0;
        const std::int32_t result = Sent(ReadMemory(ParameterSerialAddress, bytes, 3, received));
        if (result == LINK_OK) {
            serialNumber = DecodeUInt24(std::span(bytes).first<3>());
        }
        return result;
    }

    // The logger's clock: P taken just before the request, then L read from the
    // reply with the clock's formats "dd/mm/yyyy" "hh:nn:ss" (left in force).
    std::int32_t ReadLoggerClock(PcClock& clock, DateTimeFormats& formats, ClockReading& reading) {
        reading.pcTime = clock.Now();
        std::string text;
        if (const std::int32_t result = Sent(ReadClock(text)); result != LINK_OK) {
            return result;
        }
        Pause();
        formats.Set("dd/mm/yyyy", "hh:nn:ss");
        reading.text = ClockReply(text);
        reading.loggerTime = formats.Parse(reading.text, reading.error);
        return Raw(LINK_OK);
    }

    // The temperature cut from the readings text; cut.temperature is empty when
    // the readings are of no use.
    std::int32_t ReadTemperature(cc::TemperatureCut& cut) {
        std::string readings;
        const std::int32_t result = Sent(ReadReadings(readings));
        if (result == LINK_OK) {
            cut = cc::CutTemperature(readings);
        }
        return result;
    }

    std::int32_t
    WriteParameterBlock(const std::function<void(std::span<std::uint8_t, BlockSize>)>& edit) {
        return Sent(
            RewriteBlock(ParameterBlockAddress, [&edit](std::span<std::uint8_t, BlockSize> block) {
                edit(block);
                return Raw(LINK_OK);
            }));
    }

    // The end that starting and stopping share: the logger's clock set to the PC
    // clock (time: the PC time sent), then write access closed.
    std::int32_t SetClockAndClose(PcClock& clock, DateTimeValue& time) {
        Pause();
        time = clock.Now();
        std::int32_t result = Sent(SetClock(FormatDateTime(ClockDateTimeFormat, time)));
        if (result != LINK_OK) {
            return result;
        }
        Pause();
        return CloseAccess();
    }

private:
    // A failed transaction has already paused after its last attempt.
    std::int32_t Sent(std::int32_t result) {
        afterCommand = result == LINK_OK;
        return result;
    }

    bool accessAsked = false;
    bool afterCommand = false; // the last thing on the line was a transaction
};

CalibrationOutcome Message(std::string_view text, std::string_view caption,
                           MessageIcon icon = MessageIcon::None) {
    CalibrationOutcome outcome;
    outcome.kind = CalibrationOutcome::Kind::Message;
    outcome.text = text;
    outcome.caption = caption;
    outcome.icon = icon;
    return outcome;
}

CalibrationOutcome GeneralError(std::string text) {
    CalibrationOutcome outcome;
    outcome.kind = CalibrationOutcome::Kind::GeneralError;
    outcome.text = std::move(text);
    return outcome;
}

// The log as it is on disk now, read before the logger is touched: a log that
// cannot be read takes no start or stop, as its record could not be saved.
// A read-only log is refused here too, so the logger is not changed for a record
// that cannot be kept.
std::optional<CalibrationOutcome> Reloaded(CalibrationLog& log) {
    const CalibrationLog::LoadResult loaded = log.Load();
    if (loaded.status == CalibrationLog::LoadStatus::Failed) {
        return GeneralError(loaded.error);
    }
    if (const CalibrationLog::SaveError readOnly = log.ReadOnlyError()) {
        return GeneralError(*readOnly);
    }
    return std::nullopt;
}

// After the logger is done, its record into the log (one change under the log's
// lock, on the file as it is now). A record that could not be saved is named in
// the message, so the user can keep it by hand.
CalibrationOutcome Recorded(const CalibrationLog& log, const CalibrationLog::ChangeResult& change,
                            bool conflict, const std::string& record, CalibrationOutcome success,
                            LogChange kind, std::uint32_t serialNumber) {
    CalibrationOutcome outcome = std::move(success);
    if (conflict) {
        outcome = GeneralError("Another program changed the line of this Wellscribe in " +
                               files::PathText(log.Path()) +
                               " meanwhile; the file was left unchanged.\nThis calibration's "
                               "record: " +
                               record);
    } else if (change.Failed()) {
        outcome = GeneralError(change.error + "\nThis calibration's record: " + record);
    }
    if (const auto line = log.Find(serialNumber); line && log.Line(*line) == record) {
        outcome.logChange = kind;
        outcome.line = *line;
    }
    return outcome;
}

} // namespace

std::string VerificationMessage(std::int32_t offsetSeconds) {
    char text[96];
    std::snprintf(text, sizeof text,
                  "The Wellscribe Time Offset is %d second(s), as compared to the Time Reference",
                  static_cast<int>(offsetSeconds));
    return text;
}

CalibrationOutcome StartCalibration(const std::string& portName, CalibrationLog& log,
                                    PcClock& clock, const Protocols::Sleeper& sleeper) {
    if (auto refused = Reloaded(log)) {
        return *refused;
    }
    CalibrationLink link(sleeper);
    std::uint32_t serialNumber = 0;
    std::int32_t result = link.Begin(portName, serialNumber);
    if (result != LINK_OK) {
        return link.Failure(result);
    }
    // A logger with a line of its own, started or completed, is not started again.
    if (log.Find(serialNumber)) {
        return Message(calibration_text::AlreadyStarted, calibration_text::ErrorCaption);
    }
    if (result = link.WriteParameterBlock(cc::PrepareParameterBlock); result != LINK_OK) {
        return link.Failure(result);
    }
    // The logger's clock and the record's start time are the same second.
    DateTimeValue start = 0.0;
    if (result = link.SetClockAndClose(clock, start); result != LINK_OK) {
        return link.Failure(result);
    }
    const std::string record = StartedRecord(serialNumber, start);
    bool conflict = false;
    const auto change = log.Change([&](std::vector<std::string>& lines) {
        if (CalibrationLog::Find(lines, serialNumber)) {
            conflict = true; // another program started this logger meanwhile
            return false;
        }
        lines.push_back(record);
        return true;
    });
    return Recorded(log, change, conflict, record, CalibrationOutcome{}, LogChange::Appended,
                    serialNumber);
}

CalibrationOutcome StopCalibration(const std::string& portName, CalibrationLog& log, PcClock& clock,
                                   DateTimeFormats& formats, const Protocols::Sleeper& sleeper) {
    if (auto refused = Reloaded(log)) {
        return *refused;
    }
    CalibrationLink link(sleeper);
    std::uint32_t serialNumber = 0;
    std::int32_t result = link.Begin(portName, serialNumber);
    if (result != LINK_OK) {
        return link.Failure(result);
    }
    const auto index = log.Find(serialNumber);
    if (!index) {
        return Message(calibration_text::NotStarted, calibration_text::ErrorCaption);
    }
    if (log.IsCompleted(*index)) {
        return Message(calibration_text::Completed, calibration_text::ErrorCaption);
    }

    formats.Set("mm/dd/yy", "hh:nn:ss");
    std::string error;
    const std::string startText(StartTimeText(log.Line(*index)));
    const auto start = formats.Parse(startText, error);
    if (!start) {
        return GeneralError(error);
    }
    if (clock.Now() - *start < cc::MinimumCalibrationDays) {
        return Message(calibration_text::TooEarly, calibration_text::ErrorCaption,
                       MessageIcon::Warning);
    }

    ClockReading reading;
    if (result = link.ReadLoggerClock(clock, formats, reading); result != LINK_OK) {
        return link.Failure(result);
    }
    if (!reading.loggerTime) {
        return GeneralError(reading.error); // the clock's formats stay
    }
    formats.Set("mm/dd/yy", "hh:nn:ss");
    cc::TemperatureCut cut;
    if (result = link.ReadTemperature(cut); result != LINK_OK) {
        return link.Failure(result);
    }
    if (!cut.temperature) {
        // Readings of no use (NOT READY, no field): told as the main window tells
        // them, a logger that did not answer with readings.
        return link.Failure(Raw(LINK_ERR_TIMEOUT));
    }
    const auto computed = cc::ComputeDrift(*start, reading.pcTime, *reading.loggerTime,
                                           cc::TemperatureValue(*cut.temperature));
    if (!computed.drift) {
        return Message(computed.refusal, calibration_text::ErrorCaption, MessageIcon::Warning);
    }
    const cc::Drift drift = *computed.drift;

    result = link.WriteParameterBlock([&drift](std::span<std::uint8_t, BlockSize> block) {
        cc::StoreCorrection(block, drift.correction);
    });
    if (result != LINK_OK) {
        return link.Failure(result);
    }
    DateTimeValue setTo = 0.0;
    if (result = link.SetClockAndClose(clock, setTo); result != LINK_OK) {
        return link.Failure(result);
    }

    const std::string record = CompletedRecord(log.Line(*index), *reading.loggerTime,
                                               cut.temperature->text, drift.secondsPerDay);
    bool conflict = false;
    const auto change = log.Change([&](std::vector<std::string>& lines) {
        // The line as it was read, unless another program changed it meanwhile.
        const auto at = CalibrationLog::Find(lines, serialNumber);
        if (!at || CalibrationLog::StateOf(lines[*at]) == CalibrationLog::LineState::Completed ||
            StartTimeText(lines[*at]) != startText) {
            conflict = true;
            return false;
        }
        lines[*at] = record;
        return true;
    });
    return Recorded(log, change, conflict, record,
                    Message(calibration_text::Completed, calibration_text::InformationCaption),
                    LogChange::Replaced, serialNumber);
}

CalibrationOutcome VerifyTime(const std::string& portName, PcClock& clock, DateTimeFormats& formats,
                              const Protocols::Sleeper& sleeper) {
    CalibrationLink link(sleeper);
    std::int32_t result = link.Open(portName);
    if (result != LINK_OK) {
        return link.Failure(result);
    }
    link.Configure(Protocols::DefaultTimeout, CalibrationAttempts); // no access code here
    std::array<std::int32_t, VerificationSamples> samples{};
    for (std::int32_t& sample : samples) {
        ClockReading reading;
        if (result = link.ReadLoggerClock(clock, formats, reading); result != LINK_OK) {
            return link.Failure(result);
        }
        if (!reading.loggerTime) {
            return GeneralError(reading.error);
        }
        const auto seconds = cc::VerificationSample(reading.pcTime, *reading.loggerTime);
        if (!seconds) {
            return GeneralError("The Wellscribe clock (" + reading.text +
                                ") is too far from the PC clock to be compared");
        }
        sample = *seconds;
    }
    link.Pause();
    return Message(VerificationMessage(cc::VerificationOffset(samples)),
                   calibration_text::VerificationCaption);
}
