#pragma once

#include "operations/InfoLabels.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the read-information operation decodes at each step, and the label texts
// made from it. The texts are pure functions of the values, so each is tested
// without a logger; the operation hands them to the window as each step arrives.

// The status text's fields. ready is false for a text without a field delimiter
// or one that begins "NOT READY"; firmware is empty when the firmware text is no
// plain decimal number (the operation then ends with LINK_ERR_DATA).
struct LoggerStatus {
    bool ready = false;
    std::string chargeLevel;
    std::string batteryVoltage;
    std::optional<std::string> firmwareText;
    std::optional<float> firmware;
};

// The live readings, each with the delimiter before it as its sign. ready as above.
struct LiveReadings {
    bool ready = false;
    std::string temperature;
    std::string level;
};

// The extremes block of firmware 2.0 and later.
struct RecordedExtremes {
    float minTemperature = 0.0f;
    float maxTemperature = 0.0f;
    float maxPressure = 0.0f;
    std::uint32_t elapsedTime = 0;
};

struct LabelText {
    InfoLabel label;
    std::string text;
};

std::string SerialNumberText(std::uint32_t serialNumber); // "Serial Number: 123456"
std::string ModelNumberText(std::string_view model);      // "Model Number: M10"
// Charge level and battery voltage, then the firmware version when it is a number.
std::vector<LabelText> StatusTexts(const LoggerStatus& status);
// Temperature and level, each with its sign.
std::vector<LabelText> ReadingTexts(const LiveReadings& readings);
// Minimum and maximum temperature and maximum pressure in the general format of
// five significant digits with the given decimal separator (the PC's), then the
// elapsed time.
std::vector<LabelText> ExtremesTexts(const RecordedExtremes& extremes, char decimalSeparator);

// Every value label with its caption and no value ("Temperature:"), as a read
// leaves them before its first request: a read that fails part-way then shows no
// value of the logger read before.
std::vector<LabelText> CaptionTexts();
