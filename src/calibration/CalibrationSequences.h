#pragma once

#include "calibration/CalibrationLog.h"
#include "calibration/DateTimeValue.h"
#include "communication/Protocols.h"
#include "communication/ResultCodes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The three logger sequences of the calibration dialog: start and stop a
// logger's extended time calibration, and verify a logger's clock. Each opens
// the named port, runs its commands one after another with their pauses and
// time-outs, closes the port and hands back what the dialog is to show.
//
// Write access, once asked for, is closed again on every way out: a sequence
// that ends early (a refusal or a failed command) still sends the closing code,
// ignoring its result, before the outcome goes back to the dialog.

namespace calibration_text {
constexpr std::string_view AlreadyStarted = "Time Calibration Started for this Wellscribe";
constexpr std::string_view NotStarted = "Time Calibration did not Start for this Wellscribe";
constexpr std::string_view Completed = "Time Calibration for this Wellscribe is completed";
constexpr std::string_view TooEarly = "Minimium Time for Time Calibration is 20 hours";
constexpr std::string_view ErrorCaption = "Error";
constexpr std::string_view InformationCaption = "Information";
constexpr std::string_view VerificationCaption = "Time Verification Completed";
} // namespace calibration_text

enum class MessageIcon { None, Warning };

// How the calibration log changed.
enum class LogChange {
    None,
    Appended, // a started record was added as the last line
    Replaced, // the line at CalibrationOutcome::line became its completed record
};

struct CalibrationOutcome {
    enum class Kind {
        None,         // nothing to show
        LinkError,    // ShowLinkError with link
        Message,      // a message box: text, caption, icon, an OK button
        GeneralError, // the program's general error reporting with text
    };
    Kind kind = Kind::None;
    LinkOutcome link;
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::None;

    // The line appended or replaced, when the log holds it (saved, or kept in the
    // list after a failed save).
    LogChange logChange = LogChange::None;
    std::size_t line = 0;
};

// Starting and stopping first read the log as it is on disk and refuse, before
// the logger is touched, when it cannot be read; their record goes in as one
// CalibrationLog::Change, so lines other programs saved meanwhile are kept.
//
// "Start Time Calibration": correction 0 and the clock coefficients into the
// parameter block, the logger's clock set to the PC clock, and the started
// record "serial,mm/dd/yy hh:nn:ss" appended to the log and saved.
CalibrationOutcome StartCalibration(const std::string& portName, CalibrationLog& log,
                                    PcClock& clock, const Protocols::Sleeper& sleeper = {});

// "Stop Time Calibration", at least 20 hours after the start: the drift is
// measured, corrected by the temperature model, written into the parameter
// block as the clock correction, the clock is set again, and the logger's line
// becomes its completed record, saved. Leaves formats at "mm/dd/yy" "hh:nn:ss"
// once it has read the start time.
CalibrationOutcome StopCalibration(const std::string& portName, CalibrationLog& log, PcClock& clock,
                                   DateTimeFormats& formats,
                                   const Protocols::Sleeper& sleeper = {});

// "Time Verification": three readings of the logger's clock against the PC
// clock, the mean offset in whole seconds (positive: the logger is ahead).
// Neither the logger nor the log is changed. Leaves formats at "dd/mm/yyyy"
// "hh:nn:ss" once it has read a clock.
CalibrationOutcome VerifyTime(const std::string& portName, PcClock& clock, DateTimeFormats& formats,
                              const Protocols::Sleeper& sleeper = {});

// The verification message for an offset in seconds.
std::string VerificationMessage(std::int32_t offsetSeconds);
