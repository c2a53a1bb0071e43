// The logger's 48-byte reply texts, from anywhere: the field splitter, the
// NOT READY test, the firmware label of the read-information operation and the
// temperature cut of the clock calibration.

#include "FuzzCheck.h"
#include "calibration/ClockCalibration.h"
#include "communication/Encodings.h"
#include "operations/Operations.h"

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

void CheckFields(std::string_view text) {
    const auto fields = SplitReplyText(text);
    const std::string_view kept = text.substr(0, text.find_last_not_of('\0') + 1);
    // The fields with their delimiters put back together are the text without the
    // zero bytes that pad its end, and no field holds a delimiter.
    FUZZ_CHECK(!fields.empty() && fields[0].delimiter == '\0');
    std::string joined;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        FUZZ_CHECK(i == 0 || IsFieldDelimiter(fields[i].delimiter));
        for (const char c : fields[i].text) {
            FUZZ_CHECK(!IsFieldDelimiter(c));
        }
        if (i > 0) {
            joined += fields[i].delimiter;
        }
        joined += fields[i].text;
    }
    FUZZ_CHECK(joined == kept);
}

void CheckNotReady(std::string_view text) {
    const bool notReady = IsNotReady(text);
    // Letter case does not matter, and what follows the marker does not either.
    std::string flipped(text);
    for (char& c : flipped) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            c = static_cast<char>(c ^ 0x20);
        }
    }
    FUZZ_CHECK(IsNotReady(flipped) == notReady);
    FUZZ_CHECK(IsNotReady(std::string(text) + "+x") == notReady);
    FUZZ_CHECK(!notReady || text.size() >= 9);
}

// The firmware label: field 4 less its last two characters, a number when it is
// plain decimal notation.
void CheckFirmware(std::string_view field) {
    const auto text = reply_text::FirmwareText(field);
    FUZZ_CHECK(text.has_value() == (field.size() >= 2));
    if (text) {
        FUZZ_CHECK(*text == field.substr(0, field.size() - 2));
    }
    const auto number = reply_text::FirmwareNumber(field);
    if (!number) {
        return;
    }
    std::string_view trimmed = field;
    trimmed.remove_prefix(std::min(trimmed.find_first_not_of(' '), trimmed.size()));
    trimmed = trimmed.substr(0, trimmed.find_last_not_of(' ') + 1);
    std::size_t points = 0;
    for (const char c : trimmed) {
        FUZZ_CHECK(IsDigit(c) || c == '.');
        points += c == '.' ? 1 : 0;
    }
    FUZZ_CHECK(points <= 1);
    FUZZ_CHECK(std::isfinite(*number) && *number >= 0.0f);
    // The same number the C library reads (the C locale: '.' is the point).
    const std::string copy(trimmed);
    FUZZ_CHECK(*number == std::strtof(copy.c_str(), nullptr));
}

void CheckTemperature(std::string_view text) {
    using clock_calibration::ReadingsProblem;
    const auto cut = clock_calibration::CutTemperature(text);
    const auto fields = SplitReplyText(text);
    if (!cut.temperature) {
        switch (cut.problem) {
        case ReadingsProblem::NotReady:
            FUZZ_CHECK(IsNotReady(text));
            break;
        case ReadingsProblem::NoDelimiter:
            FUZZ_CHECK(fields.size() < 2);
            break;
        case ReadingsProblem::FieldTooShort:
            FUZZ_CHECK(fields.size() >= 2 && fields[1].text.size() < 6);
            break;
        }
        return;
    }
    FUZZ_CHECK(!IsNotReady(text) && fields.size() >= 2);
    const auto& temperature = *cut.temperature;
    // Field 1 less the six characters of its unit, with the field's sign.
    FUZZ_CHECK(temperature.text.size() + 6 == fields[1].text.size());
    FUZZ_CHECK(fields[1].text.compare(0, temperature.text.size(), temperature.text) == 0);
    FUZZ_CHECK(temperature.negative == (fields[1].delimiter == '-'));
    const double value = clock_calibration::TemperatureValue(temperature);
    FUZZ_CHECK(std::isfinite(value));
    FUZZ_CHECK(temperature.negative ? value <= 0.0 : value >= 0.0);
}

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ' || c == 0x7F;
}

// The leading number against the C library's reading of the same characters.
void CheckLeadingNumber(std::string_view text) {
    const double value = clock_calibration::LeadingNumber(text);
    FUZZ_CHECK(std::isfinite(value));
    while (!text.empty() && IsBlankOrControl(text.front())) {
        text.remove_prefix(1);
    }
    std::size_t end = 0;
    if (end < text.size() && (text[end] == '+' || text[end] == '-')) {
        ++end;
    }
    bool digits = false;
    bool point = false;
    for (; end < text.size(); ++end) {
        if (IsDigit(text[end])) {
            digits = true;
        } else if (text[end] == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!digits) {
        FUZZ_CHECK(value == 0.0);
        return;
    }
    const std::string number(text.substr(0, end));
    const double expected = std::strtod(number.c_str(), nullptr);
    if (!std::isfinite(expected)) {
        FUZZ_CHECK(value == 0.0);
    } else if (std::fabs(expected) < 1e-300) {
        FUZZ_CHECK(std::fabs(value) < 1e-300); // underflow: zero or a denormal, either way
    } else {
        FUZZ_CHECK(value == expected);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckFields(text);
    CheckNotReady(text);
    CheckTemperature(text);
    CheckLeadingNumber(text);
    // The firmware is field 4 of the status text; the whole input as a field too.
    const auto fields = SplitReplyText(text);
    if (fields.size() > 4) {
        CheckFirmware(fields[4].text);
    }
    CheckFirmware(text.substr(0, 64));
    return 0;
}
