#include "operations/Operations.h"

#include "communication/Commands.h"
#include "communication/Encodings.h"
#include "communication/LinkSession.h"
#include "communication/ResultCodes.h"
#include "communication/serial/SERIAL.h"
#include "operations/DumpFile.h"
#include "operations/InfoLabels.h"
#include "operations/NumberFormat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <vector>

namespace {

constexpr std::uint8_t ReadInfoAttempts = 5;
constexpr std::uint8_t DumpAttempts = 5;
constexpr std::uint8_t SelfTestAttempts = 1;

// Field k of a reply text, empty (no delimiter, no text) when the text has fewer.
ReplyField FieldOf(const std::vector<ReplyField>& fields, std::size_t k) {
    return k < fields.size() ? fields[k] : ReplyField{};
}

std::string WithDelimiter(const ReplyField& field) {
    std::string text;
    if (field.delimiter != '\0') {
        text += field.delimiter;
    }
    return text + field.text;
}

void SetVisible(InfoLabelSink& labels, std::initializer_list<InfoLabel> which, bool visible) {
    for (const InfoLabel label : which) {
        labels.SetLabelVisible(label, visible);
    }
}

// The recorded extremes block: three packed decimals, then the elapsed-time counter.
constexpr std::size_t ExtremesLength = 21;
constexpr std::size_t MinTempOffset = 0;
constexpr std::size_t MaxTempOffset = 3;
constexpr std::size_t MaxPressureOffset = 6;
constexpr std::size_t ElapsedTimeOffset = 18;
// Firmware from this version on records extremes.
constexpr float ExtremesFirmware = 2.0f;

std::string PackedDecimalText(const std::array<std::uint8_t, ExtremesLength>& block,
                              std::size_t offset) {
    return FormatGeneral5(DecodePackedDecimal(std::span(block).subspan(offset).first<3>()));
}

// The memory image, in the order the dump file holds it.
struct DumpRegion {
    std::uint32_t first;
    std::uint32_t end; // one past the last address
};
constexpr std::array<DumpRegion, 2> DumpRegions{{{0x000000, 0x040000}, {0x040000, 0x042000}}};

} // namespace

namespace reply_text {

std::optional<std::string> FirmwareText(std::string_view field4) {
    if (field4.size() < 2) {
        return std::nullopt;
    }
    return std::string(field4.substr(0, field4.size() - 2));
}

std::optional<float> FirmwareNumber(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    // Plain decimal notation only: digits and at most one point, always '.'
    // whatever the PC's locale, since the logger sends it so.
    const auto digits =
        std::count_if(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    const auto points = std::count(text.begin(), text.end(), '.');
    if (digits == 0 || points > 1 || static_cast<std::size_t>(digits + points) != text.size()) {
        return std::nullopt;
    }
    float number = 0.0f;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), number, std::chars_format::fixed);
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(number)) {
        return std::nullopt;
    }
    return number;
}

} // namespace reply_text

std::int32_t ReadDeviceInformation(const std::string& portName, InfoLabelSink& labels,
                                   const Protocols::Sleeper& sleeper, const OperationHooks& hooks) {
    LinkSession link(sleeper);
    std::int32_t result = link.Open(portName);
    if (result != LINK_OK) {
        return result;
    }
    if (hooks.portOpened) {
        hooks.portOpened();
    }
    link.Configure(Protocols::DefaultTimeout, ReadInfoAttempts);
    WSRX_Protocol& protocol = link.protocol;
    CSerial& port = link.port;
    std::uint32_t received = 0;

    // Serial number.
    std::array<std::uint8_t, 3> serial{};
    result = ReadMemory(protocol, port, SerialNumberAddress, serial);
    if (result != LINK_OK) {
        labels.SetLabelVisible(InfoLabel::SerialNo, false);
        return result;
    }
    labels.SetLabelVisible(InfoLabel::SerialNo, true);
    labels.SetLabelText(InfoLabel::SerialNo,
                        "Serial Number: " + std::to_string(DecodeUInt24(serial)));

    // Model number: text up to its first zero byte.
    link.Pause();
    std::array<std::uint8_t, 8> model{};
    result = ReadMemory(protocol, port, ModelNumberAddress, model, 1, received);
    if (result != LINK_OK) {
        return result;
    }
    const auto modelEnd = std::find(model.begin(), model.begin() + received, std::uint8_t{0});
    labels.SetLabelText(InfoLabel::ModelNo,
                        "Model Number: " + std::string(model.begin(), modelEnd));

    // Status: charge level, battery voltage, firmware.
    link.Pause();
    std::string status;
    result = ReadStatusText(protocol, port, status);
    if (result != LINK_OK) {
        SetVisible(labels, {InfoLabel::Firmware, InfoLabel::Battery, InfoLabel::ChargeLevel},
                   false);
        return result;
    }
    const std::vector<ReplyField> statusFields = SplitReplyText(status);
    if (statusFields.size() < 2 || IsNotReady(status)) {
        return LINK_ERR_TIMEOUT;
    }
    SetVisible(labels, {InfoLabel::Firmware, InfoLabel::Battery, InfoLabel::ChargeLevel}, true);
    labels.SetLabelText(InfoLabel::ChargeLevel, "Charge Level: " + FieldOf(statusFields, 1).text);
    labels.SetLabelText(InfoLabel::Battery, "Battery Voltage: " + FieldOf(statusFields, 2).text);
    const std::optional<std::string> firmwareText =
        reply_text::FirmwareText(FieldOf(statusFields, 4).text);
    const std::optional<float> firmware =
        firmwareText ? reply_text::FirmwareNumber(*firmwareText) : std::nullopt;
    if (!firmware) {
        return LINK_ERR_DATA;
    }
    labels.SetLabelText(InfoLabel::Firmware, "Firmware version: " + *firmwareText);

    // Readings: temperature and level, each with the delimiter before it as its sign.
    link.Pause();
    std::string readings;
    if (ReadReadings(protocol, port, readings) != LINK_OK) {
        return LINK_ERR_TIMEOUT;
    }
    SetVisible(labels,
               {InfoLabel::Temperature, InfoLabel::Pressure, InfoLabel::ReadingSolution1,
                InfoLabel::ReadingSolution2},
               true);
    const std::vector<ReplyField> readingFields = SplitReplyText(readings);
    if (readingFields.size() < 2 || IsNotReady(readings)) {
        return LINK_ERR_TIMEOUT;
    }
    labels.SetLabelText(InfoLabel::Temperature,
                        "Temperature: " + WithDelimiter(FieldOf(readingFields, 1)));
    labels.SetLabelText(InfoLabel::Pressure, "Level: " + WithDelimiter(FieldOf(readingFields, 2)));

    // Recorded extremes, kept by firmware 2.0 and later only.
    const std::initializer_list<InfoLabel> extremeLabels{
        InfoLabel::MaxTemp, InfoLabel::MinTemp, InfoLabel::MaxPressure, InfoLabel::ElapsedTime};
    if (*firmware < ExtremesFirmware) {
        SetVisible(labels, extremeLabels, false);
        return LINK_OK;
    }
    SetVisible(labels, extremeLabels, true);
    std::array<std::uint8_t, ExtremesLength> extremes{};
    result = ReadMemory(protocol, port, ExtremesAddress, extremes);
    if (result != LINK_OK) {
        return result;
    }
    labels.SetLabelText(InfoLabel::MinTemp, "Min Record Logger Temperature: " +
                                                PackedDecimalText(extremes, MinTempOffset));
    labels.SetLabelText(InfoLabel::MaxTemp, "Max Record Logger Temperature: " +
                                                PackedDecimalText(extremes, MaxTempOffset));
    labels.SetLabelText(InfoLabel::MaxPressure, "Max Record Logger Pressure: " +
                                                    PackedDecimalText(extremes, MaxPressureOffset));
    const std::uint32_t elapsed =
        DecodeUInt24(std::span(extremes).subspan(ElapsedTimeOffset).first<3>());
    labels.SetLabelText(InfoLabel::ElapsedTime, "Elapsed Time: " + std::to_string(elapsed));
    return LINK_OK;
}

std::int32_t RunSelfTestOperation(const std::string& portName, const Protocols::Sleeper& sleeper) {
    LinkSession link(sleeper);
    std::int32_t result = link.Open(portName);
    if (result != LINK_OK) {
        // The window presents any result from 0 to 255 as a mask, so a system error
        // (5, a port another program took since the information was read) must not
        // come back as one.
        return LINK_ERR_TIMEOUT;
    }
    // Sent once: a second request would start the logger's tests over.
    link.Configure(SelfTestReplyTimeout, SelfTestAttempts);
    std::optional<std::uint8_t> mask;
    result = RunSelfTest(link.protocol, link.port, mask);
    if (result > 0) {
        // A system error on the open port (the cable pulled while the tests ran)
        // would read as a mask of failed tests: it is a reply that never came.
        return LINK_ERR_TIMEOUT;
    }
    if (result != LINK_OK) {
        return result;
    }
    // Without its byte the reply says nothing about the tests; it must not read
    // as "all passed".
    return mask ? std::int32_t{*mask} : std::int32_t{LINK_ERR_CRC};
}

std::int32_t DumpMemory(const std::string& portName, const std::string& fileName,
                        const Protocols::Sleeper& sleeper, const OperationHooks& hooks,
                        DumpRecord* record) {
    DumpRecord unused;
    DumpRecord& done = record != nullptr ? *record : unused;
    done = DumpRecord{};
    // The file first: if it cannot be had, the logger is not contacted.
    DumpFile file;
    if (file.Open(fileName) != LINK_OK) {
        done.fileError = file.SystemError();
        return OP_ERR_FILE_OPEN;
    }
    // A file of its own that holds no whole block is of no use to anyone.
    const auto removeIfEmpty = [&] {
        if (done.blocks == 0 && file.Created()) {
            done.fileRemoved = file.Remove() == LINK_OK;
        }
    };
    LinkSession link(sleeper);
    std::int32_t result = link.Open(portName);
    if (result != LINK_OK) {
        removeIfEmpty();
        return result;
    }
    done.portOpened = true;
    if (hooks.portOpened) {
        hooks.portOpened();
    }
    link.Configure(Protocols::DefaultTimeout, DumpAttempts);

    std::array<std::uint8_t, BlockSize> block{};
    for (const DumpRegion& region : DumpRegions) {
        for (std::uint32_t address = region.first; address < region.end; address += BlockSize) {
            if (hooks.stop != nullptr && hooks.stop->load()) {
                done.stopped = true;
                link.port.Close();
                removeIfEmpty();
                return LINK_OK;
            }
            // Only whole blocks go to disk, so file offsets stay logger addresses.
            result = ReadMemory(link.protocol, link.port, address, block);
            if (result != LINK_OK) {
                removeIfEmpty();
                return result;
            }
            if (file.Write(block) != LINK_OK) {
                done.fileError = file.SystemError();
                removeIfEmpty();
                return OP_ERR_FILE_WRITE;
            }
            ++done.blocks;
            if (hooks.blockWritten) {
                hooks.blockWritten(done.blocks);
            }
            link.Pause();
        }
    }
    link.port.Close();
    file.Close();
    return LINK_OK;
}
