// onyx: the diagnostics utility's commands from a command line, for service
// benches and scripts, on many loggers at once. Each port runs on a worker of its
// own; the results come out in the order the ports were given.
//
// Exit status: 0 when every logger succeeded, 1 when any failed, 2 for a usage error.

#include "Output.h"
#include "PortJobs.h"
#include "calibration/CalibrationLog.h"
#include "commands/LogLocation.h"
#include "commands/MainWindowText.h"
#include "communication/Commands.h"
#include "communication/LinkTrace.h"
#include "communication/ResultCodes.h"
#include "communication/serial/PortList.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace {

constexpr int ExitSuccess = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

constexpr const char* Description =
    "Diagnoses Wellscribe Onyx loggers connected over serial cables, as the window does.\n"
    "\n"
    "Commands:\n"
    "  ports [--probe]            the port list as the window shows it; --probe marks\n"
    "                             the ports where a logger answers (it sends the\n"
    "                             read-information requests on every listed port)\n"
    "  info PORT...               Read Wellscribe Info\n"
    "  selftest PORT...           Read Wellscribe Info, then Run Self-Test\n"
    "  dump PORT -o FILE          Read Memory Dump into FILE\n"
    "  report PORT --name NAME --phone PHONE [--company --fax --email] -o FILE\n"
    "                             Run Self-Test, then Create Report into FILE\n"
    "  calibration list           the calibration log's lines ([x] completed)\n"
    "  calibration start PORT...  Start Time Calibration\n"
    "  calibration stop PORT...   Stop Time Calibration\n"
    "  calibration verify PORT... Time Verification\n"
    "\n"
    "PORT as the port list names it (ttyUSB0:, COM5:). Several ports run side by\n"
    "side, one worker each; calibration start and stop change the log under its lock,\n"
    "beside the window or another onyx. Exit status: 0 when every logger succeeded, 1 when any "
    "failed\n"
    "(a failed self-test test included), 2 for a usage error.\n"
    "onyx COMMAND --help shows the command's options.";

// Raised by Ctrl+C, SIGTERM or SIGHUP (on Windows Ctrl+C, Ctrl+Break, closing the
// console): a dump ends after the block in progress; every other command, a
// calibration's start and stop above all, runs to its end and saves, and onyx then
// ends with 128 + the signal's number. Either way the ports are closed on the way
// out, so none is left in exclusive mode.
std::atomic<bool> dumpStop{false};
std::atomic<int> endSignal{0};
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void EndAfterCommand(int signal) {
    endSignal.store(signal);
    dumpStop.store(true);
}

#ifdef _WIN32
// Set once main is about to return: closing the console waits for it (Windows
// gives the handler some seconds before it ends the process).
HANDLE commandsDone = nullptr;

BOOL WINAPI ConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        EndAfterCommand(SIGINT);
        return TRUE;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        EndAfterCommand(SIGTERM);
        if (event != CTRL_BREAK_EVENT && commandsDone != nullptr) {
            WaitForSingleObject(commandsDone, 4500);
        }
        return TRUE;
    default:
        return FALSE;
    }
}
#endif

void HandleEndSignals() {
#ifdef _WIN32
    commandsDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(ConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = EndAfterCommand;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
#endif
}

// The exit status after the commands: 128 + the signal that asked onyx to end.
int AfterCommands(int status) {
#ifdef _WIN32
    if (commandsDone != nullptr) {
        SetEvent(commandsDone);
    }
#endif
    const int signal = endSignal.load();
    return signal != 0 ? 128 + signal : status;
}

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

std::string PortBytes(const QString& port) {
    return port.toLocal8Bit().toStdString();
}

// One worker per port, all at once; results in the ports' order.
std::vector<PortResult> OnEachPort(const QStringList& ports,
                                   const std::function<PortResult(const std::string&)>& job) {
    std::vector<PortResult> results(static_cast<std::size_t>(ports.size()));
    std::vector<std::jthread> workers;
    workers.reserve(results.size());
    for (qsizetype i = 0; i < ports.size(); ++i) {
        workers.emplace_back([&results, &job, i, port = PortBytes(ports[i])] {
            results[static_cast<std::size_t>(i)] = job(port);
        });
    }
    workers.clear(); // joins them all
    return results;
}

class CommandLine {
public:
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption json{"json", "Print one JSON document: an array, one object per port."};
    QCommandLineOption trace{
        "trace", "Append every frame sent to and received from the loggers to <file>.", "file"};
    QCommandLineOption probe{"probe", "Ask each port whether a logger answers: this sends the "
                                      "read-information requests on every listed port."};
    QCommandLineOption output{QStringList{"o", "output"}, "Write to <file>.", "file"};
    QCommandLineOption name{"name", "Report: your name (required).", "text"};
    QCommandLineOption company{"company", "Report: your company.", "text"};
    QCommandLineOption phone{"phone", "Report: your phone number, at least 10 characters.", "text"};
    QCommandLineOption fax{"fax", "Report: your fax number.", "text"};
    QCommandLineOption email{"email", "Report: your e-mail address.", "text"};
    QCommandLineOption log{"log", "Calibration: the log file (default: the window's LogTime.csv).",
                           "file"};

    CommandLine() {
        parser.setApplicationDescription(Description);
        parser.addOptions({json, trace});
        parser.addPositionalArgument("command",
                                     "ports, info, selftest, dump, report or calibration");
    }

    // The command's own options; false for an unknown command.
    bool AddCommandOptions(const QString& command) {
        parser.clearPositionalArguments();
        parser.addPositionalArgument(command, "The command.", command);
        if (command == "ports") {
            parser.addOption(probe);
        } else if (command == "dump") {
            parser.addOption(output);
            parser.addPositionalArgument("PORT", "The logger's port.");
        } else if (command == "report") {
            parser.addOptions({name, company, phone, fax, email, output});
            parser.addPositionalArgument("PORT", "The logger's port.");
        } else if (command == "calibration") {
            parser.addOption(log);
            parser.addPositionalArgument("ACTION", "list, start, stop or verify");
            parser.addPositionalArgument("PORT...", "The loggers' ports (not for list).");
        } else if (command == "info" || command == "selftest") {
            parser.addPositionalArgument("PORT...", "The loggers' ports.");
        } else {
            return false;
        }
        return true;
    }
};

int UsageError(const QString& text) {
    std::fprintf(stderr, "onyx: %s\nTry onyx --help\n", qPrintable(text));
    return ExitUsage;
}

int Finish(const std::vector<PortResult>& results, bool json) {
    if (json) {
        QJsonArray document;
        for (const PortResult& result : results) {
            document.append(ResultJson(result));
        }
        PrintJson(stdout, document);
    } else {
        for (const PortResult& result : results) {
            PrintResult(stdout, result);
        }
    }
    std::fflush(stdout);
    PrintFailures(stderr, results);
    for (const PortResult& result : results) {
        if (!result.ok) {
            return ExitFailure;
        }
    }
    return ExitSuccess;
}

int Ports(bool probe, bool json) {
    QStringList ports;
    QStringList descriptions;
    for (const PortRow& row : EnumeratePorts()) {
        ports << QString::fromLocal8Bit(row.name);
        descriptions << QString::fromStdString(row.description);
    }
    std::vector<PortResult> results =
        probe ? OnEachPort(ports, ReadInfoJob) : std::vector<PortResult>{};
    qsizetype nameWidth = 0;
    for (const QString& port : ports) {
        nameWidth = std::max(nameWidth, port.size());
    }
    QJsonArray document;
    for (qsizetype i = 0; i < ports.size(); ++i) {
        QJsonObject object{{"port", ports[i]}, {"description", descriptions[i]}};
        std::string mark;
        if (probe) {
            const PortResult& result = results[static_cast<std::size_t>(i)];
            const bool answers =
                !result.labels.empty() && result.labels.front().first == InfoLabel::SerialNo;
            object["logger"] = answers;
            mark = answers ? "  logger " + LabelValue(result.labels.front().second) : "  -";
        }
        document.append(object);
        if (!json) {
            // The name, the description in a column of its own, then the probe's mark.
            const QString line = descriptions[i].isEmpty()
                                     ? ports[i]
                                     : ports[i].leftJustified(nameWidth) + "  " + descriptions[i];
            std::printf("%s%s\n", qPrintable(line), mark.c_str());
        }
    }
    if (json) {
        PrintJson(stdout, document);
    }
    return ExitSuccess;
}

int Dump(const std::string& port, const std::string& file, bool json) {
    std::function<void(std::uint32_t)> progress;
    if (StderrIsTerminal()) {
        progress = [](std::uint32_t blocks) {
            std::fprintf(stderr, "\r%s", DumpProgressText(blocks).c_str());
            if (blocks == DumpBlockCount) {
                std::fprintf(stderr, "\n");
            }
        };
    }
    PortResult result = DumpJob(port, file, progress, &dumpStop);
    if (progress && result.bytes.value_or(0) < std::uint64_t{DumpBlockCount} * BlockSize) {
        std::fprintf(stderr, "\n");
    }
    return Finish({result}, json);
}

int Report(const CommandLine& commandLine, const std::string& port, const std::string& file,
           bool json) {
    const QCommandLineParser& parser = commandLine.parser;
    const QString name = parser.value(commandLine.name);
    const QString phone = parser.value(commandLine.phone);
    const ContactProblem problem =
        CheckContact(static_cast<std::size_t>(name.size()), static_cast<std::size_t>(phone.size()));
    if (problem != ContactProblem::None) {
        return UsageError(ContactProblemMessage(problem));
    }
    ReportContact contact;
    contact.name = name.toStdString();
    contact.company = parser.value(commandLine.company).toStdString();
    contact.phone = phone.toStdString();
    contact.fax = parser.value(commandLine.fax).toStdString();
    contact.email = parser.value(commandLine.email).toStdString();
    return Finish({ReportJob(port, contact, file)}, json);
}

// The log --log names, else the one the window uses; empty with error when there is none.
std::filesystem::path LogPath(const CommandLine& commandLine, std::string& error) {
    if (commandLine.parser.isSet(commandLine.log)) {
        return NamePath(commandLine.parser.value(commandLine.log));
    }
    LogLocation location = CalibrationLogLocation();
    error = location.error;
    return location.log;
}

int ListLog(const std::filesystem::path& logPath, bool json) {
    const LogListing listing = ListCalibrationLog(logPath);
    if (!listing.Ok()) {
        std::fprintf(stderr, "onyx: %s\n", listing.error.c_str());
        return ExitFailure;
    }
    QJsonArray document;
    for (const auto& [line, completed] : listing.lines) {
        document.append(QJsonObject{{"line", LoggerText(line)}, {"completed", completed}});
        if (!json) {
            std::printf("[%c] %s\n", completed ? 'x' : ' ', line.c_str());
        }
    }
    if (json) {
        PrintJson(stdout, document);
    }
    return ExitSuccess;
}

int Calibration(const CommandLine& commandLine, const QStringList& arguments, bool json) {
    const QString action = arguments.value(0);
    const QStringList ports = arguments.mid(1);
    std::string noLog;
    const std::filesystem::path logPath = LogPath(commandLine, noLog);
    if (logPath.empty()) {
        std::fprintf(stderr, "onyx: %s\n", noLog.c_str());
        return ExitFailure;
    }
    if (action == "list") {
        return ports.isEmpty() ? ListLog(logPath, json)
                               : UsageError("calibration list takes no port");
    }
    std::function<PortResult(const std::string&)> job;
    if (action == "start") {
        job = [&logPath](const std::string& port) { return StartCalibrationJob(port, logPath); };
    } else if (action == "stop") {
        job = [&logPath](const std::string& port) { return StopCalibrationJob(port, logPath); };
    } else if (action == "verify") {
        job = VerifyTimeJob;
    } else {
        return UsageError("calibration needs list, start, stop or verify");
    }
    if (ports.isEmpty()) {
        return UsageError("calibration " + action + " needs at least one port");
    }
    // Start and stop share the log: each change is made under the log's lock on
    // the file as it is then, so the loggers run side by side here too.
    return Finish(OnEachPort(ports, job), json);
}

} // namespace

int Run(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(
        QString::fromUtf8(ProgramTitle.data(), static_cast<qsizetype>(ProgramTitle.size())));
    QCoreApplication::setApplicationVersion(ONYX_VERSION);
    const QStringList arguments = QCoreApplication::arguments();

    CommandLine commandLine;
    // First the command, then the command's own options.
    commandLine.parser.parse(arguments);
    const QString command = commandLine.parser.positionalArguments().value(0);
    if (command.isEmpty() || !commandLine.AddCommandOptions(command)) {
        if (commandLine.parser.isSet(commandLine.version)) {
            std::printf("onyx %s\n", ONYX_VERSION);
            return ExitSuccess;
        }
        if (commandLine.parser.isSet(commandLine.help)) {
            std::printf("%s", qPrintable(commandLine.parser.helpText()));
            return ExitSuccess;
        }
        return UsageError(command.isEmpty() ? QString("no command given")
                                            : "unknown command " + command);
    }
    QCommandLineParser& parser = commandLine.parser;
    if (!parser.parse(arguments)) {
        return UsageError(parser.errorText());
    }
    if (parser.isSet(commandLine.help)) {
        std::printf("%s", qPrintable(parser.helpText()));
        return ExitSuccess;
    }
    if (parser.isSet(commandLine.version)) {
        std::printf("onyx %s\n", ONYX_VERSION);
        return ExitSuccess;
    }
    const QStringList rest = parser.positionalArguments().mid(1);
    const bool json = parser.isSet(commandLine.json);

    if (parser.isSet(commandLine.trace)) {
        const QString path = parser.value(commandLine.trace);
        // Told at once, on stderr; the loggers are read all the same.
        const link_trace::StopHandler stopped = [](const std::string& message) {
            std::fprintf(stderr, "onyx: %s\n", message.c_str());
        };
        const std::string file = NameBytes(path);
        if (const int error = link_trace::Start(file, stopped); error != 0) {
            return UsageError(QString::fromStdString(link_trace::StartFailure(file, error)));
        }
    }

    if (command == "ports") {
        return rest.isEmpty() ? Ports(parser.isSet(commandLine.probe), json)
                              : UsageError("ports takes no port");
    }
    if (command == "info" || command == "selftest") {
        if (rest.isEmpty()) {
            return UsageError(command + " needs at least one port");
        }
        return Finish(OnEachPort(rest, command == "info" ? ReadInfoJob : SelfTestJob), json);
    }
    if (command == "dump" || command == "report") {
        if (rest.size() != 1) {
            return UsageError(command + " takes one port");
        }
        if (!parser.isSet(commandLine.output)) {
            return UsageError(command + " needs -o FILE");
        }
        const std::string file = NameBytes(parser.value(commandLine.output));
        return command == "dump" ? Dump(PortBytes(rest[0]), file, json)
                                 : Report(commandLine, PortBytes(rest[0]), file, json);
    }
    return Calibration(commandLine, rest, json);
}

int main(int argc, char** argv) {
    HandleEndSignals();
    return AfterCommands(Run(argc, argv));
}
