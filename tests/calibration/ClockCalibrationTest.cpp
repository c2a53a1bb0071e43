// The clock arithmetic: drift, temperature correction, the parameter block
// bytes and the verification offset, on the logger's worked figures.

#include "calibration/ClockCalibration.h"

#include <array>
#include <bit>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace cc = clock_calibration;

namespace {

// Start at 0:00:00 of day 0, where a day count carries the most fraction bits, so
// the drifts below come out exact enough to sit on their rounding halves.
constexpr DateTimeValue Start = 0.0;
constexpr DateTimeValue OneDayLater = Start + 1.0;

// The drift over exactly one day with the logger's clock ahead by the given seconds.
cc::DriftResult DriftOverADay(double secondsAhead, double temperature = 20.0) {
    return cc::ComputeDrift(Start, OneDayLater, OneDayLater + secondsAhead / SecondsPerDay,
                            temperature);
}

TEST(ClockDrift, WorkedExampleTenSecondsADay) {
    const auto result = DriftOverADay(10.0);
    ASSERT_TRUE(result.drift) << result.refusal;
    EXPECT_NEAR(result.drift->measured, 115.7407f, 1e-3f);
    EXPECT_EQ(result.drift->rounded, 116);
    EXPECT_NEAR(result.drift->model, 2.12779, 1e-5);
    EXPECT_EQ(result.drift->correction, 113);
    EXPECT_EQ(result.drift->secondsPerDay, 9);

    const auto small = DriftOverADay(5.0);
    ASSERT_TRUE(small.drift);
    EXPECT_EQ(small.drift->rounded, 58);
    EXPECT_EQ(small.drift->correction, 0);
    EXPECT_EQ(small.drift->secondsPerDay, 0);
}

TEST(ClockDrift, ThresholdWithHalvesRoundedUp) {
    struct Case {
        double ppm;
        int rounded;
        int correction;
    };
    // At 20 degrees the model is 2.12779 ppm.
    for (const Case c : {Case{67.5, 68, 65}, Case{67.4, 67, 0}, Case{-67.5, -67, 0},
                         Case{-67.6, -68, -70}, Case{67.49, 67, 0}, Case{0.0, 0, 0}}) {
        const auto result = DriftOverADay(c.ppm * SecondsPerDay / 1e6);
        ASSERT_TRUE(result.drift) << c.ppm;
        EXPECT_EQ(result.drift->rounded, c.rounded) << c.ppm;
        EXPECT_EQ(result.drift->correction, c.correction) << c.ppm;
    }
}

TEST(ClockDrift, NegativeCorrectionTruncatesTowardZero) {
    // At 0 degrees the model is q0 = 2.07747: -148 - 2.07747 truncates to -150.
    const auto result = DriftOverADay(-148e-6 * SecondsPerDay, 0.0);
    ASSERT_TRUE(result.drift);
    EXPECT_EQ(result.drift->correction, -150);
    EXPECT_EQ(result.drift->secondsPerDay, -12); // -12.96
    EXPECT_EQ(cc::CorrectionSecondsPerDay(-150), -12);
    EXPECT_EQ(cc::CorrectionSecondsPerDay(24855), 2147);
    EXPECT_EQ(cc::CorrectionSecondsPerDay(-24855), -2147);
}

TEST(ClockDrift, TemperatureEntersTheModelWithItsSign) {
    const auto warm = DriftOverADay(10.0, 5.0);
    const auto cold = DriftOverADay(10.0, -5.0);
    ASSERT_TRUE(warm.drift && cold.drift);
    EXPECT_NEAR(warm.drift->model, 4.26775, 1e-5);
    EXPECT_NEAR(cold.drift->model, -1.56461, 1e-5);
    EXPECT_EQ(warm.drift->correction, 111);
    EXPECT_EQ(cold.drift->correction, 117);
}

TEST(ClockDrift, RefusesWhatSixteenBitsCannotHold) {
    // Drift beyond 16 bits: an hour a day is 41667 ppm.
    EXPECT_FALSE(DriftOverADay(3600.0).drift);
    EXPECT_FALSE(DriftOverADay(-3600.0).drift);
    EXPECT_FALSE(DriftOverADay(1.0e12).drift);
    // No time between start and stop.
    EXPECT_FALSE(cc::ComputeDrift(Start, Start, Start + 0.001, 20.0).drift);
    // A 16-bit drift whose correction times 86400 passes 32 bits.
    const auto large = DriftOverADay(30000e-6 * SecondsPerDay, 0.0);
    EXPECT_FALSE(large.drift);
    EXPECT_FALSE(large.refusal.empty());
    // A temperature far outside the model's range.
    EXPECT_FALSE(DriftOverADay(10.0, 5000.0).drift);
    // Still within: 24000 ppm.
    const auto fits = DriftOverADay(24000e-6 * SecondsPerDay, 0.0);
    ASSERT_TRUE(fits.drift);
    EXPECT_EQ(fits.drift->correction, 23997);
    EXPECT_EQ(fits.drift->secondsPerDay, 2073);
}

TEST(Temperature, CutFromTheReadingsText) {
    const auto cut = cc::CutTemperature(std::string("RD+  23.456 deg C+   1.234 m\r\n\0\0", 33));
    ASSERT_TRUE(cut.temperature);
    EXPECT_EQ(cut.temperature->text, "  23.456");
    EXPECT_FALSE(cut.temperature->negative);
    EXPECT_DOUBLE_EQ(cc::TemperatureValue(*cut.temperature), 23.456);

    const auto cold = cc::CutTemperature("RD-   5.000 deg C+   1.234 m");
    ASSERT_TRUE(cold.temperature);
    EXPECT_EQ(cold.temperature->text, "   5.000");
    EXPECT_DOUBLE_EQ(cc::TemperatureValue(*cold.temperature), -5.0);

    // A field of exactly its unit gives an empty text, read as 0.
    const auto bare = cc::CutTemperature("RD+ deg C+");
    ASSERT_TRUE(bare.temperature);
    EXPECT_EQ(bare.temperature->text, "");
}

TEST(Temperature, UnusableReadings) {
    EXPECT_EQ(cc::CutTemperature("not ready+  23.456 deg C").problem,
              cc::ReadingsProblem::NotReady);
    EXPECT_EQ(cc::CutTemperature("NOT READY").problem, cc::ReadingsProblem::NotReady);
    EXPECT_EQ(cc::CutTemperature("RD 23.456 deg C").problem, cc::ReadingsProblem::NoDelimiter);
    EXPECT_EQ(cc::CutTemperature("").problem, cc::ReadingsProblem::NoDelimiter);
    // The delimiter after the first zero byte does not count.
    EXPECT_EQ(cc::CutTemperature(std::string("RD\0+ 23.456 deg C", 18)).problem,
              cc::ReadingsProblem::NoDelimiter);
    EXPECT_EQ(cc::CutTemperature("RD+deg C+1").problem, cc::ReadingsProblem::FieldTooShort);
    EXPECT_EQ(cc::CutTemperature("RD+").problem, cc::ReadingsProblem::FieldTooShort);
    for (const char* text : {"not ready+  23.456 deg C", "RD 23", "RD+deg C+1"}) {
        EXPECT_FALSE(cc::CutTemperature(text).temperature) << text;
    }
}

TEST(Temperature, LeadingNumberOfTheTrimmedText) {
    EXPECT_DOUBLE_EQ(cc::LeadingNumber("  23.456"), 23.456);
    EXPECT_DOUBLE_EQ(cc::LeadingNumber("\t20\r\n"), 20.0);
    EXPECT_DOUBLE_EQ(cc::LeadingNumber("12.5 deg"), 12.5);
    EXPECT_DOUBLE_EQ(cc::LeadingNumber("-3.25"), -3.25);
    EXPECT_DOUBLE_EQ(cc::LeadingNumber("+7"), 7.0);
    EXPECT_DOUBLE_EQ(cc::LeadingNumber(".5"), 0.5);
    EXPECT_DOUBLE_EQ(cc::LeadingNumber("1.2.3"), 1.2);
    for (const char* none : {"", "   ", "deg", "-", ".", "+.x"}) {
        EXPECT_EQ(cc::LeadingNumber(none), 0.0) << none;
    }
}

TEST(ParameterBlock, StartSetsCorrectionAndCoefficientsOnly) {
    std::array<std::uint8_t, 256> block{};
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(0xA5 ^ i);
    }
    const auto before = block;
    cc::PrepareParameterBlock(block);
    const std::vector<std::uint8_t> edited(block.begin() + 228, block.begin() + 242);
    EXPECT_EQ(edited, (std::vector<std::uint8_t>{0x00, 0x00, 0xE8, 0xDC, 0xED, 0xBC, 0xF4, 0x4E,
                                                 0x15, 0x3F, 0x45, 0xF5, 0x04, 0x40}));
    for (std::size_t i = 0; i < block.size(); ++i) {
        if (i < 228 || i >= 242) {
            EXPECT_EQ(block[i], before[i]) << i;
        }
    }
    // The bit patterns are the model's own coefficients in single precision.
    EXPECT_EQ(std::bit_cast<float>(cc::CoefficientBits[0]), static_cast<float>(cc::Q2));
    EXPECT_EQ(std::bit_cast<float>(cc::CoefficientBits[1]), static_cast<float>(cc::Q1));
    EXPECT_EQ(std::bit_cast<float>(cc::CoefficientBits[2]), static_cast<float>(cc::Q0));

    cc::StoreCorrection(block, -150);
    EXPECT_EQ(block[228], 0x6A);
    EXPECT_EQ(block[229], 0xFF);
    EXPECT_EQ(block[230], 0xE8);
}

TEST(Verification, SamplesRoundDownAndTheMeanTruncates) {
    const DateTimeValue pc = EncodeDateTime({2006, 11, 17, 14, 3, 22, 300});
    EXPECT_EQ(cc::VerificationSample(pc, EncodeDateTime({2006, 11, 17, 14, 5, 22, 0})), 119);
    // In step with the PC: the clock text lacks the PC's milliseconds.
    EXPECT_EQ(cc::VerificationSample(pc, EncodeDateTime({2006, 11, 17, 14, 3, 22, 0})), -1);
    EXPECT_EQ(cc::VerificationSample(pc, EncodeDateTime({2006, 11, 17, 14, 3, 23, 0})), 0);
    EXPECT_FALSE(cc::VerificationSample(pc, pc + 30000.0));

    const std::int32_t mixed[] = {-1, -1, 0};
    const std::int32_t behind[] = {-1, -1, -1};
    const std::int32_t ahead[] = {119, 119, 119};
    constexpr std::int32_t Largest = std::numeric_limits<std::int32_t>::max();
    const std::int32_t extremes[] = {Largest, Largest, Largest};
    EXPECT_EQ(cc::VerificationOffset(mixed), 0);
    EXPECT_EQ(cc::VerificationOffset(behind), -1);
    EXPECT_EQ(cc::VerificationOffset(ahead), 119);
    EXPECT_EQ(cc::VerificationOffset(extremes), Largest);
}

} // namespace
