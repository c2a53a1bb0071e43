#pragma once

#include <optional>
#include <string>
#include <string_view>

// PC local date and time as a floating count of days since 30 December 1899,
// the fraction being the time of day (0.5 is noon), milliseconds included.
// Differences are in days; times 86400 they are seconds. All arithmetic here is
// plain calendar arithmetic on local civil time: no locale, no time zone.
using DateTimeValue = double;

constexpr double SecondsPerDay = 86400.0;

struct CivilDateTime {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    bool operator==(const CivilDateTime&) const = default;
};

// No range checks: fields are taken as given (a 25th hour runs into the next day).
DateTimeValue EncodeDateTime(const CivilDateTime& time);
// Rounded to the nearest millisecond first, so a value a hair below a whole
// second still shows that second.
CivilDateTime DecodeDateTime(DateTimeValue value);

// Where "now" comes from, so the calibration can be driven by a clock of the
// caller's choosing.
class PcClock {
public:
    virtual ~PcClock() = default;
    // The PC's local date and time, milliseconds included.
    virtual DateTimeValue Now() = 0;
};

class SystemPcClock final : public PcClock {
public:
    DateTimeValue Now() override;
};

// Formats with the letters yyyy, yy, mm (month), dd, hh (00 to 23), nn (minutes),
// ss (truncated) and their one-letter forms without the leading zero; anything
// else is copied. '/' and ':' are written as such, whatever the PC's regional
// settings, so a text written on one PC reads on any other.
std::string FormatDateTime(std::string_view format, DateTimeValue value);

// The calibration log's date-time texts and the logger's clock texts.
constexpr std::string_view LogDateTimeFormat = "mm/dd/yy hh:nn:ss";
constexpr std::string_view ClockDateTimeFormat = "dd/mm/yyyy hh:nn:ss";

// Reads "date[ time]" with the date's field order taken from shortDateFormat
// (the order in which its d, m and y letters appear), '/' between the date
// fields, ':' between hours, minutes and optional seconds; blanks around the
// text are ignored; without a time the value is midnight. A year of one or two
// digits is 20yy. On failure error holds "'text' is not a valid date and time".
std::optional<DateTimeValue> ParseDateTime(std::string_view text, std::string_view shortDateFormat,
                                           std::string& error);

// The program-wide short date and long time formats: the dialog's clock label
// writes the PC time with them, and the calibration sets them while it reads
// the log's and the logger's date texts (leaving them so afterwards).
class DateTimeFormats {
public:
    static constexpr std::string_view DefaultShortDate = "dd/mm/yyyy";
    static constexpr std::string_view DefaultLongTime = "hh:nn:ss";

    const std::string& ShortDate() const { return shortDate; }
    const std::string& LongTime() const { return longTime; }
    void Set(std::string_view shortDateFormat, std::string_view longTimeFormat);

    // Short date, a blank, long time.
    std::string Format(DateTimeValue value) const;
    // With the current short date's field order.
    std::optional<DateTimeValue> Parse(std::string_view text, std::string& error) const;

private:
    std::string shortDate{DefaultShortDate};
    std::string longTime{DefaultLongTime};
};
