#include "operations/InfoLabelText.h"

#include "operations/NumberFormat.h"

std::string SerialNumberText(std::uint32_t serialNumber) {
    return "Serial Number: " + std::to_string(serialNumber);
}

std::string ModelNumberText(std::string_view model) {
    return "Model Number: " + std::string(model);
}

std::vector<LabelText> StatusTexts(const LoggerStatus& status) {
    std::vector<LabelText> texts{{InfoLabel::ChargeLevel, "Charge Level: " + status.chargeLevel},
                                 {InfoLabel::Battery, "Battery Voltage: " + status.batteryVoltage}};
    if (status.firmware && status.firmwareText) {
        texts.push_back({InfoLabel::Firmware, "Firmware version: " + *status.firmwareText});
    }
    return texts;
}

std::vector<LabelText> ReadingTexts(const LiveReadings& readings) {
    return {{InfoLabel::Temperature, "Temperature: " + readings.temperature},
            {InfoLabel::Pressure, "Level: " + readings.level}};
}

std::vector<LabelText> ExtremesTexts(const RecordedExtremes& extremes, char decimalSeparator) {
    const auto number = [&](float value) { return FormatGeneral5(value, decimalSeparator); };
    return {
        {InfoLabel::MinTemp, "Min Record Logger Temperature: " + number(extremes.minTemperature)},
        {InfoLabel::MaxTemp, "Max Record Logger Temperature: " + number(extremes.maxTemperature)},
        {InfoLabel::MaxPressure, "Max Record Logger Pressure: " + number(extremes.maxPressure)},
        {InfoLabel::ElapsedTime, "Elapsed Time: " + std::to_string(extremes.elapsedTime)}};
}

std::vector<LabelText> CaptionTexts() {
    std::vector<LabelText> texts{{InfoLabel::SerialNo, SerialNumberText(0)},
                                 {InfoLabel::ModelNo, ModelNumberText({})}};
    const auto add = [&texts](const std::vector<LabelText>& more) {
        texts.insert(texts.end(), more.begin(), more.end());
    };
    LoggerStatus status;
    status.firmware = 0.0f;
    status.firmwareText = "";
    add(StatusTexts(status));
    add(ReadingTexts({}));
    add(ExtremesTexts({}, '.'));
    for (LabelText& text : texts) {
        text.text.erase(text.text.find(':') + 1); // the caption and its colon
    }
    return texts;
}
