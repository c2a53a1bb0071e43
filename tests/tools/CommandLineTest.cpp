// The programs run as a user runs them from a shell: their command lines without
// a display, and the link trace into a pipe whose reader goes away.

#include "SimulatedLogger.h"
#include "support/TestLogger.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Outcome {
    int exitCode = -1; // -1: ended by a signal or killed at the deadline
    std::string out;
    std::string err;
};

// Runs program with arguments and an environment that holds no display: PATH,
// HOME and the port folder's XDG_RUNTIME_DIR only. Ends it after 20 s.
Outcome RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> environment{"PATH=/usr/bin:/bin", "HOME=/tmp"};
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) {
        environment.push_back(std::string("XDG_RUNTIME_DIR=") + runtime);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    Outcome run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    pollfd streams[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* texts[2] = {&run.out, &run.err};
    int open = 2;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (poll(streams, 2, 200) <= 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (streams[i].fd >= 0 && streams[i].revents != 0) {
                char buffer[4096];
                const ssize_t n = read(streams[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    texts[i]->append(buffer, static_cast<std::size_t>(n));
                } else {
                    close(streams[i].fd);
                    streams[i].fd = -1;
                    --open;
                }
            }
        }
    }
    if (open > 0) {
        kill(child, SIGKILL);
    }
    for (const pollfd& stream : streams) {
        if (stream.fd >= 0) {
            close(stream.fd);
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    run.exitCode = WIFEXITED(status) && open == 0 ? WEXITSTATUS(status) : -1;
    return run;
}

#ifdef WINDOW_PROGRAM
struct WindowCommandLine {
    const char* name;
    std::vector<std::string> arguments;
    int exitCode;
    std::string firstLine; // of stdout when the exit code is 0, else of stderr
};

class WindowProgramWithoutDisplay : public ::testing::TestWithParam<WindowCommandLine> {};

// Answered before the window system is touched: no display is looked for; or,
// when the window would be shown, the want of a display told in one line.
TEST_P(WindowProgramWithoutDisplay, AnswersAndExits) {
    const WindowCommandLine& line = GetParam();
    const Outcome run = RunProgram(WINDOW_PROGRAM, line.arguments);
    EXPECT_EQ(run.exitCode, line.exitCode) << run.err;
    const std::string& text = line.exitCode == 0 ? run.out : run.err;
    EXPECT_EQ(text.substr(0, text.find('\n')), line.firstLine) << text;
    if (line.exitCode != 1 && std::string(line.name) != "Version") {
        EXPECT_NE(text.find("usage: wellscribe-onyx [--trace FILE]\n"), std::string::npos) << text;
    }
    if (line.exitCode == 0) {
        EXPECT_EQ(run.err, "");
    }
    if (line.exitCode == 1) {
        EXPECT_EQ(run.err, line.firstLine + "\n") << "one line, none of Qt's";
    }
}

const std::string LonelyFifo = ::testing::TempDir() + "onyx-cli-fifo-" + std::to_string(getpid());

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowProgramWithoutDisplay,
    ::testing::Values(
        WindowCommandLine{"Help", {"--help"}, 0, "usage: wellscribe-onyx [--trace FILE]"},
        WindowCommandLine{"ShortHelp", {"-h"}, 0, "usage: wellscribe-onyx [--trace FILE]"},
        WindowCommandLine{"NoDisplay",
                          {},
                          1,
                          "wellscribe-onyx: cannot show the window: no display (DISPLAY and "
                          "WAYLAND_DISPLAY are not set); onyx, the command-line tool, works "
                          "without a display"},
        WindowCommandLine{"PlatformThatCannotStart",
                          {"-platform", "xcb"},
                          1,
                          "wellscribe-onyx: cannot show the window: no display could be opened "
                          "(Qt could start no window system); onyx, the command-line tool, works "
                          "without a display"},
        WindowCommandLine{"Version", {"--version"}, 0, "wellscribe-onyx " ONYX_VERSION},
        WindowCommandLine{
            "UnknownOption", {"--frobnicate"}, 2, "wellscribe-onyx: unknown option --frobnicate"},
        WindowCommandLine{
            "StrayArgument", {"COM1:"}, 2, "wellscribe-onyx: unexpected argument COM1:"},
        WindowCommandLine{
            "TraceWithoutFile", {"--trace"}, 2, "wellscribe-onyx: --trace needs a file name"},
        WindowCommandLine{"TraceIntoMissingFolder",
                          {"--trace", "/no/such/folder/trace.txt"},
                          2,
                          "wellscribe-onyx: cannot open the trace file /no/such/folder/trace.txt: "
                          "No such file or directory"},
        WindowCommandLine{"TraceIntoFifoWithoutReader",
                          {"--trace", LonelyFifo},
                          2,
                          "wellscribe-onyx: cannot open the trace file " + LonelyFifo +
                              ": no program is reading from it"}),
    [](const auto& info) { return std::string(info.param.name); });

class FifoEnvironment : public ::testing::Environment {
    void SetUp() override { mkfifo(LonelyFifo.c_str(), 0600); }
    void TearDown() override { std::remove(LonelyFifo.c_str()); }
};
const auto* const fifoEnvironment = ::testing::AddGlobalTestEnvironment(new FifoEnvironment);

// True once the process catches the signal (its handler is installed).
bool Catches(pid_t process, int signal) {
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("SigCgt:")) {
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
        }
    }
    return false;
}

// SIGTERM and SIGHUP end the window as closing it would: a clean exit, not death by
// the signal, so every port is closed on the way out.
TEST(WindowProgram, EndsCleanlyOnSigtermAndSighup) {
    for (const int signal : {SIGTERM, SIGHUP}) {
        const pid_t window = fork();
        if (window == 0) {
            const int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, 1);
            dup2(quiet, 2);
            execl(WINDOW_PROGRAM, WINDOW_PROGRAM, "-platform", "offscreen",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!Catches(window, signal) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(Catches(window, signal)) << "the window never caught signal " << signal;
        kill(window, signal);
        int status = 0;
        ASSERT_EQ(waitpid(window, &status, 0), window);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << signal << ": " << status;
    }
}
#endif

class IdentifyProgram : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(logger.Start(), 0); }
    sim::SimulatedLogger logger{UniqueLoggerConfig("Cl")};
};

// A port name typed without its colon is the whole name.
TEST_F(IdentifyProgram, OpensAPortNamedWithoutItsColon) {
    const std::string name = logger.PortName().substr(0, logger.PortName().size() - 1);
    const Outcome run = RunProgram(IDENTIFY_PROGRAM, {name});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Port:          " + name + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Serial number:"), std::string::npos) << run.out;
}

// The trace's reader goes away after the first request: the identity is read all
// the same, and the trace's end is told once.
TEST_F(IdentifyProgram, ATraceWhoseReaderGoesAwayStopsWithOneMessage) {
    // The first request goes unanswered, so the next line comes 300 ms after it,
    // when the reader is surely gone.
    sim::Fault silence;
    silence.count = 1;
    logger.InjectFault(silence);
    const std::string fifo = ::testing::TempDir() + "onyx-cli-trace-" + std::to_string(getpid());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    std::string traced;
    std::thread readToTheFirstRequest([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        char c = 0;
        while ((c != '\n' || traced.find(" sent  ") == std::string::npos) &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd entry{reader, POLLIN, 0};
            if (poll(&entry, 1, 100) > 0 && read(reader, &c, 1) == 1) {
                traced += c;
            }
        }
        close(reader);
    });
    const Outcome run = RunProgram(IDENTIFY_PROGRAM, {"--trace", fifo, logger.PortName()});
    readToTheFirstRequest.join();
    std::remove(fifo.c_str());

    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Serial number:"), std::string::npos) << run.out;
    EXPECT_NE(traced.find(" open  " + logger.PortName() + " result 0\n"), std::string::npos)
        << traced;
    EXPECT_EQ(run.err, "onyx-identify: The link trace to " + fifo + " stopped: Broken pipe\n");
}

} // namespace
