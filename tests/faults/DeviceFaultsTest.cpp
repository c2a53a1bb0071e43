// Device operations against a simulated logger that goes away, talks nonsense,
// or writes into a disk that is full or read-only: each ends promptly with a
// code the window turns into an error message, and every byte on disk is the
// logger's memory at that offset.

#include "FaultSandbox.h"
#include "calibration/CalibrationSequences.h"
#include "commands/MainWindowText.h"
#include "communication/ResultCodes.h"
#include "operations/DumpFile.h"
#include "operations/OperationFixture.h"
#include "operations/Operations.h"
#include "support/FakePcClock.h"

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace fault_sandbox;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t Block = 256;
constexpr std::size_t CompleteDump = 0x42000;

// Five attempts at a silent logger cost about 5 x (256 + 300) ms; a logger that
// is gone must be noticed well before that.
constexpr milliseconds Prompt{1500};

std::string AsText(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

class DeviceFaults : public OperationFixture {
public:
    using OperationFixture::logger;
    using OperationFixture::onCommandPause;
    using OperationFixture::RecordingSleeper;

protected:
    void SetUp() override {
        StartLogger();
        ASSERT_FALSE(folder.Path().empty());
        file = folder / "logger.hex";
    }

    LinkOutcome Dump() {
        const auto start = Clock::now();
        const LinkOutcome result = DumpMemory(logger.PortName(), file.string(), RecordingSleeper());
        took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
        return result;
    }

    // The window's box for a failed dump: an error, never "Memory Dump Saved".
    static void ExpectErrorBox(const LinkOutcome& result) {
        const DumpOutcome box = DumpOutcomeFor(result);
        EXPECT_STREQ(box.caption, "Error") << result.Number();
        EXPECT_TRUE(box.warning) << result.Number();
    }

    // The file is the logger's memory from address 0 for its whole length.
    void ExpectMemoryPrefix(std::size_t expectedSize) const {
        ExpectMemoryPrefix(file, expectedSize);
    }
    void ExpectMemoryPrefix(const fs::path& which, std::size_t expectedSize) const {
        const std::string bytes = ReadBytes(which);
        EXPECT_EQ(bytes.size(), expectedSize);
        EXPECT_TRUE(bytes == AsText(logger.Memory(0, bytes.size())))
            << "bytes on disk that are not the logger's memory";
    }

    // Closed on the way out: the next dump can take the file at once.
    void ExpectFileReleased() const { EXPECT_EQ(DumpFile().Open(file.string()), LINK_OK); }

public:
    ScratchFolder folder;
    fs::path file;

protected:
    milliseconds took{0};
};

// The cable is pulled after `blocks` blocks, in one of two ways: as the next
// request arrives, or between two requests.
struct Pull {
    const char* name;
    int blocks;
    bool asRequestArrives;
};

class PortVanishes : public DeviceFaults, public ::testing::WithParamInterface<Pull> {};

TEST_P(PortVanishes, KeepsTheBlocksReadAndEndsPromptly) {
    const Pull pull = GetParam();
    const auto pullCable = [&] {
        if (pull.asRequestArrives) {
            logger.InjectFault(FaultOn(sim::FaultKind::Vanish, 'c'));
        } else {
            logger.Vanish();
        }
    };
    if (pull.blocks == 0) {
        pullCable();
    }
    onCommandPause = [&](int n) {
        if (n == pull.blocks) {
            pullCable();
        }
    };
    const std::string older(CompleteDump + 100, '\xAA'); // an older, longer dump
    WriteBytes(file, older);

    const LinkOutcome result = Dump();
    EXPECT_FALSE(result.Ok());
    ExpectErrorBox(result);
    EXPECT_LT(took, Prompt) << "result " << result.Number();
    // The older dump is kept whole; the blocks read are beside it.
    EXPECT_TRUE(ReadBytes(file) == older);
    const fs::path partial = folder / "logger.hex.partial";
    if (pull.blocks == 0) {
        EXPECT_FALSE(fs::exists(partial));
    } else {
        ExpectMemoryPrefix(partial, static_cast<std::size_t>(pull.blocks) * Block);
    }
    EXPECT_TRUE(logger.Vanished());
    ExpectFileReleased();
}

INSTANTIATE_TEST_SUITE_P(Dump, PortVanishes,
                         ::testing::Values(Pull{"BeforeTheFirstBlock", 0, false},
                                           Pull{"AsTheFifthRequestArrives", 4, true},
                                           Pull{"BetweenBlocks", 700, false},
                                           Pull{"InTheSecondRegion", 1030, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceFaults, VanishingDuringTheInformationReadLeavesNoMadeUpLabels) {
    onCommandPause = [&](int n) {
        if (n == 2) {
            logger.Vanish(); // after serial number and model
        }
    };
    FakeLabels labels;
    const auto start = Clock::now();
    const std::int32_t info =
        ReadDeviceInformation(logger.PortName(), labels, RecordingSleeper()).Number();
    EXPECT_LT(Clock::now() - start, Prompt);
    EXPECT_NE(info, LINK_OK);
    EXPECT_EQ(labels.Text(InfoLabel::SerialNo), "Serial Number: 1234567");
    EXPECT_FALSE(labels.Written(InfoLabel::Firmware));
    EXPECT_FALSE(labels.Written(InfoLabel::Temperature));
}

// The cable pulled at each step of each command: the user reads one sentence,
// naming the port and the system's reason, in the window's boxes, the calibration
// dialog's (numbered) and onyx alike; a dump adds the blocks it kept. Never a
// code without the port, never "Internal Error" above it.
struct LossStep {
    const char* name;
    sim::FaultKind fault; // on the first request with letter (0: none)
    char letter;
    bool pullAfterReply; // pulled once the (cut short) reply is out: a loss mid-reply
    std::function<std::string(DeviceFaults&)> run; // the text the user is shown
};

class LossAtEveryStep : public DeviceFaults, public ::testing::WithParamInterface<LossStep> {};

TEST_P(LossAtEveryStep, IsToldAsTheLostPortWithItsReason) {
    const LossStep step = GetParam();
    if (step.letter != 0) {
        logger.InjectFault(FaultOn(step.fault, step.letter));
    }
    std::thread cable;
    if (step.pullAfterReply) {
        cable = std::thread([this] {
            if (logger.WaitForRequests(1, std::chrono::milliseconds{5000})) {
                std::this_thread::sleep_for(std::chrono::milliseconds{300});
            }
            logger.Vanish();
        });
    }
    const auto start = Clock::now();
    const std::string text = step.run(*this);
    const auto took = Clock::now() - start;
    if (cable.joinable()) {
        cable.join();
    }
    const std::string port = PortDisplayName(logger.PortName());
    const std::string lost = "The connection to " + port + " was lost";
    const std::string reason = SystemErrorText(EIO);
    if (std::string(step.name).starts_with("Dump")) {
        EXPECT_NE(text.find(lost + " after 4 of 1056 blocks: " + reason), std::string::npos)
            << text;
    } else {
        EXPECT_EQ(text.substr(0, text.find('\n')), lost + ": " + reason);
    }
    EXPECT_EQ(text.find("Internal Error"), std::string::npos) << text;
    EXPECT_LT(took, std::chrono::milliseconds{5000});
    EXPECT_TRUE(logger.Vanished());
}

std::string InformationText(DeviceFaults& test) {
    FakeLabels labels;
    return OutcomeText(
        ReadDeviceInformation(test.logger.PortName(), labels, test.RecordingSleeper()),
        test.logger.PortName());
}
std::string SelfTestText(DeviceFaults& test) {
    return OutcomeText(
        RunSelfTestOperation(test.logger.PortName(), test.RecordingSleeper()).outcome,
        test.logger.PortName());
}
std::string DumpText(DeviceFaults& test) {
    DumpRecord record;
    const LinkOutcome outcome = DumpMemory(test.logger.PortName(), test.file.string(),
                                           test.RecordingSleeper(), {}, &record);
    return DumpOutcomeFor(outcome, record, test.logger.PortName(), test.file.string()).text;
}
// A calibration sequence's box, as the dialog and onyx word it.
std::string CalibrationText(DeviceFaults& test,
                            const std::function<CalibrationOutcome(CalibrationLog&, PcClock&,
                                                                   DateTimeFormats&)>& sequence) {
    CalibrationLog log(test.folder / "LogTime.csv");
    FakePcClock clock;
    clock.now = EncodeDateTime({2006, 11, 17, 14, 3, 22, 0});
    DateTimeFormats formats;
    const CalibrationOutcome outcome = sequence(log, clock, formats);
    EXPECT_EQ(outcome.kind, CalibrationOutcome::Kind::LinkError);
    return OutcomeText(outcome.link, test.logger.PortName(), true);
}

const LossStep LossSteps[] = {
    {"InformationSerialNumber", sim::FaultKind::Vanish, 'c', false, InformationText},
    {"InformationStatus", sim::FaultKind::Vanish, 'k', false, InformationText},
    {"InformationReadings", sim::FaultKind::Vanish, 'a', false, InformationText},
    {"SelfTestWait", sim::FaultKind::Vanish, 'z', false, SelfTestText},
    {"SelfTestMidReply", sim::FaultKind::EmptyPayload, 'z', true, SelfTestText},
    {"DumpFifthBlock", sim::FaultKind::Vanish, 0, false,
     [](DeviceFaults& test) {
         test.onCommandPause = [&test](int n) {
             if (n == 4) {
                 test.logger.InjectFault(FaultOn(sim::FaultKind::Vanish, 'c'));
             }
         };
         return DumpText(test);
     }},
    {"CalibrationStart", sim::FaultKind::Vanish, 'c', false,
     [](DeviceFaults& test) {
         return CalibrationText(test, [&test](CalibrationLog& log, PcClock& clock,
                                              DateTimeFormats&) {
             return StartCalibration(test.logger.PortName(), log, clock, test.RecordingSleeper());
         });
     }},
    {"CalibrationStop", sim::FaultKind::Vanish, 'c', false,
     [](DeviceFaults& test) {
         return CalibrationText(
             test, [&test](CalibrationLog& log, PcClock& clock, DateTimeFormats& formats) {
                 return StopCalibration(test.logger.PortName(), log, clock, formats,
                                        test.RecordingSleeper());
             });
     }},
    {"CalibrationVerify", sim::FaultKind::Vanish, 'e', false,
     [](DeviceFaults& test) {
         return CalibrationText(
             test, [&test](CalibrationLog&, PcClock& clock, DateTimeFormats& formats) {
                 return VerifyTime(test.logger.PortName(), clock, formats, test.RecordingSleeper());
             });
     }},
};
INSTANTIATE_TEST_SUITE_P(Lost, LossAtEveryStep, ::testing::ValuesIn(LossSteps),
                         [](const auto& info) { return std::string(info.param.name); });

// Disk full: a tmpfs of 64 KiB, or where no mount can be made a file size
// limit that is not a whole number of blocks.
class DumpIntoFullDisk : public DeviceFaults, public ::testing::WithParamInterface<bool> {};

TEST_P(DumpIntoFullDisk, StopsAtTheFirstFailedWriteWithOnlyMemoryOnDisk) {
    const bool onTmpfs = GetParam();
    std::unique_ptr<FileSizeLimit> limit;
    if (onTmpfs) {
        if (const std::string why = folder.MountTiny(64 * 1024); !why.empty()) {
            GTEST_SKIP() << why;
        }
    } else {
        limit = std::make_unique<FileSizeLimit>(40 * Block + 100);
        ASSERT_TRUE(limit->Active());
    }

    const LinkOutcome result = Dump();
    limit.reset();
    EXPECT_EQ(result.code, OP_ERR_FILE_WRITE);
    EXPECT_TRUE(DumpOutcomeFor(result).text.starts_with("Unable to save memory dump\n"));
    // The tmpfs takes whole blocks; the limit cuts the 41st short.
    const std::size_t onDisk = fs::file_size(file);
    EXPECT_EQ(onDisk, onTmpfs ? 64 * 1024 : 40 * Block + 100);
    ExpectMemoryPrefix(onDisk);
    // No block is asked for after the one that could not be written.
    EXPECT_EQ(logger.Requests().size(), onDisk / Block + 1);
    ExpectFileReleased();
}

std::string DiskName(const ::testing::TestParamInfo<bool>& info) {
    return info.param ? "Tmpfs" : "FileSizeLimit";
}
INSTANTIATE_TEST_SUITE_P(Dump, DumpIntoFullDisk, ::testing::Values(false), DiskName);
// Mounting the tmpfs needs the superuser: the root-only pass.
INSTANTIATE_TEST_SUITE_P(RootOnly, DumpIntoFullDisk, ::testing::Values(true), DiskName);

TEST_F(DeviceFaults, DumpIntoAReadOnlyFolderTouchesNeitherFileNorLogger) {
    if (geteuid() == 0) {
        if (const std::string why = folder.MountTiny(1 << 20); !why.empty()) {
            GTEST_SKIP() << "running as root: " << why;
        }
    }
    const std::string old(5000, '\x5A');
    WriteBytes(file, old);
    if (const std::string why = folder.SealReadOnly(); !why.empty()) {
        GTEST_SKIP() << why;
    }

    EXPECT_EQ(Dump().code, OP_ERR_FILE_OPEN);
    EXPECT_EQ(ReadBytes(file), old) << "an existing dump is not cut when it cannot be written";
    file = folder / "new.hex";
    EXPECT_EQ(Dump().code, OP_ERR_FILE_OPEN);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(logger.Requests().empty());
    EXPECT_TRUE(
        DumpOutcomeFor({OP_ERR_FILE_OPEN}).text.starts_with("Unable to save memory dump\n"));
}

// Every reply is random bytes of the right length.
class GarbageReplies : public DeviceFaults {
protected:
    void SetUp() override {
        DeviceFaults::SetUp();
        logger.InjectFault(FaultOf(sim::FaultKind::Garbage, sim::EveryRequest));
    }
    // A code the user is told something definite about.
    static void ExpectLinkMessage(std::int32_t result) {
        EXPECT_LT(result, 0);
        EXPECT_STRNE(LinkErrorMessage(result), "Internal Error") << result;
    }
};

TEST_F(GarbageReplies, InformationSelfTestAndDumpEachFail) {
    FakeLabels labels;
    const std::int32_t info =
        ReadDeviceInformation(logger.PortName(), labels, RecordingSleeper()).Number();
    ExpectLinkMessage(info);
    EXPECT_EQ(labels.Visibility(InfoLabel::SerialNo), 0);
    for (InfoLabel label : {InfoLabel::SerialNo, InfoLabel::ModelNo, InfoLabel::Firmware,
                            InfoLabel::Battery, InfoLabel::Temperature}) {
        EXPECT_FALSE(labels.Written(label)) << "garbage shown as information";
    }

    ExpectLinkMessage(RunSelfTestOperation(logger.PortName(), RecordingSleeper()).outcome.Number());

    WriteBytes(file, std::string(3000, '\x11'));
    logger.ClearRequests();
    const LinkOutcome dump = Dump();
    ExpectLinkMessage(dump.Number());
    ExpectErrorBox(dump);
    EXPECT_EQ(ReadBytes(file), std::string(3000, '\x11')) << "no garbage kept as memory";
    EXPECT_EQ(logger.Requests().size(), 5u) << "five attempts at the first block, no more";
    ExpectFileReleased();
}

} // namespace
