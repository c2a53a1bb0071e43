#include "calibration/ClockCalibration.h"

#include "communication/Encodings.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace clock_calibration {

namespace {

void StoreLittleEndian(std::span<std::uint8_t, 256> block, std::size_t offset, std::uint32_t value,
                       std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) {
        block[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

constexpr std::size_t UnitLength = 6;
constexpr std::int32_t SecondsPerDayInt = 86400;
constexpr std::int32_t PartsPerMillionInt = 1000000;

// The largest correction whose product with 86400 stays within 32 bits.
constexpr std::int32_t LargestCorrection =
    std::numeric_limits<std::int32_t>::max() / SecondsPerDayInt;

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ' || c == 0x7F;
}

} // namespace

void PrepareParameterBlock(std::span<std::uint8_t, 256> block) {
    StoreCorrection(block, 0);
    for (std::size_t i = 0; i < CoefficientBits.size(); ++i) {
        StoreLittleEndian(block, CoefficientOffsets[i], CoefficientBits[i], 4);
    }
}

void StoreCorrection(std::span<std::uint8_t, 256> block, std::int16_t correction) {
    StoreLittleEndian(block, CorrectionOffset, static_cast<std::uint16_t>(correction), 2);
}

TemperatureCut CutTemperature(std::string_view readingsText) {
    TemperatureCut cut;
    const auto fields = SplitReplyText(readingsText);
    if (IsNotReady(readingsText)) {
        cut.problem = ReadingsProblem::NotReady;
        return cut;
    }
    if (fields.size() < 2) {
        cut.problem = ReadingsProblem::NoDelimiter;
        return cut;
    }
    const ReplyField& field = fields[1];
    if (field.text.size() < UnitLength) {
        cut.problem = ReadingsProblem::FieldTooShort;
        return cut;
    }
    cut.temperature =
        Temperature{field.text.substr(0, field.text.size() - UnitLength), field.delimiter == '-'};
    return cut;
}

double LeadingNumber(std::string_view text) {
    while (!text.empty() && IsBlankOrControl(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlankOrControl(text.back())) {
        text.remove_suffix(1);
    }
    // Sign, digits, at most one point: the longest such start of the text.
    std::size_t end = 0;
    if (end < text.size() && (text[end] == '+' || text[end] == '-')) {
        ++end;
    }
    bool digits = false;
    bool point = false;
    while (end < text.size()) {
        const char c = text[end];
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
        ++end;
    }
    if (!digits) {
        return 0.0;
    }
    std::string_view number = text.substr(0, end);
    if (number.front() == '+') {
        number.remove_prefix(1); // from_chars takes no plus sign
    }
    double value = 0.0;
    const auto [last, error] = std::from_chars(number.data(), number.data() + number.size(), value,
                                               std::chars_format::fixed);
    return error == std::errc{} && std::isfinite(value) ? value : 0.0;
}

double TemperatureValue(const Temperature& temperature) {
    const double magnitude = LeadingNumber(temperature.text);
    return temperature.negative ? -magnitude : magnitude;
}

std::optional<float> MeasuredDrift(DateTimeValue start, DateTimeValue pcTime,
                                   DateTimeValue loggerTime) {
    const double numerator = PartsPerMillion * (loggerTime - pcTime);
    const double denominator = pcTime - start;
    const double quotient = numerator / denominator;
    if (!std::isfinite(quotient) || std::fabs(quotient) > std::numeric_limits<float>::max()) {
        return std::nullopt;
    }
    return static_cast<float>(quotient);
}

double TemperatureModel(double temperature) {
    return (temperature * Q2) * temperature + temperature * Q1 + Q0;
}

std::int32_t CorrectionSecondsPerDay(std::int16_t correction) {
    // Within 32 bits for every correction ComputeDrift lets through.
    return static_cast<std::int32_t>(std::int64_t{correction} * SecondsPerDayInt /
                                     PartsPerMillionInt);
}

DriftResult ComputeDrift(DateTimeValue start, DateTimeValue pcTime, DateTimeValue loggerTime,
                         double temperature) {
    constexpr double Low = std::numeric_limits<std::int16_t>::min();
    constexpr double High = std::numeric_limits<std::int16_t>::max();
    DriftResult result;
    const auto measured = MeasuredDrift(start, pcTime, loggerTime);
    // Rounded halves go up, so x in [-32768.5, 32767.5) gives a 16-bit D.
    if (!measured || !(*measured >= Low - 0.5f && *measured < High + 0.5f)) {
        result.refusal = "The measured clock drift is too large to be corrected";
        return result;
    }
    Drift drift;
    drift.measured = *measured;
    drift.rounded = static_cast<std::int16_t>(RoundHalfUp(drift.measured));
    if (std::abs(int{drift.rounded}) >= DriftThreshold) {
        drift.model = TemperatureModel(temperature);
        const double correction = std::trunc(drift.rounded - drift.model);
        if (!(std::fabs(correction) <= LargestCorrection)) {
            result.refusal = "The clock correction is too large for this Wellscribe";
            return result;
        }
        drift.correction = static_cast<std::int16_t>(correction);
    }
    drift.secondsPerDay = CorrectionSecondsPerDay(drift.correction);
    result.drift = drift;
    return result;
}

std::optional<std::int32_t> VerificationSample(DateTimeValue pcTime, DateTimeValue loggerTime) {
    const double seconds = std::floor((loggerTime - pcTime) * SecondsPerDay);
    if (!(seconds >= std::numeric_limits<std::int32_t>::min() &&
          seconds <= std::numeric_limits<std::int32_t>::max())) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(seconds);
}

std::int32_t VerificationOffset(std::span<const std::int32_t> samples) {
    if (samples.empty()) {
        return 0;
    }
    std::int64_t sum = 0;
    for (const std::int32_t sample : samples) {
        sum += sample;
    }
    return static_cast<std::int32_t>(sum / static_cast<std::int64_t>(samples.size()));
}

} // namespace clock_calibration
