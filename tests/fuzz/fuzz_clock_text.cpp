// Date and time texts from the logger and from the calibration log: the logger's
// clock text "dd/mm/yyyy hh:nn:ss" and the general date-time reader with the
// log's "mm/dd/yy" and the clock's "dd/mm/yyyy" day orders.

#include "FuzzCheck.h"
#include "calibration/DateTimeValue.h"
#include "communication/Encodings.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') {
        text.remove_suffix(1);
    }
    return text;
}

// True when text has exactly the shape of the pattern, '0' standing for a digit.
bool HasShape(std::string_view text, std::string_view pattern) {
    if (text.size() != pattern.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == '0' ? !digit : text[i] != pattern[i]) {
            return false;
        }
    }
    return true;
}

void CheckClockText(std::string_view text) {
    const auto clock = ParseClockText(text);
    if (!clock) {
        return;
    }
    // A clock text read is the same text written back.
    FUZZ_CHECK(FormatClockText(*clock) == text);
    // And the general reader with the clock's day order agrees on the moment.
    std::string error;
    const auto value = ParseDateTime(text, "dd/mm/yyyy", error);
    FUZZ_CHECK(value.has_value());
    FUZZ_CHECK(*value == EncodeDateTime({clock->year, clock->month, clock->day, clock->hour,
                                         clock->minute, clock->second, 0}));
}

void CheckDateTime(std::string_view text, std::string_view dateFormat, std::string_view pattern) {
    std::string error = "stale";
    const auto value = ParseDateTime(text, dateFormat, error);
    if (!value) {
        FUZZ_CHECK(error == "'" + std::string(text) + "' is not a valid date and time");
        return;
    }
    FUZZ_CHECK(error.empty());
    const CivilDateTime time = DecodeDateTime(*value);
    FUZZ_CHECK(time.year >= 1 && time.year <= 9999 && time.month >= 1 && time.month <= 12 &&
               time.day >= 1 && time.day <= 31 && time.hour <= 23 && time.minute <= 59 &&
               time.second <= 59 && time.millisecond == 0);
    // Written out in full and read again: the same moment.
    const std::string format = std::string(dateFormat) + " hh:nn:ss";
    const std::string full = FormatDateTime("dd/mm/yyyy hh:nn:ss", *value);
    const auto again = ParseDateTime(full, "dd/mm/yyyy", error);
    FUZZ_CHECK(again.has_value() && *again == *value);
    // A text in the canonical shape is exactly what the format writes.
    const std::string_view trimmed = Trimmed(text);
    if (HasShape(trimmed, pattern)) {
        FUZZ_CHECK(FormatDateTime(format, *value) == trimmed);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckClockText(text);
    CheckDateTime(text, "mm/dd/yy", "00/00/00 00:00:00");
    CheckDateTime(text, "dd/mm/yyyy", "00/00/0000 00:00:00");
    return 0;
}
