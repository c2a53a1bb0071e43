// The memory dump against the simulated logger, into real files.

#include "OperationFixture.h"
#include "communication/ResultCodes.h"
#include "communication/serial/SERIAL.h"
#include "operations/DumpFile.h"
#include "operations/Operations.h"
#include "support/TemporaryFolder.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t CompleteDump = 270336;

class Dump : public OperationFixture {
protected:
    void SetUp() override {
        StartLogger();
        file = (folder / "logger.hex").string();
    }

    std::int32_t Run(const std::string& port) {
        return DumpMemory(port, file, RecordingSleeper()).Number();
    }
    std::int32_t Run() { return Run(logger.PortName()); }

    static Bytes Contents(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void Fill(const std::string& name, std::size_t size, std::uint8_t value) {
        std::ofstream out(name, std::ios::binary);
        const std::string bytes(size, static_cast<char>(value));
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    static std::uint32_t Address(const sim::RecordedRequest& request) {
        const auto& f = request.frame;
        return (std::uint32_t{f[4]} << 16) | (std::uint32_t{f[5]} << 8) | f[6];
    }

    // The names in the folder, sorted.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TemporaryFolder scratch{"onyx-dump"};
    const fs::path& folder = scratch.Path();
    std::string file;
};

TEST_F(Dump, CompleteDumpIsTheMemoryImageByAddress) {
    ASSERT_EQ(Run(), LINK_OK);

    const Bytes contents = Contents(file);
    ASSERT_EQ(contents.size(), CompleteDump);
    EXPECT_TRUE(contents == logger.Memory(0, CompleteDump));

    std::vector<sim::RecordedRequest> requests;
    for (const auto& transaction : Transactions(logger)) {
        requests.push_back(transaction.request);
    }
    ASSERT_EQ(requests.size(), 1056u);
    for (std::size_t i = 0; i < requests.size(); ++i) {
        ASSERT_EQ(requests[i].Letter(), 'c');
        ASSERT_EQ(requests[i].frame[3], 255) << i; // N: 256 bytes
        ASSERT_EQ(Address(requests[i]), i * 256) << i;
    }
    EXPECT_EQ(Address(requests[1024]), 0x040000u);
    EXPECT_EQ(Address(requests.back()), 0x041F00u);
    // A 50 ms pause after every block, the last one included.
    EXPECT_EQ(CommandPauses(), std::vector<milliseconds>(1056, milliseconds{50}));
}

TEST_F(Dump, ExistingLongerFileIsCutToTheNewDump) {
    Fill(file, CompleteDump + 5000, 0xAA);
    ASSERT_EQ(Run(), LINK_OK);
    EXPECT_EQ(fs::file_size(file), CompleteDump);
    EXPECT_TRUE(Contents(file) == logger.Memory(0, CompleteDump));
}

// The 5th block goes wrong: the four before it stay on disk, whole.
struct BlockFailure {
    const char* name;
    sim::FaultKind kind;
    int count;
    ResultCode result;
    int attempts; // at the 5th block
};

class DumpBlockFailure : public Dump, public ::testing::WithParamInterface<BlockFailure> {};

TEST_P(DumpBlockFailure, KeepsTheBlocksBeforeIt) {
    const BlockFailure& failure = GetParam();
    onCommandPause = [&](int n) {
        if (n == 4) {
            logger.InjectFault(FaultOn(failure.kind, 'c', failure.count));
        }
    };
    EXPECT_EQ(Run(), failure.result);
    EXPECT_EQ(Contents(file), logger.Memory(0, 1024));
    const auto transactions = Transactions(logger);
    ASSERT_EQ(transactions.size(), 5u);
    EXPECT_EQ(transactions.back().attempts, failure.attempts);
}

INSTANTIATE_TEST_SUITE_P(
    FifthBlock, DumpBlockFailure,
    ::testing::Values(
        // A link failure: five attempts, then its code.
        BlockFailure{"BadCrc", sim::FaultKind::BadCrc, sim::EveryRequest, LINK_ERR_CRC, 5},
        BlockFailure{"Silence", sim::FaultKind::Silence, sim::EveryRequest, LINK_ERR_TIMEOUT, 5},
        // Success without data is no success: the dump must not read as saved.
        // It would also shift every later block off its address.
        BlockFailure{"EmptyPayload", sim::FaultKind::EmptyPayload, 1, LINK_ERR_CRC, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Dump, FileThatCannotBeCreatedStopsBeforeThePort) {
    file = (folder / "no-such-folder" / "logger.hex").string();
    // The file comes first: even a missing port yields the file's code.
    EXPECT_EQ(Run(MissingPort()), OP_ERR_FILE_OPEN);
    EXPECT_EQ(Run(), OP_ERR_FILE_OPEN);
    EXPECT_TRUE(logger.Requests().empty());
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(Dump, FileHeldByAnotherDumpIsLeftAlone) {
    Fill(file, 300, 0x55);
    DumpFile other;
    ASSERT_EQ(other.Open(file), LINK_OK);
    ASSERT_EQ(other.Write(Bytes(100, 0x66)), LINK_OK);

    EXPECT_EQ(Run(), OP_ERR_FILE_OPEN);
    EXPECT_TRUE(logger.Requests().empty());
    EXPECT_EQ(Contents(file), Bytes(300, 0x55));
    EXPECT_EQ(Contents(file + ".partial"), Bytes(100, 0x66)) << "not cut by the refused dump";

    other.Close();
    ASSERT_EQ(Run(), LINK_OK); // closed: the same name can be chosen at once
    EXPECT_EQ(Names(), std::vector<std::string>{"logger.hex"}) << "the blocks took the name";
}

// A dump onto an earlier file under the chosen name, or onto none, ending whole,
// stopped or with the line cut after five blocks; the chosen name as usual or as
// long as the system allows, so that no name with ".partial" after it fits.
enum class End { Complete, Stopped, LineCut };
struct EarlierFile {
    const char* name;
    bool earlier;
    End end;
    bool longName = false;
    bool leftoverPartial = false; // an earlier dump's ".partial" is there, longer
};

class DumpOntoEarlierFile : public Dump, public ::testing::WithParamInterface<EarlierFile> {};

TEST_P(DumpOntoEarlierFile, OnlyACompleteDumpReplacesIt) {
    const EarlierFile& when = GetParam();
    if (when.longName) {
        file = (folder / (std::string(246, 'n') + ".hex")).string();
    }
    const Bytes earlier = logger.Memory(0x1000, 4096 + 17); // not the dump's own bytes
    if (when.earlier) {
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(earlier.data()),
                   static_cast<std::streamsize>(earlier.size()));
    }
    if (when.leftoverPartial) {
        Fill(file + ".partial", 9000, 0xEE);
    }
    std::atomic<bool> stop{false};
    OperationHooks hooks;
    hooks.stop = &stop;
    hooks.blockWritten = [&](std::uint32_t blocks) {
        if (blocks == 5 && when.end == End::Stopped) {
            stop = true;
        }
    };
    onCommandPause = [&](int n) {
        if (n == 5 && when.end == End::LineCut) {
            logger.Vanish();
        }
    };
    DumpRecord record;
    const LinkOutcome outcome =
        DumpMemory(logger.PortName(), file, RecordingSleeper(), hooks, &record);
    EXPECT_EQ(outcome.Ok(), when.end != End::LineCut) << outcome.Number();

    std::vector<std::string> beside = Names();
    std::erase(beside, fs::path(file).filename().string());
    EXPECT_EQ(record.partialFile.empty(), !when.earlier);
    if (when.end == End::Complete) {
        EXPECT_TRUE(Contents(file) == logger.Memory(0, CompleteDump));
        EXPECT_TRUE(beside.empty()) << beside.front();
        EXPECT_FALSE(record.earlierKept);
        return;
    }
    const Bytes read = logger.Memory(0, 5 * 256);
    EXPECT_EQ(record.blocks, 5u);
    EXPECT_EQ(record.earlierKept, when.earlier);
    if (!when.earlier) {
        EXPECT_EQ(Contents(file), read) << "written where chosen, as it arrived";
        EXPECT_TRUE(beside.empty());
        return;
    }
    EXPECT_EQ(Contents(file), earlier) << "the earlier dump is kept byte for byte";
    EXPECT_TRUE(record.fileUnchanged);
    ASSERT_EQ(beside.size(), 1u);
    const fs::path partial = folder / beside.front();
    EXPECT_EQ(record.partialFile, partial.string());
    EXPECT_EQ(Contents(partial.string()), read) << "the blocks read, beside it";
    EXPECT_EQ(record.partialNamedAfterFile, !when.longName);
    if (when.longName) {
        EXPECT_LE(beside.front().size(), 13u);
    } else {
        EXPECT_EQ(partial.string(), file + ".partial");
    }
    EXPECT_EQ(DumpFile().Open(file), LINK_OK) << "closed on the way out";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DumpOntoEarlierFile,
    ::testing::Values(EarlierFile{"EarlierComplete", true, End::Complete},
                      EarlierFile{"EarlierStopped", true, End::Stopped},
                      EarlierFile{"EarlierLineCut", true, End::LineCut},
                      EarlierFile{"EarlierLineCutOverALeftover", true, End::LineCut, false, true},
                      EarlierFile{"NoneComplete", false, End::Complete},
                      EarlierFile{"NoneStopped", false, End::Stopped},
                      EarlierFile{"NoneLineCut", false, End::LineCut},
                      EarlierFile{"LongNameComplete", true, End::Complete, true},
                      EarlierFile{"LongNameStopped", true, End::Stopped, true},
                      EarlierFile{"LongNameNoEarlier", false, End::LineCut, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A dump that reads nothing: a file it created is removed, an existing one is
// left byte for byte as it was; either way it is closed on the way out.
struct NothingRead {
    const char* name;
    bool portMissing; // else the logger is silent
    bool stopAtOnce;  // the user stops the dump before its first block
};

class DumpReadsNothing : public Dump, public ::testing::WithParamInterface<NothingRead> {
protected:
    std::int32_t RunCase(DumpRecord& record) {
        const NothingRead& when = GetParam();
        if (!when.portMissing) {
            logger.InjectFault(FaultOn(sim::FaultKind::Silence, 'c', sim::EveryRequest));
        }
        OperationHooks hooks;
        hooks.stop = &stopAtOnce;
        stopAtOnce = when.stopAtOnce;
        return DumpMemory(when.portMissing ? MissingPort() : logger.PortName(), file,
                          RecordingSleeper(), hooks, &record)
            .Number();
    }
    std::atomic<bool> stopAtOnce{false};
};

TEST_P(DumpReadsNothing, RemovesItsOwnFileAndKeepsAnEarlierDump) {
    const NothingRead& when = GetParam();
    const std::int32_t expected = when.stopAtOnce    ? Raw(LINK_OK)
                                  : when.portMissing ? ENOENT
                                                     : Raw(LINK_ERR_TIMEOUT);
    DumpRecord record;
    EXPECT_EQ(RunCase(record), expected);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(record.fileRemoved);
    EXPECT_FALSE(record.fileUnchanged);

    Bytes earlier(4096 + 17);
    for (std::size_t i = 0; i < earlier.size(); ++i) {
        earlier[i] = static_cast<std::uint8_t>(i * 7);
    }
    {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(earlier.data()),
                  static_cast<std::streamsize>(earlier.size()));
    }
    EXPECT_EQ(RunCase(record), expected);
    EXPECT_EQ(Contents(file), earlier);
    EXPECT_FALSE(record.fileRemoved);
    EXPECT_TRUE(record.fileUnchanged);
    EXPECT_EQ(record.blocks, 0u);
    EXPECT_EQ(Names(), std::vector<std::string>{"logger.hex"}) << "an empty .partial was left";
    EXPECT_EQ(DumpFile().Open(file), LINK_OK) << "closed on the way out";
}

INSTANTIATE_TEST_SUITE_P(Cases, DumpReadsNothing,
                         ::testing::Values(NothingRead{"PortMissing", true, false},
                                           NothingRead{"SilentLogger", false, false},
                                           NothingRead{"StoppedAtOnce", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Dump, FirstBlockFailingRemovesTheNewFile) {
    logger.InjectFault(FaultOn(sim::FaultKind::BadCrc, 'c', sim::EveryRequest));
    DumpRecord record;
    const LinkOutcome outcome =
        DumpMemory(logger.PortName(), file, RecordingSleeper(), {}, &record);
    EXPECT_EQ(outcome, (LinkOutcome{LINK_ERR_CRC, 0, true}));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(record.blocks, 0u);
}

// Each block is reported once written; a stop request ends the dump after the
// block in progress, with exactly the blocks reported on disk and the port free.
TEST_F(Dump, ReportsEachBlockAndStopsOnRequest) {
    std::atomic<bool> stop{false};
    std::vector<std::uint32_t> reported;
    OperationHooks hooks;
    hooks.stop = &stop;
    hooks.blockWritten = [&](std::uint32_t blocks) {
        reported.push_back(blocks);
        // The file already holds the block reported.
        EXPECT_EQ(fs::file_size(file), blocks * 256u);
        if (blocks == 7) {
            stop = true;
        }
    };
    DumpRecord record;
    EXPECT_TRUE(DumpMemory(logger.PortName(), file, RecordingSleeper(), hooks, &record).Ok());
    EXPECT_EQ(reported, (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_TRUE(record.stopped);
    EXPECT_EQ(record.blocks, 7u);
    EXPECT_EQ(Contents(file), logger.Memory(0, 7 * 256));
    EXPECT_EQ(Transactions(logger).size(), 7u);
    CSerial again;
    EXPECT_EQ(again.Open(logger.PortName().c_str(), 2048, 2048), 0) << "the port was closed";
}

} // namespace
