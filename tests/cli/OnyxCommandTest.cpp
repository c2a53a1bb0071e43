// The onyx program's commands against simulated loggers.

#include "cli/OnyxRun.h"
#include "commands/MainWindowText.h"
#include "support/TemporaryFolder.h"

#include <QJsonObject>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <unistd.h>

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

TEST_F(OnyxCommand, ReportWritesTheDialogsTwentyLinesAlsoForAFailedTest) {
    auto config = UniqueLoggerConfig("Cli");
    config.selfTestMask = 0x02;
    const std::string port = StartLogger(config).PortName();
    const auto report = folder / "report.txt";

    const OnyxRun run =
        Onyx("report " + port + " --name 'Ann Lee' --company Acme --phone 0123456789" +
             " --email ann@acme.test -o " + report.string());

    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const std::string text = ReadFile(report);
    EXPECT_EQ(text.rfind("Name=Ann Lee\r\nCompany=Acme\r\nPhoneNo=0123456789\r\nFaxNo=\r\n"
                         "Email=ann@acme.test\r\nModel Number: ONYX-300\r\n"
                         "Serial Number: 1234567\r\n",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("\r\nTest1 Passed\r\nTest2 Failed\r\nTest3 Passed"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 19);
    EXPECT_EQ(text.substr(text.size() - 12), "Test8 Passed");
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
    EXPECT_NE(again.err.find("Time Calibration Started for this Wellscribe"), std::string::npos);
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
