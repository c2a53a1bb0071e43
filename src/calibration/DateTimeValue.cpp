#include "calibration/DateTimeValue.h"

#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>

namespace {

constexpr std::int64_t MillisecondsPerDay = 86'400'000;

// Days from 1 January 1970 of a proleptic Gregorian date.
constexpr std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(std::int64_t days, int& year, int& month, int& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

// 30 December 1899, day 0 of the count.
constexpr std::int64_t EpochDays = DaysFromCivil(1899, 12, 30);

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

void AppendNumber(std::string& out, int value, std::size_t width) {
    std::string digits = std::to_string(value);
    if (digits.size() < width) {
        digits.insert(0, width - digits.size(), '0');
    }
    out += digits;
}

std::size_t RunLength(std::string_view text, std::size_t at) {
    std::size_t end = at;
    while (end < text.size() && (text[end] | 0x20) == (text[at] | 0x20)) {
        ++end;
    }
    return end - at;
}

// A cursor over a date or time text.
struct Scanner {
    std::string_view text;
    std::size_t at = 0;

    bool AtEnd() const { return at == text.size(); }
    bool Take(char c) {
        if (!AtEnd() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    }
    // 1 to maxDigits decimal digits; digitCount tells how many.
    bool Number(int& value, std::size_t maxDigits, std::size_t& digitCount) {
        value = 0;
        digitCount = 0;
        while (!AtEnd() && text[at] >= '0' && text[at] <= '9' && digitCount < maxDigits) {
            value = value * 10 + (text[at] - '0');
            ++at;
            ++digitCount;
        }
        return digitCount > 0 && (AtEnd() || text[at] < '0' || text[at] > '9');
    }
};

std::string_view Trim(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') {
        text.remove_suffix(1);
    }
    return text;
}

enum class Field { Day, Month, Year };

// The order of d, m and y in a short date format; day-month-year when unclear.
std::array<Field, 3> FieldOrder(std::string_view format) {
    std::array<Field, 3> order{};
    std::size_t count = 0;
    bool seen[3] = {false, false, false};
    for (const char raw : format) {
        const char c = static_cast<char>(raw | 0x20);
        const int index = c == 'd' ? 0 : c == 'm' ? 1 : c == 'y' ? 2 : -1;
        if (index >= 0 && !seen[index] && count < 3) {
            seen[index] = true;
            order[count++] = static_cast<Field>(index);
        }
    }
    if (count != 3) {
        return {Field::Day, Field::Month, Field::Year};
    }
    return order;
}

} // namespace

DateTimeValue EncodeDateTime(const CivilDateTime& time) {
    const std::int64_t days = DaysFromCivil(time.year, time.month, time.day) - EpochDays;
    const double milliseconds =
        ((time.hour * 60.0 + time.minute) * 60.0 + time.second) * 1000.0 + time.millisecond;
    return static_cast<double>(days) + milliseconds / static_cast<double>(MillisecondsPerDay);
}

CivilDateTime DecodeDateTime(DateTimeValue value) {
    const auto total = static_cast<std::int64_t>(std::llround(value * MillisecondsPerDay));
    std::int64_t days = total / MillisecondsPerDay;
    std::int64_t ofDay = total % MillisecondsPerDay;
    if (ofDay < 0) {
        ofDay += MillisecondsPerDay;
        --days;
    }
    CivilDateTime time;
    CivilFromDays(days + EpochDays, time.year, time.month, time.day);
    time.millisecond = static_cast<int>(ofDay % 1000);
    const auto seconds = static_cast<int>(ofDay / 1000);
    time.hour = seconds / 3600;
    time.minute = seconds / 60 % 60;
    time.second = seconds % 60;
    return time;
}

DateTimeValue SystemPcClock::Now() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t whole = std::chrono::system_clock::to_time_t(now);
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  now - std::chrono::system_clock::from_time_t(whole))
                                  .count();
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &whole);
#else
    localtime_r(&whole, &local);
#endif
    CivilDateTime time{local.tm_year + 1900,
                       local.tm_mon + 1,
                       local.tm_mday,
                       local.tm_hour,
                       local.tm_min,
                       local.tm_sec,
                       0};
    // A leap second shows as :59 of the minute before.
    time.second = time.second > 59 ? 59 : time.second;
    time.millisecond = static_cast<int>(milliseconds < 0 ? 0 : milliseconds % 1000);
    return EncodeDateTime(time);
}

std::string FormatDateTime(std::string_view format, DateTimeValue value) {
    const CivilDateTime time = DecodeDateTime(value);
    std::string out;
    std::size_t at = 0;
    while (at < format.size()) {
        const char letter = static_cast<char>(format[at] | 0x20);
        const std::size_t run = RunLength(format, at);
        switch (letter) {
        case 'y':
            if (run >= 4) {
                AppendNumber(out, time.year, 4);
                at += 4;
            } else {
                AppendNumber(out, time.year % 100, 2);
                at += run;
            }
            continue;
        case 'm':
        case 'd':
        case 'h':
        case 'n':
        case 's': {
            const int value = letter == 'm'   ? time.month
                              : letter == 'd' ? time.day
                              : letter == 'h' ? time.hour
                              : letter == 'n' ? time.minute
                                              : time.second;
            const std::size_t width = run >= 2 ? 2 : 1;
            AppendNumber(out, value, width);
            at += width;
            continue;
        }
        default:
            out += format[at];
            ++at;
        }
    }
    return out;
}

std::optional<DateTimeValue> ParseDateTime(std::string_view text, std::string_view shortDateFormat,
                                           std::string& error) {
    error.clear();
    const auto fail = [&]() -> std::optional<DateTimeValue> {
        error = "'" + std::string(text) + "' is not a valid date and time";
        return std::nullopt;
    };
    Scanner scan{Trim(text)};

    int values[3] = {0, 0, 0};
    std::size_t yearDigits = 0;
    const auto order = FieldOrder(shortDateFormat);
    for (std::size_t i = 0; i < 3; ++i) {
        if (i > 0 && !scan.Take('/')) {
            return fail();
        }
        std::size_t digits = 0;
        const bool isYear = order[i] == Field::Year;
        if (!scan.Number(values[static_cast<int>(order[i])], isYear ? 4 : 2, digits)) {
            return fail();
        }
        if (isYear) {
            yearDigits = digits;
        }
    }
    int day = values[static_cast<int>(Field::Day)];
    int month = values[static_cast<int>(Field::Month)];
    int year = values[static_cast<int>(Field::Year)];
    if (yearDigits <= 2) {
        year += 2000;
    } else if (yearDigits != 4) {
        return fail();
    }

    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!scan.AtEnd()) {
        if (!scan.Take(' ')) {
            return fail();
        }
        while (scan.Take(' ')) {
        }
        std::size_t digits = 0;
        if (!scan.Number(hour, 2, digits) || !scan.Take(':') || !scan.Number(minute, 2, digits)) {
            return fail();
        }
        if (scan.Take(':') && !scan.Number(second, 2, digits)) {
            return fail();
        }
        if (!scan.AtEnd()) {
            return fail();
        }
    }
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour > 23 || minute > 59 || second > 59) {
        return fail();
    }
    return EncodeDateTime({year, month, day, hour, minute, second, 0});
}

void DateTimeFormats::Set(std::string_view shortDateFormat, std::string_view longTimeFormat) {
    shortDate = shortDateFormat;
    longTime = longTimeFormat;
}

std::string DateTimeFormats::Format(DateTimeValue value) const {
    return FormatDateTime(shortDate + " " + longTime, value);
}

std::optional<DateTimeValue> DateTimeFormats::Parse(std::string_view text,
                                                    std::string& error) const {
    return ParseDateTime(text, shortDate, error);
}
