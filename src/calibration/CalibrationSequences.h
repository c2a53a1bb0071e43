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

// What a sequence came to, for a front end that words the result itself.
enum class CalibrationStatus {
    Done,    // the logger and the log are as the button asks
    Refused, // the logger's state does not allow it (started already, not started,
             // completed, too early, a drift the logger cannot hold); nothing changed
    Failed,  // a link error, or a file that could not be read or saved
};

struct CalibrationOutcome {
    enum class Kind {
        None,         // nothing to show
        LinkError,    // ShowLinkError with link, and text (when any) under it
        Message,      // a message box: text, caption, icon, an OK button
        GeneralError, // the program's general error reporting with text
    };
    Kind kind = Kind::None;
    LinkOutcome link;
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::None;

    CalibrationStatus status = CalibrationStatus::Done;
    // A stop that finished what an interrupted one had measured and noted.
    bool resumed = false;

    // The line appended or replaced, when the log holds it (saved, or kept in the
    // list after a failed save).
    LogChange logChange = LogChange::None;
    std::size_t line = 0;
    // The logger's line as saved in the log by this sequence; empty when nothing was saved.
    std::string savedLine;
};

// Starting and stopping take the log's lock before their first request and keep
// it until their record is saved (CalibrationLog::PrepareChange): a log that
// cannot be read whole or replaced is refused before the logger is touched.
//
// "Start Time Calibration": correction 0 and the clock coefficients into the
// parameter block, then the started record "serial,mm/dd/yy hh:nn:ss" appended to
// the log and saved, then the logger's clock set to that same time. The record is
// saved before the clock is set, so a start cut short after that point leaves the
// line a later stop needs; a set-clock that fails takes the line out again.
CalibrationOutcome StartCalibration(const std::string& portName, CalibrationLog& log,
                                    PcClock& clock, const Protocols::Sleeper& sleeper = {});

// "Stop Time Calibration", at least 20 hours after the start: the drift is
// measured, corrected by the temperature model, noted beside the log
// (PendingStop), written into the parameter block as the clock correction, the
// clock is set again, and the logger's line becomes its completed record, saved,
// and the note dropped. When a stop is cut short after the note, the next stop of
// that logger finishes it from the note (the same correction, the clock set
// again) and never measures from the clock it set. Leaves formats at "mm/dd/yy"
// "hh:nn:ss" once it has read the start time.
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
