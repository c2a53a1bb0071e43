#include "operations/NumberFormat.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <langinfo.h>
#endif

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr int SignificantDigits = 5;
// Fixed notation holds values from 0.0001 up to five integer digits.
constexpr int SmallestFixedExponent = -4;
constexpr int LargestFixedExponent = SignificantDigits - 1;

void DropTrailingZeros(std::string& digits) {
    while (!digits.empty() && digits.back() == '0') {
        digits.pop_back();
    }
}

} // namespace

std::string FormatGeneral5(float value, char decimalSeparator) {
    if (std::isnan(value)) {
        return "NAN";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-INF" : "INF";
    }
    if (value == 0.0f) {
        return "0";
    }

    // to_chars never consults the locale. "d.ddddE±xx": the five significant
    // digits after rounding, and the exponent of the rounded value (so 99999.7
    // becomes 1.0000e+05 and counts as six integer digits).
    char buffer[32];
    const auto converted = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                         std::chars_format::scientific, SignificantDigits - 1);
    const std::string_view text(buffer, static_cast<std::size_t>(converted.ptr - buffer));
    const std::size_t e = text.find('e');
    std::string digits;
    digits += text[0];
    digits += text.substr(2, e - 2);
    // The exponent: its sign, then at least two digits.
    int exponent = 0;
    std::from_chars(text.data() + e + 2, text.data() + text.size(), exponent);
    if (text[e + 1] == '-') {
        exponent = -exponent;
    }

    std::string result = value < 0 ? "-" : "";
    if (exponent < SmallestFixedExponent || exponent > LargestFixedExponent) {
        std::string fraction = digits.substr(1);
        DropTrailingZeros(fraction);
        result += digits[0];
        if (!fraction.empty()) {
            result += decimalSeparator + fraction;
        }
        const int magnitude = std::abs(exponent);
        result += exponent < 0 ? "E-" : "E+";
        if (magnitude < 10) {
            result += '0';
        }
        result += std::to_string(magnitude);
        return result;
    }

    std::string integer;
    std::string fraction;
    if (exponent >= 0) {
        integer = digits.substr(0, static_cast<std::size_t>(exponent) + 1);
        fraction = digits.substr(static_cast<std::size_t>(exponent) + 1);
    } else {
        integer = "0";
        fraction = std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    DropTrailingZeros(fraction);
    result += integer;
    if (!fraction.empty()) {
        result += decimalSeparator + fraction;
    }
    return result;
}

char RegionalDecimalSeparator() {
#ifdef _WIN32
    wchar_t separator[4] = {};
    const int length = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 4);
    // The length counts the terminating zero.
    const bool single = length == 2 && separator[0] > L' ' && separator[0] < 0x7F;
    return single ? static_cast<char>(separator[0]) : '.';
#else
    const char* separator = nl_langinfo(RADIXCHAR);
    const bool single =
        separator != nullptr && separator[0] > ' ' && separator[0] < 0x7F && separator[1] == '\0';
    return single ? separator[0] : '.';
#endif
}
