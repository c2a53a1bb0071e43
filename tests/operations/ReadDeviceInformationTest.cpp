// Reading the logger's information into the window's labels, against the
// simulated logger.

#include "OperationFixture.h"
#include "communication/Encodings.h"
#include "communication/ResultCodes.h"
#include "operations/Operations.h"

#include <array>
#include <vector>

namespace {

using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;
using L = InfoLabel;

constexpr std::uint32_t SerialAddress = 0x040024;
constexpr std::uint32_t ModelAddress = 0x04002A;
constexpr std::uint32_t ExtremesAddress = 0x041FC0;

class ReadInfo : public OperationFixture {
protected:
    void SetUp() override {
        StartLogger();
        SetSerial({0x01, 0xE2, 0x40});
        SetModel("M10");
        logger.SetStatusText("ST+ 95%+ 3.62V+OK+2.00AB\r\n");
        logger.SetReadingsText("T-1.234+12.345\r\n");
    }

    void SetSerial(const Bytes& bytes) { logger.SetMemory(SerialAddress, bytes); }
    void SetModel(const std::string& text) {
        Bytes bytes(8, 0);
        std::copy(text.begin(), text.end(), bytes.begin());
        logger.SetMemory(ModelAddress, bytes);
    }
    void SetExtremes(std::array<std::uint8_t, 3> min, std::array<std::uint8_t, 3> max,
                     std::array<std::uint8_t, 3> pressure, std::uint32_t elapsed) {
        Bytes block(21, 0xEE);
        std::copy(min.begin(), min.end(), block.begin());
        std::copy(max.begin(), max.end(), block.begin() + 3);
        std::copy(pressure.begin(), pressure.end(), block.begin() + 6);
        const auto counter = EncodeUInt24(elapsed);
        std::copy(counter.begin(), counter.end(), block.begin() + 18);
        logger.SetMemory(ExtremesAddress, block);
    }

    std::int32_t Read() {
        return ReadDeviceInformation(logger.PortName(), labels, RecordingSleeper()).Number();
    }

    FakeLabels labels;
};

const std::vector<L> ExtremeLabels{L::MinTemp, L::MaxTemp, L::MaxPressure, L::ElapsedTime};
const std::vector<L> StatusLabels{L::ChargeLevel, L::Battery, L::Firmware};
const std::vector<L> ReadingLabels{L::Temperature, L::Pressure, L::ReadingSolution1,
                                   L::ReadingSolution2};

TEST_F(ReadInfo, FirmwareTwoReadsEverythingIntoTheLabels) {
    SetExtremes(PackDecimal(1, 125, false),    // 12.5
                PackDecimal(5, 123456, false), // 1.23456
                PackDecimal(0, 123456, false), // 123456
                0x0A0B0C);

    ASSERT_EQ(Read(), LINK_OK);

    EXPECT_EQ(labels.Text(L::SerialNo), "Serial Number: 123456");
    EXPECT_EQ(labels.Text(L::ModelNo), "Model Number: M10");
    EXPECT_EQ(labels.Text(L::ChargeLevel), "Charge Level:  95%");
    EXPECT_EQ(labels.Text(L::Battery), "Battery Voltage:  3.62V");
    EXPECT_EQ(labels.Text(L::Firmware), "Firmware version: 2.00"); // "AB" dropped
    EXPECT_EQ(labels.Text(L::Temperature), "Temperature: -1.234");
    EXPECT_EQ(labels.Text(L::Pressure), "Level: +12.345");
    EXPECT_EQ(labels.Text(L::MinTemp), "Min Record Logger Temperature: 12.5");
    EXPECT_EQ(labels.Text(L::MaxTemp), "Max Record Logger Temperature: 1.2346");
    EXPECT_EQ(labels.Text(L::MaxPressure), "Max Record Logger Pressure: 1.2346E+05");
    EXPECT_EQ(labels.Text(L::ElapsedTime), "Elapsed Time: 658188");
    // The advice lines are shown, never rewritten.
    EXPECT_FALSE(labels.Written(L::ReadingSolution1));
    EXPECT_FALSE(labels.Written(L::ReadingSolution2));
    for (const L label : {L::SerialNo, L::ChargeLevel, L::Battery, L::Firmware, L::Temperature,
                          L::Pressure, L::ReadingSolution1, L::ReadingSolution2, L::MinTemp,
                          L::MaxTemp, L::MaxPressure, L::ElapsedTime}) {
        EXPECT_EQ(labels.Visibility(label), 1) << static_cast<int>(label);
    }

    // Five commands; 50 ms before the model, status and readings, none before the extremes.
    ASSERT_EQ(Letters(), "cckac");
    const auto transactions = Transactions(logger);
    const auto data = [&](std::size_t i) {
        const Bytes& frame = transactions[i].request.frame;
        return Bytes(frame.begin() + 3, frame.end() - 2);
    };
    EXPECT_EQ(data(0), (Bytes{2, 0x04, 0x00, 0x24}));
    EXPECT_EQ(data(1), (Bytes{7, 0x04, 0x00, 0x2A}));
    EXPECT_EQ(data(4), (Bytes{20, 0x04, 0x1F, 0xC0}));
    EXPECT_EQ(CommandPauses(), (std::vector<milliseconds>(3, milliseconds{50})));
}

TEST_F(ReadInfo, FirmwareBelowTwoHidesTheExtremesWithoutAFifthCommand) {
    logger.SetStatusText("ST+ 95%+ 3.62V+OK+1.99FW\r\n");
    ASSERT_EQ(Read(), LINK_OK);
    EXPECT_EQ(labels.Text(L::Firmware), "Firmware version: 1.99");
    EXPECT_EQ(Letters(), "ccka");
    for (const L label : ExtremeLabels) {
        EXPECT_EQ(labels.Visibility(label), 0);
        EXPECT_FALSE(labels.Written(label));
    }
}

TEST_F(ReadInfo, FieldsRunningToTheEndOfTheTextAreTakenWhole) {
    // No line end: the last fields end with the text. The readings fill all 48
    // bytes, so the field ends with the payload itself.
    logger.SetStatusText("ST+80%+3.5V+OK+2.10FW");
    const std::string readings = "T+21.5-" + std::string(41, '7');
    ASSERT_EQ(readings.size(), 48u);
    logger.SetReadingsText(readings);
    ASSERT_EQ(Read(), LINK_OK);
    EXPECT_EQ(labels.Text(L::Firmware), "Firmware version: 2.10");
    EXPECT_EQ(labels.Text(L::Temperature), "Temperature: +21.5");
    EXPECT_EQ(labels.Text(L::Pressure), "Level: -" + std::string(41, '7'));
}

TEST_F(ReadInfo, NotReadyStatusEndsAfterTheIdentity) {
    logger.SetStatusText("not ready+1+2+3+2.00AB\r\n");
    EXPECT_EQ(Read(), LINK_ERR_TIMEOUT);
    EXPECT_EQ(labels.Text(L::SerialNo), "Serial Number: 123456");
    EXPECT_EQ(labels.Text(L::ModelNo), "Model Number: M10");
    for (const L label : StatusLabels) {
        EXPECT_EQ(labels.Visibility(label), -1); // keep their state
        EXPECT_FALSE(labels.Written(label));
    }
    EXPECT_EQ(Letters(), "cck");

    // A status text without any delimiter is no better.
    logger.ClearRequests();
    logger.SetStatusText("ST 95% 3.62V");
    EXPECT_EQ(Read(), LINK_ERR_TIMEOUT);
    EXPECT_EQ(Letters(), "cck");
}

TEST_F(ReadInfo, FirmwareThatIsNoNumberEndsWithDataError) {
    // Charge and battery are written; the firmware label is shown with its old
    // text and the readings are not asked for.
    for (const std::string status : {"ST+ 95%+ 3.62V+OK+X.YZAB\r\n", // not a number
                                     "ST+ 95%+ 3.62V+OK+2,00AB\r\n", // not the logger's point
                                     "ST+ 95%+ 3.62V+OK+A\r\n",      // shorter than its tail
                                     "ST+ 95%+ 3.62V\r\n"}) {        // no field 4 at all
        SCOPED_TRACE(status);
        FakeLabels fresh;
        logger.ClearRequests();
        logger.SetStatusText(status);
        EXPECT_EQ(ReadDeviceInformation(logger.PortName(), fresh, RecordingSleeper()).Number(),
                  LINK_ERR_DATA);
        EXPECT_EQ(fresh.Text(L::ChargeLevel), "Charge Level:  95%");
        EXPECT_EQ(fresh.Visibility(L::Firmware), 1);
        EXPECT_FALSE(fresh.Written(L::Firmware));
        EXPECT_EQ(Letters(), "cck");
    }
}

TEST_F(ReadInfo, ReadingsFailuresAreTimeOuts) {
    // The link's own code is replaced by -200, before the labels are shown.
    logger.InjectFault(FaultOn(sim::FaultKind::WrongAcknowledge, 'a', sim::EveryRequest));
    EXPECT_EQ(Read(), LINK_ERR_TIMEOUT);
    EXPECT_EQ(Letters(), "ccka");
    EXPECT_EQ(Transactions(logger).back().attempts, 5);
    for (const L label : ReadingLabels) {
        EXPECT_EQ(labels.Visibility(label), -1);
    }

    // A reply without a delimiter: the labels are shown, their texts stay.
    logger.ClearFaults();
    logger.SetReadingsText("NOT READY");
    EXPECT_EQ(Read(), LINK_ERR_TIMEOUT);
    for (const L label : ReadingLabels) {
        EXPECT_EQ(labels.Visibility(label), 1);
    }
    EXPECT_FALSE(labels.Written(L::Temperature));
    EXPECT_FALSE(labels.Written(L::Pressure));
}

// A reply that arrives in order but without the data the step needs, at each
// step, and a link failure at the same places.
struct StepFailure {
    const char* name;
    int commandPause; // inject at this pause between commands; 0: before the first
    sim::FaultKind kind;
    char letter;
    ResultCode result;
    const char* letters; // transactions the logger sees
    std::vector<L> hidden;
    std::vector<L> written;    // labels written before the failure
    std::vector<L> shown = {}; // shown before the failure, and left so
};

class ReadInfoStepFailure : public ReadInfo, public ::testing::WithParamInterface<StepFailure> {};

TEST_P(ReadInfoStepFailure, EndsWithTheCodeAndLeavesTheLabelsAsTheStepSays) {
    const StepFailure& step = GetParam();
    const sim::Fault fault = FaultOn(
        step.kind, step.letter, step.kind == sim::FaultKind::EmptyPayload ? 1 : sim::EveryRequest);
    if (step.commandPause == 0) {
        logger.InjectFault(fault);
    } else {
        onCommandPause = [&](int n) {
            if (n == step.commandPause) {
                logger.InjectFault(fault);
            }
        };
    }
    EXPECT_EQ(Read(), step.result);
    EXPECT_EQ(Letters(), step.letters);
    // A reply without its data is not retried; one that fails its checks is.
    EXPECT_EQ(Transactions(logger).back().attempts,
              step.kind == sim::FaultKind::EmptyPayload ? 1 : 5);
    for (const L label : step.hidden) {
        EXPECT_EQ(labels.Visibility(label), 0) << static_cast<int>(label);
    }
    for (const L label : step.written) {
        EXPECT_TRUE(labels.Written(label)) << static_cast<int>(label);
    }
    for (const L label : step.shown) {
        EXPECT_EQ(labels.Visibility(label), 1) << static_cast<int>(label);
    }
    EXPECT_FALSE(labels.Written(L::ElapsedTime));
}

INSTANTIATE_TEST_SUITE_P(Steps, ReadInfoStepFailure,
                         ::testing::Values(StepFailure{"SerialEmpty",
                                                       0,
                                                       sim::FaultKind::EmptyPayload,
                                                       'c',
                                                       LINK_ERR_CRC,
                                                       "c",
                                                       {L::SerialNo},
                                                       {}},
                                           StepFailure{"SerialAck",
                                                       0,
                                                       sim::FaultKind::WrongAcknowledge,
                                                       'c',
                                                       LINK_ERR_ACK,
                                                       "c",
                                                       {L::SerialNo},
                                                       {}},
                                           StepFailure{"ModelEmpty",
                                                       1,
                                                       sim::FaultKind::EmptyPayload,
                                                       'c',
                                                       LINK_ERR_CRC,
                                                       "cc",
                                                       {},
                                                       {L::SerialNo}},
                                           StepFailure{"StatusEmpty",
                                                       0,
                                                       sim::FaultKind::EmptyPayload,
                                                       'k',
                                                       LINK_ERR_CRC,
                                                       "cck",
                                                       {L::ChargeLevel, L::Battery, L::Firmware},
                                                       {L::SerialNo, L::ModelNo}},
                                           StepFailure{"StatusAck",
                                                       0,
                                                       sim::FaultKind::WrongAcknowledge,
                                                       'k',
                                                       LINK_ERR_ACK,
                                                       "cck",
                                                       {L::ChargeLevel, L::Battery, L::Firmware},
                                                       {L::ModelNo}},
                                           StepFailure{"ExtremesEmpty",
                                                       3,
                                                       sim::FaultKind::EmptyPayload,
                                                       'c',
                                                       LINK_ERR_CRC,
                                                       "cckac",
                                                       {},
                                                       {L::Firmware, L::Temperature, L::Pressure},
                                                       ExtremeLabels},
                                           StepFailure{"ExtremesAck",
                                                       3,
                                                       sim::FaultKind::WrongAcknowledge,
                                                       'c',
                                                       LINK_ERR_ACK,
                                                       "cckac",
                                                       {},
                                                       {L::Temperature},
                                                       ExtremeLabels}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReadInfo, PortThatCannotBeOpenedSendsNothing) {
    const std::int32_t result =
        ReadDeviceInformation(MissingPort(), labels, RecordingSleeper()).Number();
    EXPECT_GT(result, 0);
    EXPECT_EQ(labels.ChangeCount(), 0u);
    EXPECT_TRUE(logger.Requests().empty());
}

} // namespace
