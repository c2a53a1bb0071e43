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
        outcome.status = CalibrationStatus::Failed;
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

    // The end that starting and stopping share: the logger's clock set to time
    // (the PC clock, taken by the caller after its pause), then write access closed.
    std::int32_t SetClockAndClose(DateTimeValue time) {
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
    outcome.status = caption == calibration_text::ErrorCaption ? CalibrationStatus::Refused
                                                               : CalibrationStatus::Done;
    return outcome;
}

CalibrationOutcome GeneralError(std::string text) {
    CalibrationOutcome outcome;
    outcome.kind = CalibrationOutcome::Kind::GeneralError;
    outcome.text = std::move(text);
    outcome.status = CalibrationStatus::Failed;
    return outcome;
}

constexpr std::string_view NothingSent = "\nNothing was sent to the Wellscribe.";

// The log's lock taken and the log and its noted stops read, before the logger is
// touched: a log whose record could not be saved takes no start or stop. The
// lock is kept until the sequence's end (the guard goes after the link).
struct LogHold {
    CalibrationLog& log;
    ~LogHold() { log.ReleaseLock(); }
};

std::optional<CalibrationOutcome> Prepared(CalibrationLog& log) {
    if (const CalibrationLog::SaveError refused = log.PrepareChange()) {
        return GeneralError(*refused + std::string(NothingSent));
    }
    return std::nullopt;
}

// After the logger is done, its record into the log (one change on the file as it
// is now). A record that could not be saved is named in the message, so the user
// can keep it by hand.
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
    } else {
        outcome.savedLine = record;
    }
    if (const auto line = log.Find(serialNumber); line && log.Line(*line) == record) {
        outcome.logChange = kind;
        outcome.line = *line;
    }
    return outcome;
}

// Where the measurement of a stop cut short is kept, for the message.
std::string KeptFor(const CalibrationLog& log) {
    return "\nThe measured drift is kept in " + files::PathText(log.PendingPath()) +
           ": Stop Time Calibration for this Wellscribe again to finish it.";
}

// The end of a stop, from its note: the correction into the parameter block, the
// clock set, access closed, the completed record saved and the note dropped. Run
// again after an interruption it gives the same logger and the same log.
CalibrationOutcome FinishStop(CalibrationLink& link, CalibrationLog& log, PcClock& clock,
                              const PendingStop& noted, bool resumed) {
    std::int32_t result =
        link.WriteParameterBlock([&noted](std::span<std::uint8_t, BlockSize> block) {
            cc::StoreCorrection(block, noted.correction);
        });
    if (result == LINK_OK) {
        link.Pause();
        result = link.SetClockAndClose(clock.Now());
    }
    if (result != LINK_OK) {
        CalibrationOutcome failed = link.Failure(result);
        failed.text = KeptFor(log).substr(1);
        return failed;
    }
    const std::string startText(StartTimeText(noted.record));
    bool conflict = false;
    const auto change = log.Change([&](std::vector<std::string>& lines) {
        // The line as it was read, unless another program changed it meanwhile.
        const auto at = CalibrationLog::Find(lines, noted.serialNumber);
        if (!at || CalibrationLog::StateOf(lines[*at]) == CalibrationLog::LineState::Completed ||
            StartTimeText(lines[*at]) != startText) {
            conflict = true;
            return false;
        }
        lines[*at] = noted.record;
        return true;
    });
    std::string completed(calibration_text::Completed);
    if (resumed) {
        completed += "\nThis finished a stop that was interrupted: the drift it measured (" +
                     noted.record.substr(noted.record.rfind(", ") + 2) +
                     ") was written into the Wellscribe.";
    }
    CalibrationOutcome outcome = Recorded(log, change, conflict, noted.record,
                                          Message(completed, calibration_text::InformationCaption),
                                          LogChange::Replaced, noted.serialNumber);
    outcome.resumed = resumed;
    if (outcome.status == CalibrationStatus::Failed) {
        outcome.text += KeptFor(log);
        return outcome;
    }
    if (const CalibrationLog::SaveError dropped = log.DropPending(noted.serialNumber)) {
        // The record is saved; a note left behind is dropped by the next stop.
        outcome.text += "\n" + *dropped;
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
    const LogHold hold{log};
    if (auto refused = Prepared(log)) {
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
    // The logger's clock and the record's start time are the same second; the
    // record is saved first, so no start the logger took goes unrecorded.
    link.Pause();
    const DateTimeValue start = clock.Now();
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
    CalibrationOutcome outcome = Recorded(log, change, conflict, record, CalibrationOutcome{},
                                          LogChange::Appended, serialNumber);
    if (outcome.status != CalibrationStatus::Done) {
        outcome.text += "\nThe Wellscribe's clock was not set; start it again.";
        return outcome;
    }
    if (result = link.SetClockAndClose(start); result != LINK_OK) {
        // Not started after all: the line goes again, as the user starts it anew.
        CalibrationOutcome failed = link.Failure(result);
        const auto undone = log.Change([&](std::vector<std::string>& lines) {
            const auto at = CalibrationLog::Find(lines, serialNumber);
            if (!at || lines[*at] != record) {
                return false;
            }
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(*at));
            return true;
        });
        if (undone.Failed()) {
            failed.text = undone.error + "\nThe line " + record +
                          " stays in the log though the Wellscribe's clock may not have been "
                          "set: remove it by hand and start again.";
        }
        return failed;
    }
    return outcome;
}

CalibrationOutcome StopCalibration(const std::string& portName, CalibrationLog& log, PcClock& clock,
                                   DateTimeFormats& formats, const Protocols::Sleeper& sleeper) {
    const LogHold hold{log};
    if (auto refused = Prepared(log)) {
        return *refused;
    }
    CalibrationLink link(sleeper);
    std::uint32_t serialNumber = 0;
    std::int32_t result = link.Begin(portName, serialNumber);
    if (result != LINK_OK) {
        return link.Failure(result);
    }
    const auto index = log.Find(serialNumber);
    std::string pendingError;
    const std::optional<PendingStop> noted = log.FindPending(serialNumber, pendingError);
    if (!pendingError.empty()) {
        return GeneralError(pendingError);
    }
    if (noted) {
        // A stop that measured, noted and was then cut short: finished from its note,
        // while the line it belongs to is still the started record it measured from.
        if (index && log.State(*index) == CalibrationLog::LineState::InProgress &&
            StartTimeText(log.Line(*index)) == StartTimeText(noted->record)) {
            return FinishStop(link, log, clock, *noted, true);
        }
        log.DropPending(serialNumber); // the record was saved, or the line is gone
    }
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
        // Named by its file and line, so the user can mend it by hand.
        return GeneralError("The start time on line " + std::to_string(*index + 1) + " of " +
                            files::PathText(log.Path()) + " cannot be read: " + error);
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

    // The measurement reaches the disk before the logger is changed: from here on,
    // whatever cuts the stop short, the next stop finishes it from the note.
    const PendingStop note{serialNumber, drift.correction,
                           CompletedRecord(log.Line(*index), *reading.loggerTime,
                                           cut.temperature->text, drift.secondsPerDay)};
    if (const CalibrationLog::SaveError failed = log.NotePending(note)) {
        return GeneralError(*failed + std::string(NothingSent) +
                            " Stop Time Calibration again once the file can be saved.");
    }
    return FinishStop(link, log, clock, note, false);
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
