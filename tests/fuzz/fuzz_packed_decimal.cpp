// Packed decimals as the logger stores its recorded extremes, and the number
// format the window shows them in. The first three input bytes are a packed
// decimal; four more, when present, are the bit pattern of any float at all
// (NaN, infinities and denormals included) for the formatter and RoundHalfUp.

#include "FuzzCheck.h"
#include "communication/Encodings.h"
#include "operations/NumberFormat.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "-"? then either fixed "I(.F)?" with at most five significant digits, or
// scientific "D(.F)?E[+-]XX+" with F of at most four digits; F never ends in 0.
void CheckGeneral5Shape(std::string_view text) {
    if (text == "0" || text == "NAN" || text == "INF" || text == "-INF") {
        return;
    }
    std::size_t at = text.front() == '-' ? 1 : 0;
    const std::size_t e = text.find('E');
    const std::string_view mantissa = text.substr(at, e == std::string_view::npos ? e : e - at);
    const std::size_t point = mantissa.find('.');
    const std::string_view integer = mantissa.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view{} : mantissa.substr(point + 1);
    FUZZ_CHECK(!integer.empty());
    for (const char c : integer) {
        FUZZ_CHECK(IsDigit(c));
    }
    for (const char c : fraction) {
        FUZZ_CHECK(IsDigit(c));
    }
    FUZZ_CHECK(point == std::string_view::npos || (!fraction.empty() && fraction.back() != '0'));
    if (e == std::string_view::npos) {
        FUZZ_CHECK(integer.size() <= 5);
        // Significant digits: those after the leading zeros of the whole number.
        std::string all = std::string(integer) + std::string(fraction);
        all.erase(0, all.find_first_not_of('0'));
        FUZZ_CHECK(!all.empty() && all.size() <= 5);
        return;
    }
    FUZZ_CHECK(integer.size() == 1 && integer != "0" && fraction.size() <= 4);
    const std::string_view exponent = text.substr(e + 1);
    FUZZ_CHECK(exponent.size() >= 3 && (exponent[0] == '+' || exponent[0] == '-'));
    for (const char c : exponent.substr(1)) {
        FUZZ_CHECK(IsDigit(c));
    }
}

// The text reads back as the value rounded to five significant digits.
void CheckGeneral5(float value) {
    const std::string text = FormatGeneral5(value);
    FUZZ_CHECK(!text.empty() && text.size() <= 12);
    CheckGeneral5Shape(text);
    if (std::isnan(value)) {
        FUZZ_CHECK(text == "NAN");
        return;
    }
    if (std::isinf(value)) {
        FUZZ_CHECK(text == (value < 0 ? "-INF" : "INF"));
        return;
    }
    const double shown = std::strtod(text.c_str(), nullptr);
    const double exact = value;
    // Half a unit in the fifth significant digit, plus the decimal text's own error.
    FUZZ_CHECK(std::fabs(shown - exact) <= 5.0001e-5 * std::fabs(exact));
    FUZZ_CHECK(value == 0.0f || std::signbit(shown) == std::signbit(exact));
}

void CheckPackedDecimal(const std::uint8_t* bytes) {
    const std::span<const std::uint8_t, 3> packed(bytes, 3);
    const float value = DecodePackedDecimal(packed);
    const bool negative = (bytes[0] & 0x80) != 0;
    const std::uint8_t exponent = (bytes[0] >> 4) & 0x07;
    const std::uint32_t mantissa = DecodeUInt24(packed) & 0xFFFFF;

    FUZZ_CHECK(std::isfinite(value));
    FUZZ_CHECK(std::signbit(value) == negative);
    // Packing the fields again gives the same three bytes.
    const auto repacked = PackDecimal(exponent, mantissa, negative);
    FUZZ_CHECK(std::memcmp(repacked.data(), bytes, 3) == 0);
    // mantissa x 10^-e, off by no more than the rounding of the scale factor and
    // of the single-precision product.
    const double exact = mantissa / std::pow(10.0, exponent);
    FUZZ_CHECK(std::fabs(std::fabs(double{value}) - exact) <= exact * 2.5e-7);
    FUZZ_CHECK(std::fabs(value) <= 1048575.0f);
    CheckGeneral5(value);
}

void CheckRoundHalfUp(float x) {
    const std::int32_t rounded = RoundHalfUp(x);
    if (!std::isfinite(x) || std::fabs(x) >= 2147483520.0f) {
        return; // clamped; only defined behaviour is asked of these
    }
    FUZZ_CHECK(rounded == std::floor(x) || rounded == std::ceil(x));
    FUZZ_CHECK(std::fabs(static_cast<double>(rounded) - double{x}) <= 0.5);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    CheckPackedDecimal(data);
    FUZZ_CHECK(
        DecodeUInt24(EncodeUInt24(DecodeUInt24(std::span<const std::uint8_t, 3>(data, 3)))) ==
        DecodeUInt24(std::span<const std::uint8_t, 3>(data, 3)));
    if (size >= 7) {
        float any = 0.0f;
        std::memcpy(&any, data + 3, sizeof any);
        CheckGeneral5(any);
        CheckRoundHalfUp(any);
    }
    return 0;
}
