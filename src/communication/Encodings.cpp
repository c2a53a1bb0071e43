#include "communication/Encodings.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace {

// Scale factors by decimal exponent, as single-precision constants: the product with the
// mantissa must round exactly as the logger's own tools round it.
constexpr float PackedDecimalScale[8] = {1.0f,    0.1f,     0.01f,     0.001f,
                                         0.0001f, 0.00001f, 0.000001f, 0.0000001f};

constexpr std::uint8_t SignBit = 0x80;
constexpr std::uint32_t MantissaMask = 0xFFFFF; // 20 bits

bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Two or four ASCII digits at text[pos..]; the caller has checked that they are digits.
int DigitsAt(std::string_view text, std::size_t pos, std::size_t count) {
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        value = value * 10 + (text[pos + i] - '0');
    }
    return value;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && IsLeapYear(year)) {
        return 29;
    }
    return Days[month - 1];
}

} // namespace

float DecodePackedDecimal(std::span<const std::uint8_t, 3> bytes) {
    const bool negative = (bytes[0] & SignBit) != 0;
    const unsigned exponent = (bytes[0] >> 4) & 0x07u;
    const std::uint32_t mantissa = (static_cast<std::uint32_t>(bytes[0] & 0x0F) << 16) |
                                   (static_cast<std::uint32_t>(bytes[1]) << 8) | bytes[2];
    // The mantissa fits a float exactly (20 < 24 bits); storing the product in a float
    // rounds it to single precision. The sign comes last, so 80 00 00 is -0.0f.
    const float magnitude = static_cast<float>(mantissa) * PackedDecimalScale[exponent];
    return negative ? -magnitude : magnitude;
}

std::array<std::uint8_t, 3> PackDecimal(std::uint8_t exponent, std::uint32_t mantissa,
                                        bool negative) {
    // Out-of-range inputs are cut to their field widths (3-bit exponent, 20-bit mantissa)
    // rather than spilling into the sign or exponent bits.
    mantissa &= MantissaMask;
    std::uint8_t head = static_cast<std::uint8_t>(((exponent & 0x07u) << 4) | (mantissa >> 16));
    if (negative) {
        head = static_cast<std::uint8_t>(head | SignBit);
    }
    return {head, static_cast<std::uint8_t>((mantissa >> 8) & 0xFF),
            static_cast<std::uint8_t>(mantissa & 0xFF)};
}

std::int32_t RoundHalfUp(float x) {
    const float lower = std::floor(x);
    const float fraction = x - lower; // single precision on purpose
    // NaN fractions (from NaN or infinite x) fail the comparison and take the ceiling.
    const float rounded = fraction < 0.5f ? lower : std::ceil(x);

    // Values that do not fit an int32 are clamped to its range and NaN gives 0, so that
    // the conversion below is always defined. The logger's clock arithmetic stays far
    // inside this range; the guard only keeps corrupt input from becoming undefined.
    if (std::isnan(rounded)) {
        return 0;
    }
    constexpr float Limit = 2147483648.0f; // 2^31, exact in single precision
    if (rounded >= Limit) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (rounded < -Limit) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(rounded);
}

std::uint32_t DecodeUInt24(std::span<const std::uint8_t, 3> bytes) {
    return (static_cast<std::uint32_t>(bytes[0]) << 16) |
           (static_cast<std::uint32_t>(bytes[1]) << 8) | bytes[2];
}

std::array<std::uint8_t, 3> EncodeUInt24(std::uint32_t value) {
    // Only the low 24 bits travel; anything above them is dropped.
    return {static_cast<std::uint8_t>((value >> 16) & 0xFF),
            static_cast<std::uint8_t>((value >> 8) & 0xFF),
            static_cast<std::uint8_t>(value & 0xFF)};
}

std::string FormatClockText(const ClockTime& time) {
    // Integer conversions of snprintf ignore the locale; '/' and ':' are the logger's own
    // separators, not the PC's. Fields out of their ranges widen the text, which
    // ParseClockText then refuses.
    char buffer[80];
    const int length =
        std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d:%02d", time.day, time.month,
                      time.year, time.hour, time.minute, time.second);
    if (length < 0) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::optional<ClockTime> ParseClockText(std::string_view text) {
    // "dd/mm/yyyy hh:nn:ss"
    static constexpr std::string_view Shape = "00/00/0000 00:00:00";
    if (text.size() != ClockTextLength) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < Shape.size(); ++i) {
        const bool ok = Shape[i] == '0' ? IsAsciiDigit(text[i]) : text[i] == Shape[i];
        if (!ok) {
            return std::nullopt;
        }
    }

    ClockTime time;
    time.day = DigitsAt(text, 0, 2);
    time.month = DigitsAt(text, 3, 2);
    time.year = DigitsAt(text, 6, 4);
    time.hour = DigitsAt(text, 11, 2);
    time.minute = DigitsAt(text, 14, 2);
    time.second = DigitsAt(text, 17, 2);

    // Year 0000 is refused: the PC's date values start at year 1.
    if (time.year < 1 || time.month < 1 || time.month > 12 || time.day < 1 ||
        time.day > DaysInMonth(time.year, time.month) || time.hour > 23 || time.minute > 59 ||
        time.second > 59) {
        return std::nullopt;
    }
    return time;
}

bool IsFieldDelimiter(char c) {
    return c == '+' || c == '-' || c == '\n' || c == '\r';
}

std::vector<ReplyField> SplitReplyText(std::string_view text) {
    // The logger pads its fixed-size texts with zero bytes after the last field;
    // a zero byte before that is an ordinary character.
    text = text.substr(0, text.find_last_not_of('\0') + 1);

    std::vector<ReplyField> fields(1);
    for (const char c : text) {
        if (IsFieldDelimiter(c)) {
            fields.push_back(ReplyField{c, {}});
        } else {
            fields.back().text.push_back(c);
        }
    }
    return fields;
}

bool IsNotReady(std::string_view text) {
    static constexpr std::string_view Marker = "not ready";
    if (text.size() < Marker.size()) {
        return false;
    }
    for (std::size_t i = 0; i < Marker.size(); ++i) {
        if (AsciiLower(text[i]) != Marker[i]) {
            return false;
        }
    }
    return true;
}
