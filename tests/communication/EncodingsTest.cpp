#include "communication/Encodings.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace {

using Bytes3 = std::array<std::uint8_t, 3>;

float Decode(Bytes3 bytes) {
    return DecodePackedDecimal(bytes);
}

// The logger sends its 48-byte texts padded with zero bytes.
std::string Padded(std::string text, char filler = '\0') {
    text.resize(48, filler);
    return text;
}

// ---- Packed decimal ----

TEST(PackedDecimal, DecodesLoggerExamples) {
    // 23456 * 0.001f rounds to the float just above 23.456f; the logger's tools agree.
    EXPECT_FLOAT_EQ(Decode({0x30, 0x5B, 0xA0}), 23.456f);
    EXPECT_EQ(Decode({0x30, 0x5B, 0xA0}), 23456.0f * 0.001f);
    EXPECT_EQ(Decode({0x90, 0x00, 0x37}), -5.5f);
    EXPECT_EQ(Decode({0x0F, 0xFF, 0xFF}), 1048575.0f);
    EXPECT_EQ(Decode({0x70, 0x00, 0x01}), 0.0000001f);
}

TEST(PackedDecimal, ProductIsFormedInSinglePrecision) {
    // 9 * 0.1f is 0.900000036 in single precision, one step above 0.9f; a decoder that
    // divides by ten in double would give 0.9f instead.
    const float value = Decode({0x10, 0x00, 0x09});
    EXPECT_NE(value, 0.9f);
    EXPECT_EQ(value, std::nextafter(0.9f, 1.0f));
    // Likewise 100011 / 10 lands on 10001.1006, not on the nearest float to 10001.1.
    EXPECT_NE(Decode(PackDecimal(1, 100011, false)), 10001.1f);
}

TEST(PackedDecimal, SignBitAppliesLastAndGivesNegativeZero) {
    const float zero = Decode({0x80, 0x00, 0x00});
    EXPECT_EQ(zero, 0.0f);
    EXPECT_TRUE(std::signbit(zero));
    EXPECT_FALSE(std::signbit(Decode({0x00, 0x00, 0x00})));
    EXPECT_EQ(Decode({0xFF, 0xFF, 0xFF}), -(1048575.0f * 0.0000001f));
}

TEST(PackedDecimal, PacksFieldsIntoTheirBits) {
    EXPECT_EQ(PackDecimal(3, 23456, false), (Bytes3{0x30, 0x5B, 0xA0}));
    EXPECT_EQ(PackDecimal(1, 55, true), (Bytes3{0x90, 0x00, 0x37}));
    EXPECT_EQ(PackDecimal(0, 0xFFFFF, false), (Bytes3{0x0F, 0xFF, 0xFF}));
    EXPECT_EQ(PackDecimal(7, 0xFFFFF, true), (Bytes3{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(PackDecimal(0, 0, true), (Bytes3{0x80, 0x00, 0x00}));
    // Oversized fields must not leak into the sign or exponent bits.
    EXPECT_EQ(PackDecimal(8, 0x1FFFFF, false), (Bytes3{0x0F, 0xFF, 0xFF}));
}

TEST(PackedDecimal, RoundTripsThroughEveryExponent) {
    // 10^e scaled by 10^-e comes back as one, with the sign, for every exponent field.
    std::uint32_t mantissa = 1;
    for (std::uint8_t e = 0; e <= 6; ++e, mantissa *= 10) {
        EXPECT_FLOAT_EQ(Decode(PackDecimal(e, mantissa, false)), 1.0f) << "e=" << int{e};
        EXPECT_FLOAT_EQ(Decode(PackDecimal(e, mantissa, true)), -1.0f) << "e=" << int{e};
    }
}

// ---- RoundHalfUp ----

TEST(RoundHalfUp, HalvesGoTowardPositiveInfinity) {
    EXPECT_EQ(RoundHalfUp(0.49999997f), 0);
    EXPECT_EQ(RoundHalfUp(0.5f), 1);
    EXPECT_EQ(RoundHalfUp(2.5f), 3);
    EXPECT_EQ(RoundHalfUp(-2.5f), -2);
    EXPECT_EQ(RoundHalfUp(-2.6f), -3);
    EXPECT_EQ(RoundHalfUp(-0.5f), 0);
    EXPECT_EQ(RoundHalfUp(-0.0f), 0);
    EXPECT_EQ(RoundHalfUp(7.0f), 7);
    // Just above minus one half: floor -1, fraction past one half, so the ceiling.
    EXPECT_EQ(RoundHalfUp(-0.49999997f), 0);
    EXPECT_EQ(RoundHalfUp(16777215.0f), 16777215);
}

TEST(RoundHalfUp, ClampsValuesOutsideInt32) {
    constexpr auto Max = std::numeric_limits<std::int32_t>::max();
    constexpr auto Min = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(RoundHalfUp(2147483648.0f), Max);
    EXPECT_EQ(RoundHalfUp(std::numeric_limits<float>::infinity()), Max);
    EXPECT_EQ(RoundHalfUp(-2147483648.0f), Min);
    EXPECT_EQ(RoundHalfUp(-std::numeric_limits<float>::infinity()), Min);
    EXPECT_EQ(RoundHalfUp(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(RoundHalfUp(2147483520.0f), 2147483520); // largest float below 2^31
}

// ---- 24-bit integers ----

TEST(UInt24Encoding, BigEndianBothWays) {
    EXPECT_EQ(DecodeUInt24(Bytes3{0x00, 0x30, 0x39}), 12345u);
    EXPECT_EQ(DecodeUInt24(Bytes3{0x01, 0xE2, 0x40}), 123456u);
    EXPECT_EQ(DecodeUInt24(Bytes3{0xFF, 0xFF, 0xFF}), 0xFFFFFFu);
    EXPECT_EQ(EncodeUInt24(0x051000), (Bytes3{0x05, 0x10, 0x00}));
    EXPECT_EQ(EncodeUInt24(0x12345678), (Bytes3{0x34, 0x56, 0x78}));
    for (const std::uint32_t v : {0u, 1u, 0x80u, 0x8000u, 0x800000u, 0xFFFFFFu}) {
        EXPECT_EQ(DecodeUInt24(EncodeUInt24(v)), v);
    }
}

// ---- Clock text ----

TEST(ClockText, FormatsWithZeroPaddingAndParsesBack) {
    const ClockTime t{2024, 3, 5, 7, 8, 9};
    const std::string text = FormatClockText(t);
    EXPECT_EQ(text, "05/03/2024 07:08:09");
    EXPECT_EQ(text.size(), ClockTextLength);
    EXPECT_EQ(ParseClockText(text), t);

    EXPECT_EQ(FormatClockText(ClockTime{987, 12, 31, 23, 59, 59}), "31/12/0987 23:59:59");
    EXPECT_EQ(ParseClockText("31/12/9999 23:59:59"), (ClockTime{9999, 12, 31, 23, 59, 59}));
    EXPECT_EQ(ParseClockText("01/01/0001 00:00:00"), (ClockTime{1, 1, 1, 0, 0, 0}));
}

TEST(ClockText, AcceptsOnlyRealDatesAndTimes) {
    EXPECT_TRUE(ParseClockText("29/02/2024 12:00:00")); // leap year
    EXPECT_TRUE(ParseClockText("29/02/2000 12:00:00")); // divisible by 400
    EXPECT_TRUE(ParseClockText("30/04/2023 12:00:00"));
    EXPECT_FALSE(ParseClockText("29/02/2023 12:00:00"));
    EXPECT_FALSE(ParseClockText("29/02/1900 12:00:00")); // century, not leap
    EXPECT_FALSE(ParseClockText("30/02/2024 12:00:00"));
    EXPECT_FALSE(ParseClockText("31/04/2023 12:00:00"));
    EXPECT_FALSE(ParseClockText("32/01/2023 12:00:00"));
    EXPECT_FALSE(ParseClockText("00/01/2023 12:00:00"));
    EXPECT_FALSE(ParseClockText("01/00/2023 12:00:00"));
    EXPECT_FALSE(ParseClockText("01/13/2023 12:00:00"));
    EXPECT_FALSE(ParseClockText("01/01/0000 12:00:00"));
    EXPECT_TRUE(ParseClockText("01/01/2023 23:59:59"));
    EXPECT_FALSE(ParseClockText("01/01/2023 24:00:00"));
    EXPECT_FALSE(ParseClockText("01/01/2023 23:60:00"));
    EXPECT_FALSE(ParseClockText("01/01/2023 23:59:60"));
}

TEST(ClockText, RejectsWrongShape) {
    EXPECT_FALSE(ParseClockText(""));
    EXPECT_FALSE(ParseClockText("01/01/2023 12:00:0"));   // short
    EXPECT_FALSE(ParseClockText("01/01/2023 12:00:000")); // long
    EXPECT_FALSE(ParseClockText("1/01/2023 12:00:00 "));  // digit missing, padded
    EXPECT_FALSE(ParseClockText("01-01-2023 12:00:00"));
    EXPECT_FALSE(ParseClockText("01/01/2023T12:00:00"));
    EXPECT_FALSE(ParseClockText("01/01/2023 12:00/00"));
    EXPECT_FALSE(ParseClockText(" 1/01/2023 12:00:00"));
    EXPECT_FALSE(ParseClockText("01/01/2023 1a:00:00"));
    // A bad date must not slip through formatting either: it widens past 19 characters.
    EXPECT_FALSE(ParseClockText(FormatClockText(ClockTime{12345, 1, 1, 0, 0, 0})));
}

// ---- Reply texts ----

TEST(ReplyText, ReadingsKeepTheirSignDelimiter) {
    const auto fields = SplitReplyText(Padded("T-1.234+12.345\r\n"));
    ASSERT_EQ(fields.size(), 5u);
    EXPECT_EQ(fields[0].delimiter, '\0');
    EXPECT_EQ(fields[0].text, "T");
    EXPECT_EQ(fields[1].delimiter, '-');
    EXPECT_EQ(fields[1].text, "1.234");
    EXPECT_EQ(fields[2].delimiter, '+');
    EXPECT_EQ(fields[2].text, "12.345");
    EXPECT_EQ(fields[3].delimiter, '\r');
    EXPECT_EQ(fields[3].text, "");
    EXPECT_EQ(fields[4].delimiter, '\n');
    EXPECT_EQ(fields[4].text, "");
}

TEST(ReplyText, StatusFieldsUpToFirmware) {
    const auto fields = SplitReplyText(Padded("S+87+3.61+0+2.00AB\r\n"));
    ASSERT_GE(fields.size(), 5u);
    EXPECT_EQ(fields[1].text, "87");
    EXPECT_EQ(fields[2].text, "3.61");
    EXPECT_EQ(fields[3].text, "0");
    EXPECT_EQ(fields[4].text, "2.00AB");
}

TEST(ReplyText, OnlyTheZeroPaddingAtTheEndIsDropped) {
    // A zero byte inside the text is a character like any other: the fields after
    // it are still found, also when it comes before the first delimiter.
    const auto fields = SplitReplyText(Padded(std::string("A\0+1\0+2-3\r\n", 12)));
    ASSERT_EQ(fields.size(), 6u);
    EXPECT_EQ(fields[0].text, std::string("A\0", 2));
    EXPECT_EQ(fields[1].text, std::string("1\0", 2));
    EXPECT_EQ(fields[3].delimiter, '-');
    EXPECT_EQ(fields[3].text, "3");
    EXPECT_EQ(fields[5].text, "");

    // A last field that runs into the padding ends where the padding begins.
    const auto open = SplitReplyText(Padded("T+22.5"));
    ASSERT_EQ(open.size(), 2u);
    EXPECT_EQ(open[1].text, "22.5");

    const auto empty = SplitReplyText(Padded(""));
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(empty[0].text, "");
}

TEST(ReplyText, EdgeShapes) {
    const auto none = SplitReplyText("ABC");
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].delimiter, '\0');
    EXPECT_EQ(none[0].text, "ABC");

    const auto runs = SplitReplyText("+-X\n");
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].text, "");
    EXPECT_EQ(runs[1].delimiter, '+');
    EXPECT_EQ(runs[1].text, "");
    EXPECT_EQ(runs[2].delimiter, '-');
    EXPECT_EQ(runs[2].text, "X");
    EXPECT_EQ(runs[3].delimiter, '\n');

    // The last field runs to the end of the text when no delimiter closes it.
    const auto open = SplitReplyText("T+22.5");
    ASSERT_EQ(open.size(), 2u);
    EXPECT_EQ(open[1].text, "22.5");
}

TEST(ReplyText, NotReadyIgnoresCaseButNotSpelling) {
    EXPECT_TRUE(IsNotReady("NOT READY"));
    EXPECT_TRUE(IsNotReady(Padded("not ready")));
    EXPECT_TRUE(IsNotReady("Not Ready+0\r\n"));
    EXPECT_FALSE(IsNotReady("NOT READ"));
    EXPECT_FALSE(IsNotReady(""));
    EXPECT_FALSE(IsNotReady("NOT_READY"));
    EXPECT_FALSE(IsNotReady(" NOT READY"));
    EXPECT_FALSE(IsNotReady(std::string("NOT\0READY", 9)));
    // Bytes above 0x7F are not letters to fold.
    EXPECT_FALSE(IsNotReady("NOT READ\xD9"));
}

} // namespace
