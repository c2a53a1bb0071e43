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

    // Used up: the next read's first request is no longer in the trace.
    EXPECT_EQ(Onyx("info " + port).exitStatus, 1);
    EXPECT_NE(ReadFile(folder / "simulator.err")
                  .find("not in the trace, no reply: 00 63 FF 02 04 00 24 E5 5D"),
              std::string::npos);
}

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
    EXPECT_FALSE(replay->Next(request)) << "used up: not in the trace any more";
    EXPECT_FALSE(replay->Next({0x00, 0x63})) << "never in the trace";
}

} // namespace
