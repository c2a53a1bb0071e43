// A link trace replayed by the simulated logger: the requests answered as the
// traced logger answered them.

#include "ReplayTrace.h"
#include "cli/OnyxRun.h"

#include <QJsonObject>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

namespace {

// onyx-simulator as the support desk starts it, until the test ends.
class SimulatorProgram {
public:
    SimulatorProgram(const std::vector<std::string>& arguments, const std::filesystem::path& err) {
        int out[2] = {-1, -1};
        if (pipe(out) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> words{ONYX_SIMULATOR};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid, ONYX_SIMULATOR, &actions, nullptr, argv.data(), environ) != 0) {
            pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        // Its first line says it answers (or why not, when it ended).
        char c = 0;
        while (read(out[0], &c, 1) == 1 && c != '\n') {
            ready += c;
        }
        output = out[0];
    }
    ~SimulatorProgram() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (output >= 0) {
            close(output);
        }
    }
    SimulatorProgram(const SimulatorProgram&) = delete;
    SimulatorProgram& operator=(const SimulatorProgram&) = delete;

    const std::string& ReadyLine() const { return ready; }

private:
    pid_t pid = -1;
    int output = -1;
    std::string ready;
};

TEST_F(OnyxCommand, ATraceReplayedGivesTheSameOutput) {
    auto config = UniqueLoggerConfig("Cli");
    config.selfTestMask = 0x80; // the replay's own mask is 0: only the trace gives 0x80
    sim::SimulatedLogger& recorded = StartLogger(config);
    recorded.InjectFault({sim::FaultKind::Silence, 'k', 1}); // a time-out in the trace
    recorded.InjectFault({sim::FaultKind::BadCrc, 'c', 1});
    const auto trace = folder / "field.trace";
    const std::string port = recorded.PortName();
    const OnyxRun original = Onyx("selftest --json --trace " + trace.string() + " " + port);
    recorded.Stop();

    // The support desk's simulator, on the same port name.
    SimulatorProgram replaying({"--name", port.substr(0, port.size() - 1), "--self-test-mask", "0",
                                "--replay", trace.string()},
                               folder / "simulator.err");
    ASSERT_NE(replaying.ReadyLine().find("ready"), std::string::npos) << replaying.ReadyLine();
    const OnyxRun replayed = Onyx("selftest --json " + port);

    EXPECT_EQ(original.exitStatus, 1);
    EXPECT_EQ(replayed.exitStatus, original.exitStatus);
    EXPECT_EQ(replayed.out, original.out);
    EXPECT_EQ(original.Json()[0].toObject()["selfTestMask"].toInt(), 0x80);

    // Used up: the next read's first request has had the replies the trace holds.
    EXPECT_EQ(Onyx("info " + port).exitStatus, 1);
    const std::string told = ReadFile(folder / "simulator.err");
    EXPECT_NE(
        told.find("replies used up (the trace holds 2), no reply: 00 63 FF 02 04 00 24 E5 5D"),
        std::string::npos)
        << told;
    EXPECT_EQ(told.find("not in the trace"), std::string::npos) << told;
}

// The simulated logger refuses numbers it cannot stand for, naming the option.
TEST_F(OnyxCommand, SimulatorRefusesNumbersOutOfTheLoggersRange) {
    const std::pair<const char*, const char*> refused[] = {
        {"--clock-offset nan", "--clock-offset: 'nan' (seconds from "},
        {"--clock-offset 1e300", "--clock-offset: '1e300' (seconds from "},
        {"--clock-offset -1e9", "within the years 2000 to 2099)"},
        {"--drift inf", "--drift: 'inf' (parts per million from -32768 to 32767)"},
        {"--drift 40000", "--drift: '40000'"},
        {"--self-test-seconds nan", "--self-test-seconds: 'nan' (seconds from 0 to 3600)"},
        {"--self-test-seconds 1e400", "--self-test-seconds: '1e400'"},
        {"--serial 16777216", "--serial: '16777216' (a whole number from 0 to 16777215)"},
    };
    for (const auto& [arguments, message] : refused) {
        const std::string command = std::string(ONYX_SIMULATOR) + " " + arguments +
                                    " >/dev/null 2>" + (folder / "err").string();
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << arguments;
        EXPECT_NE(ReadFile(folder / "err").find(message), std::string::npos)
            << arguments << ": " << ReadFile(folder / "err");
    }
}

// The parser of traces: each line whole as the trace writes it, or the trace is
// refused with the line's number and the reason. error empty: the trace reads, and
// the request gets its whole reply.
struct TraceCase {
    const char* name;
    std::string text;
    std::string port;
    std::string error;
    friend void PrintTo(const TraceCase& c, std::ostream* out) { *out << c.name; }
};

const std::string Sent = "2026-12-08 01:33:00.662 sent  P: 00 65 FF 10 6B\n";
const std::string Stamp = "2026-12-08 01:33:01.357 ";
const std::string Reply = "1C 30 0F 26";

class ReplayTraceParser : public ::testing::TestWithParam<TraceCase> {};

TEST_P(ReplayTraceParser, ReadsWholeLinesOrNamesTheFirstItCannot) {
    const TraceCase& c = GetParam();
    std::istringstream trace(c.text);
    std::string error;
    auto replay = sim::ReplayTrace::Read(trace, c.port, error);
    EXPECT_EQ(error, c.error);
    if (c.error.empty()) {
        ASSERT_TRUE(replay);
        EXPECT_EQ(replay->Next({0x00, 0x65, 0xFF, 0x10, 0x6B}),
                  std::optional<sim::ReplayTrace::Reply>(
                      std::vector<std::uint8_t>{0x1C, 0x30, 0x0F, 0x26}));
    } else {
        EXPECT_FALSE(replay);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReplayTraceParser,
    ::testing::Values(
        TraceCase{"Whole", Sent + Stamp + "recv  P: " + Reply + " attempt 1/5 result 0\n", "", ""},
        TraceCase{"Lowercase",
                  "2026-12-08 01:33:00.662 sent  P: 00 65 ff 10 6b\n" + Stamp +
                      "recv  P: 1c 30 0f 26 attempt 1/5 result 0\n",
                  "", ""},
        TraceCase{"CrLfBlankLinesAndTheOtherEntries",
                  "2026-12-08 01:33:00.600 open  P: result 0\r\n\r\n"
                  "2026-12-08 01:33:00.601 purge P:\r\n" +
                      Sent + Stamp + "recv  P: " + Reply + " attempt 1/5 result 0\r\n" + Sent +
                      Stamp + "time-out P: no reply within 322 ms attempt 1/5 result -200\r\n",
                  "P:", ""},
        TraceCase{"PortNamedWithoutItsColon",
                  Sent + Stamp + "recv  P: " + Reply + " attempt 1/5 result 0\n", "P", ""},
        TraceCase{"PortNotInTheTrace",
                  Sent + Stamp + "recv  P: " + Reply + " attempt 1/5 result 0\n", "Q",
                  "the trace holds no request on Q"},
        TraceCase{"ReplyWrappedBetweenBytes",
                  Sent + Stamp + "recv  P: 1C 30\n0F 26 attempt 1/5 result 0\n", "",
                  "line 2 cannot be read: the recv entry ends before its attempt and result (is "
                  "it cut in two?)"},
        TraceCase{"ReplyWrappedInsideAByte",
                  Sent + Stamp + "recv  P: 1C 3\n0 0F 26 attempt 1/5 result 0\n", "",
                  "line 2 cannot be read: the recv entry holds '3' where a byte in hex belongs"},
        TraceCase{"ReplyWrappedBeforeItsResult",
                  Sent + Stamp + "recv  P: " + Reply + " attempt 1/5\nresult 0\n", "",
                  "line 2 cannot be read: the recv entry does not end with its attempt and result"},
        TraceCase{"RestOfAWrappedLine",
                  Sent + Stamp + "time-out P: no reply within 322 ms attempt 1/5 result -200\n" +
                      "result -200\n",
                  "",
                  "line 3 cannot be read: it does not begin with a date, a time, an entry and a "
                  "port (is it the rest of a line cut in two?)"},
        TraceCase{"TimeOutCutShort", Sent + Stamp + "time-out P: no reply within 322 ms\n", "",
                  "line 2 cannot be read: the time-out entry is not \"no reply within T ms "
                  "attempt A/N result R\""},
        TraceCase{"BadTokenInARequest", "2026-12-08 01:33:00.662 sent  P: 00 65 FG 10 6B\n", "",
                  "line 1 cannot be read: the sent entry holds 'FG' where a byte in hex belongs"},
        TraceCase{"RequestWithoutBytes", "2026-12-08 01:33:00.662 sent  P:\n", "",
                  "line 1 cannot be read: the sent entry holds no bytes"},
        TraceCase{"UnknownEntry", "2026-12-08 01:33:00.662 sned  P: 00 65 FF 10 6B\n", "",
                  "line 1 cannot be read: 'sned' is no entry of a trace"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplayTrace, RepeatsInRecordedOrderAndHoldsNoMoreThanTheTrace) {
    std::istringstream trace(
        "2026-12-08 01:33:00.662 open  P: result 0\n"
        "2026-12-08 01:33:00.662 sent  P: 00 65 FF 10 6B\n"
        "2026-12-08 01:33:01.129 time-out P: no reply within 322 ms attempt 1/5 result -200\n"
        "2026-12-08 01:33:01.329 sent  P: 00 65 FF 10 6B\n"
        "2026-12-08 01:33:01.357 recv  P: 1C 30 0F 26 attempt 2/5 result 0\n"
        "2026-12-08 01:33:01.400 sent  Q: 00 65 FF 10 6B\n"
        "2026-12-08 01:33:01.420 recv  Q: AA attempt 1/5 result -230\n");
    std::string error;
    EXPECT_FALSE(sim::ReplayTrace::Read(trace, "", error)) << "two ports, none chosen";
    EXPECT_NE(error.find("P: Q:"), std::string::npos) << error;
    trace.clear();
    trace.seekg(0);
    auto replay = sim::ReplayTrace::Read(trace, "P:", error);
    ASSERT_TRUE(replay) << error;
    const std::vector<std::uint8_t> request{0x00, 0x65, 0xFF, 0x10, 0x6B};
    EXPECT_EQ(replay->Next(request), std::optional<sim::ReplayTrace::Reply>(std::in_place))
        << "silence for the time-out";
    EXPECT_EQ(replay->Next(request), std::optional<sim::ReplayTrace::Reply>(
                                         std::vector<std::uint8_t>{0x1C, 0x30, 0x0F, 0x26}));
    EXPECT_FALSE(replay->Next(request)) << "used up";
    EXPECT_EQ(replay->Recorded(request), 2u) << "used up, yet in the trace";
    EXPECT_FALSE(replay->Next({0x00, 0x63})) << "never in the trace";
    EXPECT_EQ(replay->Recorded({0x00, 0x63}), 0u);
}

} // namespace
