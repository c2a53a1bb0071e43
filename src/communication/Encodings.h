#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Value encodings inside the logger's request data and reply payloads.

// Packed decimal, 3 bytes: bit 7 of byte 0 the sign, bits 6..4 the decimal exponent e,
// bits 3..0 and bytes 1..2 a 20-bit mantissa; value = mantissa * 10^-e. The product is
// formed in single precision, as the logger's own tools do.
float DecodePackedDecimal(std::span<const std::uint8_t, 3> bytes);
std::array<std::uint8_t, 3> PackDecimal(std::uint8_t exponent, std::uint32_t mantissa,
                                        bool negative);

// Nearest integer with halves toward positive infinity, the fraction taken in
// single precision: 2.5 -> 3, -2.5 -> -2, -2.6 -> -3.
std::int32_t RoundHalfUp(float x);

// Unsigned 24-bit integers, most significant byte first.
std::uint32_t DecodeUInt24(std::span<const std::uint8_t, 3> bytes);
std::array<std::uint8_t, 3> EncodeUInt24(std::uint32_t value);

// The logger's clock text "dd/mm/yyyy hh:nn:ss", always with '/' and ':'.
struct ClockTime {
    int year = 2000;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    bool operator==(const ClockTime&) const = default;
};
constexpr std::size_t ClockTextLength = 19;
std::string FormatClockText(const ClockTime& time);
// Empty unless text is exactly 19 characters of that shape naming a real date and time.
std::optional<ClockTime> ParseClockText(std::string_view text);

// Reply texts (status and readings) are cut into fields at '+', '-', LF and CR.
// Field 0 is the text before the first delimiter; field k is the run of
// non-delimiter characters after the k-th delimiter, which is kept with it
// because the readings use it as their sign. The text is read within its length:
// the zero bytes that pad its end are dropped, any other zero byte is an ordinary
// character.
bool IsFieldDelimiter(char c);
struct ReplyField {
    char delimiter = '\0'; // the delimiter before the field; '\0' for field 0
    std::string text;
};
std::vector<ReplyField> SplitReplyText(std::string_view text);
// True when the text begins with "NOT READY" in any letter case.
bool IsNotReady(std::string_view text);
