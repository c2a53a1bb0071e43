#pragma once

#include "calibration/DateTimeValue.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The clock arithmetic of the extended time calibration: the drift measured
// between the start and the stop, its temperature correction, the values the
// parameter block receives, and the clock offset of a time verification.
namespace clock_calibration {

// A stop earlier than this after the start is refused: 20 hours less about 3 ms.
constexpr double MinimumCalibrationDays = 0.8333333;
constexpr double PartsPerMillion = 1000000.0;
// Drifts of smaller magnitude, in ppm, get no correction.
constexpr int DriftThreshold = 68;

// The temperature model M(T) = q2 T^2 + q1 T + q0, in ppm; the same values are
// written into the logger's parameter block as single-precision floats.
constexpr double Q2 = -0.029036;
constexpr double Q1 = 0.583236;
constexpr double Q0 = 2.07747;

// Parameter block layout (numbers inside the block are little-endian).
constexpr std::size_t CorrectionOffset = 228; // int16, ppm
constexpr std::size_t CoefficientOffsets[3] = {230, 234, 238};
constexpr std::size_t EditedEnd = 242; // one past the last byte the calibration sets
// The coefficients' single-precision bit patterns, q2, q1, q0 in block order.
constexpr std::array<std::uint32_t, 3> CoefficientBits = {0xBCEDDCE8u, 0x3F154EF4u, 0x4004F545u};

// A start: correction 0 and the three coefficients; every other byte untouched.
void PrepareParameterBlock(std::span<std::uint8_t, 256> block);
// A stop: the correction alone.
void StoreCorrection(std::span<std::uint8_t, 256> block, std::int16_t correction);

// The temperature as the logger reported it.
struct Temperature {
    std::string text;      // as cut from the readings text, blanks kept: the log's field
    bool negative = false; // the field's delimiter was '-'
};

enum class ReadingsProblem {
    NoDelimiter,  // the readings text has no field delimiter
    NotReady,     // it begins with NOT READY, in any letter case
    FieldTooShort // field 1 has fewer than the six characters of its unit
};

// Field 1 of the readings text (after its first delimiter, the sign, up to the
// next one) less its last six characters.
struct TemperatureCut {
    std::optional<Temperature> temperature;
    ReadingsProblem problem = ReadingsProblem::NoDelimiter; // when temperature is empty
};
TemperatureCut CutTemperature(std::string_view readingsText);

// The leading decimal number of the text with blanks and control characters
// trimmed, '.' as the decimal point; 0 when it starts with no number.
double LeadingNumber(std::string_view text);
// The value for the model: the leading number, with the field's sign.
double TemperatureValue(const Temperature& temperature);

struct Drift {
    float measured = 0.0f;          // x, ppm
    std::int16_t rounded = 0;       // D
    double model = 0.0;             // M, only worked out when D is at least the threshold
    std::int16_t correction = 0;    // K
    std::int32_t secondsPerDay = 0; // R
};

// Refusal of a value the logger's 16-bit correction cannot hold; the text is
// for the user.
struct DriftResult {
    std::optional<Drift> drift;
    std::string refusal;
};

// start S, pcTime P (taken just before the clock was read), loggerTime L.
DriftResult ComputeDrift(DateTimeValue start, DateTimeValue pcTime, DateTimeValue loggerTime,
                         double temperature);

// x = float(1e6 (L - P) / (P - S)); nullopt when not finite.
std::optional<float> MeasuredDrift(DateTimeValue start, DateTimeValue pcTime,
                                   DateTimeValue loggerTime);
double TemperatureModel(double temperature);
// R = K x 86400 / 1e6, truncated toward zero.
std::int32_t CorrectionSecondsPerDay(std::int16_t correction);

// Time verification: one sample, whole seconds rounded down; nullopt when it
// does not fit 32 bits.
std::optional<std::int32_t> VerificationSample(DateTimeValue pcTime, DateTimeValue loggerTime);
// The sum of the samples over their count, truncated toward zero.
std::int32_t VerificationOffset(std::span<const std::int32_t> samples);

} // namespace clock_calibration
