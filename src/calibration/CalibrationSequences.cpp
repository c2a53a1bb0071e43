#include "calibration/CalibrationSequences.h"

#include "calibration/ClockCalibration.h"
#include "communication/Commands.h"
#include "communication/Encodings.h"
#include "communication/LinkSession.h"
#include "communication/ResultCodes.h"
#include "communication/serial/SERIAL.h"

#include <array>
#include <cstdio>
#include <optional>

namespace cc = clock_calibration;

namespace {

constexpr std::uint8_t CalibrationAttempts = 1;
constexpr std::size_t VerificationSamples = 3;
// The log's start time: at most this many characters after the line's first comma.
constexpr std::size_t StartTextLength = 19;

// The link of one sequence. Write access asked for with OpenAccess is closed
// when the link goes, unless CloseAccess already did, so no way out of a
// sequence leaves the logger open for writing.
class CalibrationLink : public LinkSession {
public:
    using LinkSession::LinkSession;
    ~CalibrationLink() {
        if (accessAsked) {
            SetAccessCode(protocol, port, CloseAccessCode); // nothing more to report
        }
    }

    std::int32_t Open(const std::string& portName) {
        const std::int32_t result = LinkSession::Open(portName);
        opened = result == LINK_OK;
        return result;
    }

    // A failed step for ShowLinkError; a system error code is told apart by
    // whether the port was open.
    CalibrationOutcome Failure(std::int32_t code) const {
        CalibrationOutcome outcome;
        outcome.kind = CalibrationOutcome::Kind::LinkError;
        outcome.linkCode = code;
        outcome.portOpened = opened;
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
        return LINK_OK;
    }

    // Asked for even when the reply is lost: the logger may have taken it.
    std::int32_t OpenAccess() {
        accessAsked = true;
        return SetAccessCode(protocol, port, WriteAccessCode);
    }
    std::int32_t CloseAccess() {
        const std::int32_t result = SetAccessCode(protocol, port, CloseAccessCode);
        if (result == LINK_OK) {
            accessAsked = false;
        }
        return result;
    }

    // The serial number: the first three bytes of the 256 read at 0x051012.
    std::int32_t ReadSerialNumber(std::uint32_t& serialNumber) {
        std::array<std::uint8_t, BlockSize> bytes{};
        std::uint32_t received = 0;
        const std::int32_t result =
            ReadMemory(protocol, port, ParameterSerialAddress, bytes, received);
        if (result != LINK_OK) {
            return result;
        }
        if (received < 3) {
            return LINK_ERR_CRC; // a reply cut short
        }
        serialNumber = DecodeUInt24(std::span(bytes).first<3>());
        return LINK_OK;
    }

private:
    bool accessAsked = false;
    bool opened = false;
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

// After a change to the log: saved, or the save's failure for general error
// reporting; either way the list keeps the change.
CalibrationOutcome Saved(const CalibrationLog& log, CalibrationOutcome success, LogChange change,
                         std::size_t line) {
    const CalibrationLog::SaveError failure = log.Save();
    CalibrationOutcome outcome = failure ? GeneralError(*failure) : std::move(success);
    outcome.logChange = change;
    outcome.line = line;
    return outcome;
}

// The logger's clock reply up to its length or a zero byte, whichever comes first.
std::string_view ClockReply(const std::string& text) {
    const std::string_view view = text;
    return view.substr(0, view.find('\0'));
}

// The start time text of a log line: the 19 characters after its first comma,
// or as many as there are.
std::string_view StartText(std::string_view line) {
    const std::size_t comma = line.find(',');
    return comma == std::string_view::npos ? std::string_view{}
                                           : line.substr(comma + 1, StartTextLength);
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
    std::string record = std::to_string(serialNumber) + ",";

    result = RewriteBlock(link.protocol, link.port, ParameterBlockAddress,
                          [](std::span<std::uint8_t, BlockSize> block) {
                              cc::PrepareParameterBlock(block);
                              return std::int32_t{LINK_OK};
                          });
    if (result != LINK_OK) {
        return link.Failure(result);
    }
    link.Pause();
    // The logger's clock and the record's start time are the same second.
    const DateTimeValue start = clock.Now();
    if (result = SetClock(link.protocol, link.port, FormatDateTime(ClockDateTimeFormat, start));
        result != LINK_OK) {
        return link.Failure(result);
    }
    link.Pause();
    record += FormatDateTime(LogDateTimeFormat, start);
    if (result = link.CloseAccess(); result != LINK_OK) {
        return link.Failure(result);
    }

    log.Append(std::move(record));
    return Saved(log, CalibrationOutcome{}, LogChange::Appended, log.Count() - 1);
}

CalibrationOutcome StopCalibration(const std::string& portName, CalibrationLog& log, PcClock& clock,
                                   DateTimeFormats& formats, const Protocols::Sleeper& sleeper) {
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
    std::string record = log.Line(*index);

    formats.Set("mm/dd/yy", "hh:nn:ss");
    std::string error;
    const auto start = formats.Parse(StartText(record), error);
    if (!start) {
        return GeneralError(error);
    }
    if (clock.Now() - *start < cc::MinimumCalibrationDays) {
        return Message(calibration_text::TooEarly, calibration_text::ErrorCaption,
                       MessageIcon::Warning);
    }

    const DateTimeValue pcTime = clock.Now();
    std::string clockText;
    if (result = ReadClock(link.protocol, link.port, clockText); result != LINK_OK) {
        return link.Failure(result);
    }
    link.Pause();
    formats.Set("dd/mm/yyyy", "hh:nn:ss");
    const auto loggerTime = formats.Parse(ClockReply(clockText), error);
    formats.Set("mm/dd/yy", "hh:nn:ss");
    if (!loggerTime) {
        return GeneralError(error);
    }
    record += "," + FormatDateTime(LogDateTimeFormat, *loggerTime);

    std::string readings;
    if (result = ReadReadings(link.protocol, link.port, readings); result != LINK_OK) {
        return link.Failure(result);
    }
    const auto cut = cc::CutTemperature(readings);
    if (!cut.temperature) {
        return link.Failure(LINK_OK); // the readings are of no use
    }
    record += "," + cut.temperature->text;

    const auto computed =
        cc::ComputeDrift(*start, pcTime, *loggerTime, cc::TemperatureValue(*cut.temperature));
    if (!computed.drift) {
        return Message(computed.refusal, calibration_text::ErrorCaption, MessageIcon::Warning);
    }
    const cc::Drift drift = *computed.drift;
    record += ", " + std::to_string(drift.secondsPerDay) + " s/day";

    result = RewriteBlock(link.protocol, link.port, ParameterBlockAddress,
                          [&drift](std::span<std::uint8_t, BlockSize> block) {
                              cc::StoreCorrection(block, drift.correction);
                              return std::int32_t{LINK_OK};
                          });
    if (result != LINK_OK) {
        return link.Failure(result);
    }
    link.Pause();
    if (result =
            SetClock(link.protocol, link.port, FormatDateTime(ClockDateTimeFormat, clock.Now()));
        result != LINK_OK) {
        return link.Failure(result);
    }
    link.Pause();
    if (result = link.CloseAccess(); result != LINK_OK) {
        return link.Failure(result);
    }

    log.Replace(*index, std::move(record));
    return Saved(log, Message(calibration_text::Completed, calibration_text::InformationCaption),
                 LogChange::Replaced, *index);
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
        const DateTimeValue pcTime = clock.Now();
        std::string clockText;
        if (result = ReadClock(link.protocol, link.port, clockText); result != LINK_OK) {
            return link.Failure(result);
        }
        link.Pause();
        formats.Set("dd/mm/yyyy", "hh:nn:ss");
        std::string error;
        const auto loggerTime = formats.Parse(ClockReply(clockText), error);
        if (!loggerTime) {
            return GeneralError(error);
        }
        const auto seconds = cc::VerificationSample(pcTime, *loggerTime);
        if (!seconds) {
            return GeneralError("The Wellscribe clock (" + std::string(ClockReply(clockText)) +
                                ") is too far from the PC clock to be compared");
        }
        sample = *seconds;
    }
    link.Pause();
    return Message(VerificationMessage(cc::VerificationOffset(samples)),
                   calibration_text::VerificationCaption);
}
