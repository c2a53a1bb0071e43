// The onyx program's commands against simulated loggers.

#include "cli/OnyxRun.h"
#include "commands/MainWindowText.h"
#include "communication/Commands.h"
#include "onyx/Console.h"
#include "support/TemporaryFolder.h"

#include <QJsonObject>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sstream>
#include <unistd.h>

using namespace std::string_literals;

namespace {

// XDG_RUNTIME_DIR, where loggers publish their ports, set for one test.
class ScopedRuntimeFolder {
public:
    explicit ScopedRuntimeFolder(const std::filesystem::path& folder) {
        if (const char* value = std::getenv("XDG_RUNTIME_DIR")) {
            previous = value;
        }
        ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    }
    ~ScopedRuntimeFolder() {
        previous ? ::setenv("XDG_RUNTIME_DIR", previous->c_str(), 1)
                 : ::unsetenv("XDG_RUNTIME_DIR");
    }

private:
    std::optional<std::string> previous;
};

TEST_F(OnyxCommand, InfoOnTwoLoggersReadsBothIntoOneJsonDocument) {
    auto first = UniqueLoggerConfig("Cli");
    first.serialNumber = 111111;
    auto second = UniqueLoggerConfig("Cli");
    second.serialNumber = 222222;
    second.model = "M10";
    const std::string a = StartLogger(first).PortName();
    const std::string b = StartLogger(second).PortName();

    const OnyxRun run = Onyx("info --json " + a + " " + b);

    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const QJsonArray document = run.Json();
    ASSERT_EQ(document.size(), 2) << run.out;
    const std::pair<std::string, std::string> expected[] = {{a, "111111"}, {b, "222222"}};
    for (int i = 0; i < 2; ++i) {
        const QJsonObject port = document[i].toObject();
        EXPECT_EQ(port["port"].toString().toStdString(), expected[i].first);
        EXPECT_TRUE(port["ok"].toBool());
        EXPECT_EQ(port["result"].toInt(-1), 0);
        const QJsonObject values = port["values"].toObject();
        EXPECT_EQ(values["serialNumber"].toString().toStdString(), expected[i].second);
        EXPECT_EQ(values["firmwareVersion"].toString(), "2.10");
        EXPECT_EQ(values["elapsedTime"].toString(), "123456");
    }
    EXPECT_EQ(document[1].toObject()["values"].toObject()["modelNumber"].toString(), "M10");
}

TEST_F(OnyxCommand, OneSilentLoggerFailsTheRunAndTheOtherKeepsItsValues) {
    const std::string good = StartLogger().PortName();
    sim::SimulatedLogger& silent = StartLogger();
    silent.InjectFault({sim::FaultKind::Silence, std::nullopt, sim::EveryRequest});

    const OnyxRun json = Onyx("info --json " + silent.PortName() + " " + good);

    EXPECT_EQ(json.exitStatus, 1);
    const QJsonArray document = json.Json();
    ASSERT_EQ(document.size(), 2) << json.out;
    const QJsonObject failed = document[0].toObject();
    EXPECT_FALSE(failed["ok"].toBool());
    EXPECT_EQ(failed["result"].toInt(), -200);
    EXPECT_EQ(failed["text"].toString(), "-200 Communication Time Out! Check COM Port");
    EXPECT_EQ(document[1].toObject()["values"].toObject()["serialNumber"].toString(), "1234567");
    EXPECT_NE(json.err.find(silent.PortName() + " -200 Communication Time Out! Check COM Port"),
              std::string::npos)
        << json.err;
}

TEST_F(OnyxCommand, SelfTestNamesEachFailedTestWithItsSolution) {
    auto config = UniqueLoggerConfig("Cli");
    config.selfTestMask = 0x41; // tests 1 and 7
    const std::string port = StartLogger(config).PortName();

    const OnyxRun run = Onyx("selftest " + port);

    EXPECT_EQ(run.exitStatus, 1) << "a failed test fails the logger";
    for (const int test : {1, 7}) {
        EXPECT_NE(
            run.out.find(std::string(SelfTestCaption(test)) + " failed: " + SelfTestSolution(test)),
            std::string::npos)
            << run.out;
    }
    EXPECT_NE(run.out.find(std::string(SelfTestCaption(2)) + " passed"), std::string::npos);
    EXPECT_NE(run.out.find("Failed 2 tests."), std::string::npos);
    EXPECT_NE(run.out.find("Serial Number: 1234567"), std::string::npos);
}

TEST_F(OnyxCommand, CalibrationStartAppendsToTheLogAndRefusesASecondStart) {
    const std::string port = StartLogger().PortName();
    const auto log = folder / "LogTime.csv";
    {
        std::ofstream existing(log, std::ios::binary);
        existing << "99,12/01/26 10:00:00\r\n";
    }
    const std::string logOption = " --log " + log.string() + " ";

    const OnyxRun started = Onyx("calibration start --json" + logOption + port);
    const OnyxRun again = Onyx("calibration start" + logOption + port);
    const OnyxRun listed = Onyx("calibration list" + logOption);

    ASSERT_EQ(started.exitStatus, 0) << started.err;
    const std::string line = started.Json()[0].toObject()["logLine"].toString().toStdString();
    EXPECT_EQ(line.rfind("1234567,", 0), 0u) << line;
    EXPECT_EQ(line.size(), 25u) << line;
    EXPECT_EQ(ReadFile(log), "99,12/01/26 10:00:00\r\n" + line + "\r\n");
    EXPECT_EQ(again.exitStatus, 1);
    // The logger's words, told as the refusal they are.
    EXPECT_NE(again.out.find("  refused: Time Calibration Started for this Wellscribe\n"),
              std::string::npos)
        << again.out;
    EXPECT_NE(again.err.find("refused: Time Calibration Started for this Wellscribe"),
              std::string::npos);
    EXPECT_EQ(listed.out, "[ ] 99,12/01/26 10:00:00\n[ ] " + line + "\n");
}

// SIGTERM (as `timeout` sends it) in the middle of a stop: the stop runs to its end
// and saves, onyx ends with 143, and the port is free for the next program.
TEST_F(OnyxCommand, ASignalDuringAStopLetsItFinishAndSave) {
    auto config = UniqueLoggerConfig("Cli");
    config.pacing = sim::Pacing::Baud9600;
    sim::SimulatedLogger& logger = StartLogger(config);
    const auto log = folder / "LogTime.csv";
    const std::time_t started = std::time(nullptr) - 21 * 3600;
    std::tm local{};
    localtime_r(&started, &local);
    char start[32];
    std::strftime(start, sizeof start, "%m/%d/%y %H:%M:%S", &local);
    {
        std::ofstream existing(log, std::ios::binary);
        existing << "1234567," << start << "\r\n";
    }
    const pid_t onyx = ::fork();
    if (onyx == 0) {
        const std::string logPath = log.string();
        const std::string port = logger.PortName();
        ::execl(ONYX_PROGRAM, "onyx", "calibration", "stop", "--log", logPath.c_str(), port.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_TRUE(logger.WaitForRequests(3, std::chrono::seconds(20)));
    ::kill(onyx, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(onyx, &status, 0), onyx);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 143) << status;
    EXPECT_EQ(ReadFile(log).find("1234567," + std::string(start) + ","), 0u) << ReadFile(log);
    EXPECT_TRUE(ReadFile(log).ends_with(" s/day\r\n")) << ReadFile(log);
    const OnyxRun after = Onyx("info " + logger.PortName());
    EXPECT_EQ(after.exitStatus, 0) << after.err;
}

// Ctrl+C during the self-test's long wait ends it at once, with 130.
TEST_F(OnyxCommand, CtrlCEndsTheSelfTestsWait) {
    sim::SimulatedLogger& logger = StartLogger();
    logger.SetSelfTest(0, std::chrono::seconds(60));
    const pid_t onyx = ::fork();
    if (onyx == 0) {
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, 1);
        ::dup2(quiet, 2);
        const std::string port = logger.PortName();
        ::execl(ONYX_PROGRAM, "onyx", "selftest", port.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_TRUE(logger.WaitForRequests(6, std::chrono::seconds(20))); // the 'z' after the read
    const auto interrupted = std::chrono::steady_clock::now();
    ::kill(onyx, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(onyx, &status, 0), onyx);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(30))
        << "the 60 s wait was not ended";
    // The logger is busy with its tests, but the port opens: it was not left held.
    const OnyxRun after = Onyx("info " + logger.PortName());
    EXPECT_EQ(after.err.find("Cannot open"), std::string::npos) << after.err;
}

TEST_F(OnyxCommand, PortsListsTheLoggerAndProbingFindsIt) {
    // Probing asks every listed port: a published-ports folder of this test's own
    // keeps the loggers of the tests running beside it out of the list.
    const TemporaryFolder runtime("onyx-probe-runtime");
    std::filesystem::permissions(runtime.Path(), std::filesystem::perms::owner_all);
    const ScopedRuntimeFolder published(runtime.Path());
    sim::SimulatedLogger& logger = StartLogger();
    const QString port = QString::fromStdString(logger.PortName());

    const OnyxRun listed = Onyx("ports");
    EXPECT_TRUE(logger.Requests().empty()) << "listing sends nothing";
    const OnyxRun probed = Onyx("ports --probe --json");

    // Each port with its description: the published port names its terminal.
    const std::string description = "virtual port to " + logger.SlavePath();
    EXPECT_EQ(listed.exitStatus, 0);
    // The descriptions in a column: after the name and at least two spaces.
    const std::size_t line = listed.out.find(logger.PortName() + "  ");
    ASSERT_NE(line, std::string::npos) << listed.out;
    const std::size_t text = listed.out.find_first_not_of(' ', line + logger.PortName().size());
    EXPECT_EQ(listed.out.substr(text, listed.out.find('\n', text) - text), description);
    EXPECT_EQ(probed.exitStatus, 0);
    const QJsonArray ports = probed.Json();
    const auto entry = std::find_if(ports.begin(), ports.end(), [&port](const QJsonValue& value) {
        return value.toObject()["port"].toString() == port;
    });
    ASSERT_NE(entry, ports.end()) << probed.out;
    EXPECT_TRUE(entry->toObject()["logger"].toBool());
    EXPECT_EQ(entry->toObject()["description"].toString().toStdString(), description);
}

TEST_F(OnyxCommand, UsageErrorsExitWithTwo) {
    const std::string port = StartLogger().PortName();
    const std::string calls[] = {
        "",
        "frobnicate " + port,
        "info",
        "info --no-such-option " + port,
        "dump " + port,
        "dump " + port + " " + port + " -o x.hex",
        "report " + port + " --phone 0123456789 -o r.txt",
        "report " + port + " --name Ann --phone 12345 -o r.txt",
        "calibration",
        "calibration start",
        "calibration list " + port,
    };
    for (const std::string& call : calls) {
        const OnyxRun run = Onyx(call);
        EXPECT_EQ(run.exitStatus, 2) << "onyx " << call << "\n" << run.err;
    }
    EXPECT_TRUE(loggers.front()->Requests().empty()) << "no usage error talks to the logger";
}

// Command lines as a bench script writes them: the exit status and the message.
// "{port}" is the logger's port, "{dir}" the test's folder. Run in order.
TEST_F(OnyxCommand, CommandLinesGiveTheirStatusAndMessage) {
    const std::string port = StartLogger().PortName();
    const std::string bare = port.substr(0, port.size() - 1);
    struct Call {
        std::string words;
        int status;
        std::string message; // in the output or on stderr
    };
    const std::string report = "report {port} --name Ann --phone 0123456789 ";
    const Call calls[] = {
        // Options before the command, and file names that are not UTF-8, kept as typed.
        {"-o '{dir}/r\xe9.txt' --name Ann report {port} --phone 0123456789", 0,
         "Report saved as {dir}/r\\xE9.txt"},
        {"--log '{dir}/log\xe9.csv' calibration start {port}", 0, "1234567,"},
        {"calibration list --log '{dir}/log\xe9.csv'", 0, "[ ] 1234567,"},
        {report + "--json -o '{dir}/r\xff\xfe.txt'", 0, R"("file": "{dir}/r\\xFF\\xFE.txt")"},
        {"--trace '{dir}/t\xe9.bin' dump {port} -o '{dir}/./t\xe9.bin'", 2,
         "onyx: {dir}/./t\\xE9.bin is named by both --trace and -o: give each its own file"},
        {"--trace {dir}/log.csv calibration start --log {dir}/log.csv {port}", 2,
         "is named by both --trace and --log"},
        {report + "-o {dir}", 2, "onyx: {dir} is a folder: -o needs a file"},
        {"dump {port} -o /dev/null", 2, "onyx: /dev/null is a device: -o needs a file"},
        {"calibration list --log {dir}", 2, "is a folder: --log needs a file"},
        {"--trace {dir} info {port}", 2, "is a folder: --trace needs a file"},
        {"info {port} " + bare, 2, "onyx: the port " + bare + " is given twice"},
        {"info --probe {port}", 2, "onyx: info takes no --probe"},
        {"report {port} --name Ann --phone 123456789 -o {dir}/r.txt", 2,
         "needs at least 10 characters, every character counted"},
        {"--help-all", 0, "--allow-lossy"},
        {report + "-o -", 0, "Report written to standard output"},
        // A system error told with the port and the reason, not as "2 Internal Error".
        {"calibration verify NOSUCHPORT:", 1, "Cannot open NOSUCHPORT: No such file"},
    };
    const auto filled = [&](std::string text) {
        for (const auto& [place, value] : {std::pair{std::string("{port}"), port},
                                           {std::string("{dir}"), folder.Path().string()}}) {
            for (auto at = text.find(place); at != std::string::npos; at = text.find(place)) {
                text.replace(at, place.size(), value);
            }
        }
        return text;
    };
    for (const Call& call : calls) {
        const OnyxRun run = Onyx(filled(call.words));
        EXPECT_EQ(run.exitStatus, call.status) << call.words << "\n" << run.err;
        EXPECT_NE((run.out + run.err).find(filled(call.message)), std::string::npos)
            << call.words << "\n"
            << run.out << run.err;
        if (call.words.ends_with("-o -")) {
            EXPECT_EQ(run.out.rfind("Name=Ann\r\n", 0), 0u) << "the report itself on stdout";
        }
    }
    EXPECT_TRUE(std::filesystem::exists(folder / "r\xe9.txt"));
    EXPECT_TRUE(std::filesystem::exists(folder / "log\xe9.csv"));
    EXPECT_TRUE(std::filesystem::exists(folder / "r\xff\xfe.txt"));
    EXPECT_FALSE(std::filesystem::exists(folder / "t\xe9.bin")) << "refused before anything";
    // A dump or report on a terminal is refused (the pseudo-terminal of a logger
    // stands in for one).
    const OnyxRun terminal = Onyx("-o - dump " + port, loggers.front()->SlavePath());
    EXPECT_EQ(terminal.exitStatus, 2);
    EXPECT_NE(terminal.err.find("standard output, which is a terminal"), std::string::npos)
        << terminal.err;
}

TEST_F(OnyxCommand, OutputThatCannotBeWrittenEndsWithAMessageAndStatusOne) {
    const std::string port = StartLogger().PortName();
    const auto log = folder / "LogTime.csv";
    std::ofstream(log) << "99,12/01/26 10:00:00\r\n";
    for (const std::string& words : {"info " + port, "--json info " + port,
                                     "calibration list --log " + log.string(), "--help"s}) {
        const OnyxRun run = Onyx(words, "/dev/full");
        EXPECT_EQ(run.exitStatus, 1) << words;
        EXPECT_NE(run.err.find("onyx: cannot write to standard output: No space left on device"),
                  std::string::npos)
            << words << "\n"
            << run.err;
    }
    // A pipe whose reader went away: the same, and no death by SIGPIPE.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    close(pipeEnds[0]);
    ASSERT_EQ(dup2(pipeEnds[1], 9), 9);
    close(pipeEnds[1]);
    const OnyxRun closed = Onyx("info " + port, "&9");
    close(9);
    EXPECT_EQ(closed.exitStatus, 1);
    EXPECT_NE(closed.err.find("onyx: cannot write to standard output: Broken pipe"),
              std::string::npos)
        << closed.err;
}

TEST_F(OnyxCommand, HelpFitsEightyColumns) {
    for (const std::string words :
         {"--help", "--help-all", "ports --help", "info --help", "selftest -h", "dump --help",
          "report --help", "calibration --help"}) {
        const OnyxRun run = Onyx(words);
        EXPECT_EQ(run.exitStatus, 0) << words;
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) {
            EXPECT_LE(line.size(), 80u) << words << ": " << line;
        }
    }
}

// The one whole dump of these tests (a minute of pauses between requests): to
// standard output, its result on stderr.
TEST_F(OnyxCommand, ADumpAfterAFailedInformationReadSucceedsWithAWarning) {
    sim::SimulatedLogger& logger = StartLogger();
    logger.InjectFault(
        {sim::FaultKind::Silence, command_letter::ReadStatusText, sim::EveryRequest});

    const OnyxRun run = Onyx("dump --json " + logger.PortName() + " -o -");

    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out.size(), std::size_t{DumpBlockCount} * BlockSize);
    const QJsonObject result =
        QJsonDocument::fromJson(QByteArray::fromStdString(run.err)).array()[0].toObject();
    EXPECT_TRUE(result["ok"].toBool());
    EXPECT_EQ(result["text"].toString(), "Memory Dump Saved");
    EXPECT_EQ(result["warning"].toString(), "-200 Communication Time Out! Check COM Port");
    EXPECT_EQ(result["file"].toString(), "standard output");
}

TEST_F(OnyxCommand, ADumpIntoAMissingFolderFailsBeforeTheDump) {
    const std::string port = StartLogger().PortName();

    const OnyxRun run = Onyx("dump --json " + port + " -o " + (folder / "no/such.hex").string());

    EXPECT_EQ(run.exitStatus, 1);
    const QJsonObject result = run.Json()[0].toObject();
    EXPECT_EQ(result["result"].toInt(), -400);
    EXPECT_EQ(result["bytes"].toInt(-1), 0);
    EXPECT_TRUE(result["text"].toString().startsWith("Unable to save memory dump\nCannot write "));
}

// The texts onyx prints for the self-test rows are the ones the window's form holds.
TEST(OnyxTexts, SelfTestRowsMatchTheWindowsForm) {
    const std::string form = ReadFile(ONYX_MAIN_WINDOW_FORM);
    const auto textOf = [&form](const std::string& name) {
        const auto widget = form.find("name=\"" + name + "\"");
        const auto start = form.find("<string>", widget) + 8;
        return widget == std::string::npos
                   ? std::string()
                   : form.substr(start, form.find("</string>", start) - start);
    };
    for (int test = 1; test <= 8; ++test) {
        EXPECT_EQ(textOf("LblTest" + std::to_string(test)), SelfTestCaption(test));
        EXPECT_EQ(textOf("lblT" + std::to_string(test) + "Solution"), SelfTestSolution(test));
    }
    EXPECT_EQ(textOf("lblSolutionHeading"), SolutionHeading);
    EXPECT_EQ(textOf("lblReadingSolution1"), ReadingSolution1);
    EXPECT_EQ(textOf("lblReadingSolution2"), ReadingSolution2);
}

} // namespace

// A name in any encoding is shown without being changed into another name.
TEST(OnyxTexts, ReadableKeepsUtf8AndEscapesEveryOtherByte) {
    const std::pair<std::string, std::string> cases[] = {
        {"log.csv", "log.csv"},
        {"Zo\xc3\xab \xe6\x9d\x8e \xf0\x9f\x98\x80", "Zo\xc3\xab \xe6\x9d\x8e \xf0\x9f\x98\x80"},
        {"log\xe9.csv", "log\\xE9.csv"},              // Latin-1
        {"r\xff\xfe.txt", "r\\xFF\\xFE.txt"},         // never in UTF-8
        {"\xc3", "\\xC3"},                            // cut short at the end
        {"\xc3(", "\\xC3("},                          // cut short by another character
        {"\xc0\xaf", "\\xC0\\xAF"},                   // overlong '/'
        {"\xed\xa0\x80", "\\xED\\xA0\\x80"},          // a surrogate
        {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"}, // past U+10FFFF
    };
    for (const auto& [bytes, shown] : cases) {
        EXPECT_EQ(Readable(bytes), shown);
    }
}
