#pragma once

#include <string>

// The main window's information labels, as the read-information operation sees
// them: it sets their texts and visibility and never reads them.
enum class InfoLabel {
    SerialNo,         // LblSerialNo
    ModelNo,          // LblModelNo
    ChargeLevel,      // lblChargeLevel
    Battery,          // LblBattery
    Firmware,         // LblFirmware
    Temperature,      // LblTemperature
    Pressure,         // LblPressure
    ReadingSolution1, // lblReadingSolution1
    ReadingSolution2, // lblReadingSolution2
    MinTemp,          // lblMinTemp
    MaxTemp,          // lblMaxTemp
    MaxPressure,      // lblMaxPressure
    ElapsedTime,      // lblElapsedTime
};

// Implemented by the window. Called from the worker thread; an implementation
// must carry the change to its own thread so that it is in place when the wait
// for the worker returns.
class InfoLabelSink {
public:
    virtual ~InfoLabelSink() = default;
    virtual void SetLabelText(InfoLabel label, const std::string& text) = 0;
    virtual void SetLabelVisible(InfoLabel label, bool visible) = 0;
};
