#include "operations/Operations.h"

#include "communication/Commands.h"
#include "communication/Encodings.h"
#include "communication/LinkSession.h"
#include "communication/ResultCodes.h"
#include "communication/serial/SERIAL.h"
#include "operations/DumpFile.h"
#include "operations/InfoLabelText.h"
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

// A reply text the logger sends without data: no delimiter, or "NOT READY".
bool Ready(const std::vector<ReplyField>& fields, std::string_view text) {
    return fields.size() >= 2 && !IsNotReady(text);
}

constexpr std::initializer_list<InfoLabel> StatusLabels{InfoLabel::Firmware, InfoLabel::Battery,
                                                        InfoLabel::ChargeLevel};
constexpr std::initializer_list<InfoLabel> ReadingLabels{
    InfoLabel::Temperature, InfoLabel::Pressure, InfoLabel::ReadingSolution1,
    InfoLabel::ReadingSolution2};
constexpr std::initializer_list<InfoLabel> ExtremeLabels{
    InfoLabel::MaxTemp, InfoLabel::MinTemp, InfoLabel::MaxPressure, InfoLabel::ElapsedTime};

void SetVisible(InfoLabelSink& labels, std::initializer_list<InfoLabel> which, bool visible) {
    for (const InfoLabel label : which) {
        labels.SetLabelVisible(label, visible);
    }
}

void Write(InfoLabelSink& labels, const std::vector<LabelText>& texts) {
    for (const LabelText& text : texts) {
        labels.SetLabelText(text.label, text.text);
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

// The steps of the read-information operation: one command each, decoding what
// the labels show. Each returns the link's code; a reply without usable data
// that the step can still tell apart comes back as LINK_OK with ready false.

std::int32_t ReadSerialNumber(LinkSession& link, std::uint32_t& serial) {
    std::array<std::uint8_t, 3> bytes{};
    const std::int32_t result = link.ReadMemory(SerialNumberAddress, bytes);
    serial = result == LINK_OK ? DecodeUInt24(bytes) : 0;
    return result;
}

// The model number: the text up to its first zero byte.
std::int32_t ReadModel(LinkSession& link, std::string& model) {
    std::array<std::uint8_t, 8> bytes{};
    std::uint32_t received = 0;
    const std::int32_t result = link.ReadMemory(ModelNumberAddress, bytes, 1, received);
    const auto end = std::find(bytes.begin(), bytes.begin() + received, std::uint8_t{0});
    model.assign(bytes.begin(), end);
    return result;
}

std::int32_t ReadStatus(LinkSession& link, LoggerStatus& status) {
    std::string text;
    const std::int32_t result = link.ReadStatusText(text);
    const std::vector<ReplyField> fields = SplitReplyText(text);
    status = LoggerStatus{};
    status.ready = result == LINK_OK && Ready(fields, text);
    if (!status.ready) {
        return result;
    }
    status.chargeLevel = FieldOf(fields, 1).text;
    status.batteryVoltage = FieldOf(fields, 2).text;
    // Field 3 is not used; field 4 is the firmware with two characters after it.
    status.firmwareText = reply_text::FirmwareText(FieldOf(fields, 4).text);
    if (status.firmwareText) {
        status.firmware = reply_text::FirmwareNumber(*status.firmwareText);
    }
    return result;
}

std::int32_t ReadLiveReadings(LinkSession& link, LiveReadings& readings) {
    std::string text;
    const std::int32_t result = link.ReadReadings(text);
    const std::vector<ReplyField> fields = SplitReplyText(text);
    readings = LiveReadings{};
    readings.ready = result == LINK_OK && Ready(fields, text);
    if (readings.ready) {
        readings.temperature = WithDelimiter(FieldOf(fields, 1));
        readings.level = WithDelimiter(FieldOf(fields, 2));
    }
    return result;
}

std::int32_t ReadExtremes(LinkSession& link, RecordedExtremes& extremes) {
    std::array<std::uint8_t, ExtremesLength> block{};
    const std::int32_t result = link.ReadMemory(ExtremesAddress, block);
    const auto at = [&](std::size_t offset) { return std::span(block).subspan(offset).first<3>(); };
    extremes = RecordedExtremes{};
    if (result == LINK_OK) {
        extremes.minTemperature = DecodePackedDecimal(at(MinTempOffset));
        extremes.maxTemperature = DecodePackedDecimal(at(MaxTempOffset));
        extremes.maxPressure = DecodePackedDecimal(at(MaxPressureOffset));
        extremes.elapsedTime = DecodeUInt24(at(ElapsedTimeOffset));
    }
    return result;
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

namespace {

std::int32_t ReadInformation(LinkSession& link, InfoLabelSink& labels) {
    link.Configure(Protocols::DefaultTimeout, ReadInfoAttempts);
    // Nothing of a logger read before stays beside what this one reads.
    Write(labels, CaptionTexts());

    std::uint32_t serial = 0;
    std::int32_t result = ReadSerialNumber(link, serial);
    labels.SetLabelVisible(InfoLabel::SerialNo, result == LINK_OK);
    if (result != LINK_OK) {
        return result;
    }
    labels.SetLabelText(InfoLabel::SerialNo, SerialNumberText(serial));

    link.Pause();
    std::string model;
    result = ReadModel(link, model);
    if (result != LINK_OK) {
        return result;
    }
    labels.SetLabelText(InfoLabel::ModelNo, ModelNumberText(model));

    link.Pause();
    LoggerStatus status;
    result = ReadStatus(link, status);
    if (result != LINK_OK) {
        SetVisible(labels, StatusLabels, false);
        return result;
    }
    if (!status.ready) {
        return Raw(LINK_ERR_TIMEOUT);
    }
    SetVisible(labels, StatusLabels, true);
    Write(labels, StatusTexts(status));
    if (!status.firmware) {
        return Raw(LINK_ERR_DATA);
    }

    link.Pause();
    LiveReadings readings;
    result = ReadLiveReadings(link, readings);
    // A port lost, or a stop, is told as such; any other failure as the readings
    // that never came.
    if (result > 0 || result == OP_STOPPED) {
        return result;
    }
    if (result != LINK_OK) {
        return Raw(LINK_ERR_TIMEOUT);
    }
    SetVisible(labels, ReadingLabels, true);
    if (!readings.ready) {
        return Raw(LINK_ERR_TIMEOUT);
    }
    Write(labels, ReadingTexts(readings));

    // Recorded extremes, kept by firmware 2.0 and later only.
    if (*status.firmware < ExtremesFirmware) {
        SetVisible(labels, ExtremeLabels, false);
        return Raw(LINK_OK);
    }
    SetVisible(labels, ExtremeLabels, true);
    RecordedExtremes extremes;
    result = ReadExtremes(link, extremes);
    if (result != LINK_OK) {
        return result;
    }
    Write(labels, ExtremesTexts(extremes, RegionalDecimalSeparator()));
    return Raw(LINK_OK);
}

} // namespace

LinkOutcome ReadDeviceInformation(const std::string& portName, InfoLabelSink& labels,
                                  const Protocols::Sleeper& sleeper, const OperationHooks& hooks) {
    LinkSession link(sleeper);
    link.SetStop(hooks.stop);
    const std::int32_t result = link.Open(portName);
    return link.Outcome(result == LINK_OK ? ReadInformation(link, labels) : result);
}

SelfTestOutcome RunSelfTestOperation(const std::string& portName, const Protocols::Sleeper& sleeper,
                                     const OperationHooks& hooks) {
    LinkSession link(sleeper);
    link.SetStop(hooks.stop);
    std::int32_t result = link.Open(portName);
    std::optional<std::uint8_t> mask;
    if (result == LINK_OK) {
        // Sent once: a second request would start the logger's tests over.
        link.Configure(SelfTestReplyTimeout, SelfTestAttempts);
        result = link.RunSelfTest(mask);
    }
    if (result == LINK_OK && !mask) {
        // Without its byte the reply says nothing about the tests; it must not
        // read as "all passed".
        result = Raw(LINK_ERR_CRC);
    }
    return {link.Outcome(result), result == LINK_OK ? *mask : std::uint8_t{0}};
}

LinkOutcome DumpMemory(const std::string& portName, const std::string& fileName,
                       const Protocols::Sleeper& sleeper, const OperationHooks& hooks,
                       DumpRecord* record) {
    DumpRecord unused;
    DumpRecord& done = record != nullptr ? *record : unused;
    done = DumpRecord{};
    // The file first: if it cannot be had, the logger is not contacted.
    DumpFile file;
    const std::int32_t opened = file.Open(fileName);
    if (file.KeepsEarlier()) {
        done.partialFile = files::PathText(file.PartialPath());
        done.partialNamedAfterFile = file.PartialNamedAfterFile();
    }
    if (opened != LINK_OK) {
        done.fileError = file.SystemError();
        done.fileErrorOnPartial = file.ErrorOnPartial();
        return {OP_ERR_FILE_OPEN};
    }
    // A file of its own that holds no whole block is of no use to anyone; an
    // earlier dump is kept unless the new one is complete.
    const auto removeIfEmpty = [&] {
        if (done.blocks == 0 && file.Created()) {
            done.fileRemoved = file.Remove() == LINK_OK && !file.KeepsEarlier();
        }
        file.Close();
        done.fileUnchanged = file.KeepsEarlier();
        done.earlierKept = file.KeepsEarlier() && done.blocks > 0;
    };
    LinkSession link(sleeper);
    link.SetStop(hooks.stop);
    std::int32_t result = link.Open(portName);
    if (result != LINK_OK) {
        removeIfEmpty();
        return link.Outcome(result);
    }
    link.Configure(Protocols::DefaultTimeout, DumpAttempts);

    std::array<std::uint8_t, BlockSize> block{};
    for (const DumpRegion& region : DumpRegions) {
        for (std::uint32_t address = region.first; address < region.end; address += BlockSize) {
            if (hooks.stop != nullptr && hooks.stop->load()) {
                done.stopped = true;
                link.Close();
                removeIfEmpty();
                return link.Outcome(Raw(LINK_OK));
            }
            // Only whole blocks go to disk, so file offsets stay logger addresses.
            result = link.ReadMemory(address, block);
            if (result == OP_STOPPED) {
                // Stopped between two attempts at this block.
                done.stopped = true;
                link.Close();
                removeIfEmpty();
                return link.Outcome(Raw(LINK_OK));
            }
            if (result != LINK_OK) {
                removeIfEmpty();
                return link.Outcome(result);
            }
            if (file.Write(block) != LINK_OK) {
                done.fileError = file.SystemError();
                done.fileErrorOnPartial = file.ErrorOnPartial();
                removeIfEmpty();
                return link.Outcome(Raw(OP_ERR_FILE_WRITE));
            }
            ++done.blocks;
            if (hooks.blockWritten) {
                hooks.blockWritten(done.blocks);
            }
            link.Pause();
        }
    }
    link.Close();
    if (file.Finish() != LINK_OK) {
        done.fileError = file.SystemError();
        removeIfEmpty();
        return link.Outcome(Raw(OP_ERR_FILE_WRITE));
    }
    return link.Outcome(Raw(LINK_OK));
}
