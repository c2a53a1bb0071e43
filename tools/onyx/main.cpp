// onyx: the diagnostics utility's commands from a command line, for service
// benches and scripts, on many loggers at once. Each port runs on a worker of its
// own; the results come out in the order the ports were given.
//
// Exit status: 0 when every logger succeeded, 1 when any failed or the output could
// not be written, 2 for a usage error, 128 + the signal after Ctrl+C, SIGTERM, SIGHUP.

#include "Output.h"
#include "PortJobs.h"
#include "calibration/CalibrationLog.h"
#include "commands/LogLocation.h"
#include "commands/MainWindowText.h"
#include "communication/Commands.h"
#include "communication/LinkTrace.h"
#include "communication/ResultCodes.h"
#include "communication/serial/PortList.h"
#include "files/FileSystem.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <csignal>
#include <functional>
#include <set>
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

// The rules as onyx applies them; every line fits 80 columns.
constexpr const char* Description =
    "Diagnoses Wellscribe Onyx loggers connected over serial cables, as the window\n"
    "does.\n"
    "\n"
    "Commands:\n"
    "  ports [--probe]            the port list as the window shows it; --probe marks\n"
    "                             the ports where a logger answers (it sends the\n"
    "                             read-information requests on every listed port)\n"
    "  info PORT...               Read Wellscribe Info\n"
    "  selftest PORT...           Read Wellscribe Info, then Run Self-Test\n"
    "  dump PORT -o FILE          Read Memory Dump into FILE\n"
    "  report PORT --name NAME --phone PHONE -o FILE\n"
    "                             Run Self-Test, then Create Report into FILE\n"
    "  calibration list           the calibration log's lines ([x] completed)\n"
    "  calibration start PORT...  Start Time Calibration\n"
    "  calibration stop PORT...   Stop Time Calibration\n"
    "  calibration verify PORT... Time Verification\n"
    "\n"
    "Options go before or after the command. PORT as the port list names it\n"
    "(ttyUSB0:, COM5:; the colon may be left off), each port once. Several ports\n"
    "run side by side, one worker each; calibration start and stop change the log\n"
    "under its lock, beside the window or another onyx.\n"
    "Each file is named once in a run (--trace, -o, --log); none is a folder, and\n"
    "-o and --log name no device either. -o - writes the dump or report to\n"
    "standard output, unless that is a terminal. The phone number needs at least\n"
    "10 characters, every character counted (digits, blanks, dashes, letters).\n"
    "Exit status: 0 when every logger succeeded; 1 when any failed (a failed\n"
    "self-test test included) or the output could not be written; 2 for a usage\n"
    "error; 128 + the signal after Ctrl+C, SIGTERM or SIGHUP (a calibration start or\n"
    "stop still finishes and saves first; other commands end after the request in\n"
    "progress). onyx COMMAND --help shows the command's options, --help-all all of\n"
    "them.";

// Raised by Ctrl+C, SIGTERM or SIGHUP (on Windows Ctrl+C, Ctrl+Break, closing the
// console): a dump, a read or a self-test ends after the request in progress (the
// self-test's wait at once); a calibration's start and stop run to their end and
// save; onyx then ends with 128 + the signal's number. Either way the ports are
// closed on the way out, so none is left in exclusive mode.
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
    // A reader that went away is a failed write, told and ending with status 1.
    std::signal(SIGPIPE, SIG_IGN);
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

// The port entry the commands take: on Windows the colon the entry ends with is
// added when it was left off ("COM5" is "COM5:"); on Linux either names the port.
std::string PortEntry(const QString& word) {
    std::string port = ArgumentBytes(word);
#ifdef _WIN32
    if (!port.empty() && port.back() != ':') {
        port += ':';
    }
#endif
    return port;
}

// What makes two entries one port: the colon aside, and on Windows the case.
std::string PortKey(std::string port) {
    if (!port.empty() && port.back() == ':') {
        port.pop_back();
    }
#ifdef _WIN32
    std::transform(port.begin(), port.end(), port.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
#endif
    return port;
}

// One worker per port, all at once; results in the ports' order.
std::vector<PortResult> OnEachPort(const std::vector<std::string>& ports,
                                   const std::function<PortResult(const std::string&)>& job) {
    std::vector<PortResult> results(ports.size());
    std::vector<std::jthread> workers;
    workers.reserve(results.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        workers.emplace_back([&results, &job, &ports, i] { results[i] = job(ports[i]); });
    }
    workers.clear(); // joins them all
    return results;
}

// The commands, and the options each takes besides the ones every command takes.
class CommandLine {
public:
    QCommandLineOption help{QStringList{"h", "help"},
                            "Show this help; after a command, the command's options."};
    QCommandLineOption helpAll{"help-all", "Show the help with every command's options."};
    QCommandLineOption version{QStringList{"v", "version"}, "Show onyx's version."};
    QCommandLineOption json{"json", "Print one JSON document: an array, one object per port."};
    QCommandLineOption trace{
        "trace", "Append every frame sent to and received from the loggers to <file>.", "file"};
    QCommandLineOption probe{"probe", "Ask each port whether a logger answers: this sends the "
                                      "read-information requests on every listed port."};
    QCommandLineOption output{QStringList{"o", "output"},
                              "Write to <file>; - writes to standard output (no terminal).",
                              "file"};
    QCommandLineOption name{"name", "Report: your name (required).", "text"};
    QCommandLineOption company{"company", "Report: your company.", "text"};
    QCommandLineOption phone{"phone",
                             "Report: your phone number, at least 10 characters, every character "
                             "counted (required).",
                             "text"};
    QCommandLineOption fax{"fax", "Report: your fax number.", "text"};
    QCommandLineOption email{"email", "Report: your e-mail address.", "text"};
    QCommandLineOption allowLossy{
        "allow-lossy", "Report: save characters this PC's code page cannot hold as '?' (without "
                       "it they are refused, each named)."};
    QCommandLineOption log{"log", "Calibration: the log file (default: the window's LogTime.csv).",
                           "file"};

    static constexpr std::array Commands{"ports", "info",   "selftest",
                                         "dump",  "report", "calibration"};

    QList<QCommandLineOption> Common() const { return {help, helpAll, version, json, trace}; }
    QList<QCommandLineOption> OptionsOf(const QString& command) const {
        if (command == "ports") {
            return {probe};
        }
        if (command == "dump") {
            return {output};
        }
        if (command == "report") {
            return {name, company, phone, fax, email, allowLossy, output};
        }
        if (command == "calibration") {
            return {log};
        }
        return {};
    }
    static bool Known(const QString& command) {
        return std::find(Commands.begin(), Commands.end(), command) != Commands.end();
    }

    // Every option at once, so that options go before or after the command.
    bool Parse(const QStringList& words) {
        parser.addOptions(All());
        parser.addPositionalArgument("command", "");
        return parser.parse(words);
    }

    // Every option once (-o is dump's and report's).
    QList<QCommandLineOption> All() const {
        QList<QCommandLineOption> all = Common();
        for (const char* command : Commands) {
            for (const QCommandLineOption& option : OptionsOf(command)) {
                if (std::none_of(all.begin(), all.end(), [&option](const auto& added) {
                        return added.names() == option.names();
                    })) {
                    all << option;
                }
            }
        }
        return all;
    }

    // The first option given that the command does not take, as typed; empty when none.
    QString Stray(const QString& command) const {
        QStringList taken;
        for (const QCommandLineOption& option : Common() + OptionsOf(command)) {
            taken << option.names();
        }
        for (const QString& given : parser.optionNames()) {
            if (!taken.contains(given)) {
                return (given.size() == 1 ? "-" : "--") + given;
            }
        }
        return {};
    }

    // The help of one command, of none (the commands' list) or, with all, of every option.
    QString HelpText(const QString& command, bool all = false) const {
        QCommandLineParser text;
        text.setApplicationDescription(Description);
        text.addOptions(all ? All() : Common());
        if (!all && Known(command)) {
            text.addOptions(OptionsOf(command));
            text.addPositionalArgument(command, "The command.", command);
            if (command == "calibration") {
                text.addPositionalArgument("ACTION", "list, start, stop or verify.");
                text.addPositionalArgument("PORT...", "The loggers' ports (not for list).");
            } else if (command == "dump" || command == "report") {
                text.addPositionalArgument("PORT", "The logger's port.");
            } else if (command != "ports") {
                text.addPositionalArgument("PORT...", "The loggers' ports.");
            }
        } else {
            text.addPositionalArgument("command", "ports, info, selftest, dump, report or "
                                                  "calibration.");
        }
        // "Usage: onyx ...", however the program was called.
        QString help = text.helpText();
        const QString called = QCoreApplication::arguments().value(0);
        if (help.startsWith("Usage: " + called)) {
            help.replace(7, called.size(), "onyx");
        }
        return help;
    }

    QCommandLineParser parser;
};

int UsageError(const std::string& text) {
    StandardError().Write("onyx: " + text + "\nTry onyx --help\n");
    return ExitUsage;
}

// Prints the results: on standard output, or on standard error when standard
// output carries a dump or a report (then the document holds the failures).
int Finish(const std::vector<PortResult>& results, bool json, bool outputCarriesData = false) {
    ConsoleStream& out = outputCarriesData ? StandardError() : StandardOutput();
    if (json) {
        QJsonArray document;
        for (const PortResult& result : results) {
            document.append(ResultJson(result));
        }
        PrintJson(out, document);
    } else {
        for (const PortResult& result : results) {
            PrintResult(out, result);
        }
    }
    StandardOutput().Flush();
    if (!outputCarriesData) {
        PrintFailures(StandardError(), results);
    }
    for (const PortResult& result : results) {
        if (!result.ok) {
            return ExitFailure;
        }
    }
    return ExitSuccess;
}

int Ports(bool probe, bool json) {
    const std::vector<PortRow> rows = EnumeratePorts();
    std::vector<std::string> ports;
    std::size_t nameWidth = 0;
    for (const PortRow& row : rows) {
        ports.push_back(row.name);
        nameWidth = std::max(nameWidth, row.name.size());
    }
    const std::vector<PortResult> results =
        probe ? OnEachPort(ports, ReadInfoJob) : std::vector<PortResult>{};
    QJsonArray document;
    std::string text;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        QJsonObject object{{"port", JsonText(rows[i].name)},
                           {"description", JsonText(rows[i].description)}};
        std::string mark;
        if (probe) {
            const PortResult& result = results[i];
            const bool answers =
                !result.labels.empty() && result.labels.front().first == InfoLabel::SerialNo;
            object["logger"] = answers;
            mark = answers ? "  logger " + Latin1ToUtf8(LabelValue(result.labels.front().second))
                           : "  -";
        }
        document.append(object);
        // The name, the description in a column of its own, then the probe's mark.
        text += rows[i].description.empty()
                    ? rows[i].name
                    : rows[i].name + std::string(nameWidth - rows[i].name.size() + 2, ' ') +
                          rows[i].description;
        text += mark + "\n";
    }
    if (json) {
        PrintJson(StandardOutput(), document);
    } else {
        StandardOutput().Write(text);
    }
    return ExitSuccess;
}

// A name of this program's own (a temporary folder's file) as the file code takes it.
std::string LocalName(const QString& name) {
#ifdef _WIN32
    return name.toStdString();
#else
    return QFile::encodeName(name).toStdString();
#endif
}

// file: the name -o gave, empty for standard output.
int Dump(const std::string& port, const std::string& file, bool json) {
    ConsoleStream& err = StandardError();
    std::function<void(std::uint32_t)> progress;
    if (err.IsTerminal()) {
        progress = [&err](std::uint32_t blocks) { err.Progress(DumpProgressText(blocks)); };
    }
    // For standard output the blocks go to a file of onyx's own first: the dump
    // keeps whole blocks only, and tells how many it kept.
    QTemporaryDir folder;
    const bool toOutput = file.empty();
    if (toOutput && !folder.isValid()) {
        err.Write("onyx: cannot make a temporary folder for the dump: " +
                  folder.errorString().toStdString() + "\n");
        return ExitFailure;
    }
    const std::string target = toOutput ? LocalName(folder.filePath("dump.hex")) : file;
    PortResult result =
        DumpJob(port, target, toOutput ? "standard output" : file, progress, &dumpStop);
    err.EndProgress();
    if (toOutput && result.bytes.value_or(0) > 0) {
        std::string bytes;
        if (const files::FileResult read = files::ReadWholeFile(files::PathFromName(target), bytes);
            !read.Ok()) {
            result.ok = false;
            result.text += "\nThe dump could not be read back from " + target + ": " + read.reason;
        }
        StandardOutput().WriteBinary(bytes);
    }
    return Finish({result}, json, toOutput);
}

// The characters of a text, as the report dialog counts them.
std::size_t Characters(const std::string& text) {
    return static_cast<std::size_t>(QString::fromUtf8(text).toUcs4().size());
}

int Report(const CommandLine& commandLine, const std::string& port, const std::string& file,
           bool json) {
    const QCommandLineParser& parser = commandLine.parser;
    const auto value = [&parser](const QCommandLineOption& option) {
        return ArgumentBytes(parser.value(option));
    };
    ReportRequest request;
    request.contact = {value(commandLine.name), value(commandLine.company),
                       value(commandLine.phone), value(commandLine.fax), value(commandLine.email)};
    request.file = file;
    request.allowLossy = parser.isSet(commandLine.allowLossy);
    const ReportContact& contact = request.contact;
    switch (CheckContact(Characters(contact.name), Characters(contact.phone))) {
    case ContactProblem::NoName:
        return UsageError("report needs your name: --name NAME");
    case ContactProblem::ShortPhone:
        return UsageError("the phone number needs at least 10 characters, every character "
                          "counted (digits, blanks, dashes, letters); --phone gave " +
                          std::to_string(Characters(contact.phone)));
    case ContactProblem::None:
        break;
    }
    // Refused before the logger is asked, when the contact lines alone hold them.
    const std::string characters = UnsavableCharacters(contact.name + contact.company +
                                                       contact.phone + contact.fax + contact.email);
    if (!characters.empty() && !request.allowLossy) {
        return UsageError("the report cannot be saved: " + UnsavableCharactersText(characters));
    }
    const PortResult result = ReportJob(port, request);
    if (file.empty()) {
        StandardOutput().WriteBinary(result.standardOutput);
    }
    return Finish({result}, json, file.empty());
}

// The log --log names, else the one the window uses; empty with error when there is none.
std::filesystem::path LogPath(const CommandLine& commandLine, std::string& error) {
    if (commandLine.parser.isSet(commandLine.log)) {
        return files::PathFromName(ArgumentBytes(commandLine.parser.value(commandLine.log)));
    }
    LogLocation location = CalibrationLogLocation();
    error = location.error;
    return location.log;
}

int ListLog(const std::filesystem::path& logPath, bool json) {
    const LogListing listing = ListCalibrationLog(logPath);
    if (!listing.Ok()) {
        StandardError().Write("onyx: " + listing.error + "\n");
        return ExitFailure;
    }
    QJsonArray document;
    std::string text;
    for (const auto& [line, completed] : listing.lines) {
        document.append(QJsonObject{{"line", LoggerText(line)}, {"completed", completed}});
        text += std::string(completed ? "[x] " : "[ ] ") + line + "\n";
    }
    if (json) {
        PrintJson(StandardOutput(), document);
    } else {
        StandardOutput().Write(text);
    }
    return ExitSuccess;
}

int Calibration(const CommandLine& commandLine, const QString& action,
                const std::vector<std::string>& ports, bool json) {
    if (action != "list" && action != "start" && action != "stop" && action != "verify") {
        return UsageError("calibration needs list, start, stop or verify");
    }
    std::string noLog;
    const std::filesystem::path logPath = LogPath(commandLine, noLog);
    if (logPath.empty()) {
        StandardError().Write("onyx: " + noLog + "\n");
        return ExitFailure;
    }
    if (action == "list") {
        return ports.empty() ? ListLog(logPath, json)
                             : UsageError("calibration list takes no port");
    }
    std::function<PortResult(const std::string&)> job;
    if (action == "start") {
        job = [&logPath](const std::string& port) { return StartCalibrationJob(port, logPath); };
    } else if (action == "stop") {
        job = [&logPath](const std::string& port) { return StopCalibrationJob(port, logPath); };
    } else {
        job = VerifyTimeJob;
    }
    if (ports.empty()) {
        return UsageError("calibration " + action.toStdString() + " needs at least one port");
    }
    // Start and stop share the log: each change is made under the log's lock on
    // the file as it is then, so the loggers run side by side here too.
    return Finish(OnEachPort(ports, job), json);
}

// A file option given on the command line.
struct NamedFile {
    std::string option; // as typed: "-o", "--trace", "--log"
    std::string name;   // as the file code takes it
    bool anyKind;       // a FIFO or a device is taken too (the trace only appends lines)
};

// Whether two names are one file: the same file when both exist, else the same
// place once made.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error)) {
        return true;
    }
    std::error_code otherError;
    const auto first = std::filesystem::weakly_canonical(a, error);
    const auto second = std::filesystem::weakly_canonical(b, otherError);
    return error || otherError ? a.lexically_normal() == b.lexically_normal() : first == second;
}

// Why the files cannot be used as named, as a usage error's text; empty when they can.
std::string FilesRefused(const std::vector<NamedFile>& named) {
    for (std::size_t i = 0; i < named.size(); ++i) {
        const NamedFile& file = named[i];
        if (file.name.empty()) {
            return file.option + " needs a file name";
        }
        const std::filesystem::path path = files::PathFromName(file.name);
        const files::PathKind kind = files::KindOf(path);
        const bool refused = kind == files::PathKind::Folder ||
                             (!file.anyKind && kind != files::PathKind::Missing &&
                              kind != files::PathKind::Regular && kind != files::PathKind::Unknown);
        if (refused) {
            return NativeSeparators(file.name) + " is " + files::KindText(kind) + ": " +
                   file.option + " needs a file";
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (SameFile(files::PathFromName(named[j].name), path)) {
                return NativeSeparators(file.name) + " is named by both " + named[j].option +
                       " and " + file.option + ": give each its own file";
            }
        }
    }
    return {};
}

int HelpOrVersion(const CommandLine& commandLine, const QString& command) {
    const QCommandLineParser& parser = commandLine.parser;
    if (parser.isSet(commandLine.helpAll) || parser.isSet(commandLine.help)) {
        StandardOutput().Write(
            commandLine.HelpText(command, parser.isSet(commandLine.helpAll)).toStdString());
    } else {
        StandardOutput().Write(std::string("onyx ") + ONYX_VERSION + "\n");
    }
    return ExitSuccess;
}

} // namespace

int Run(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(
        QString::fromUtf8(ProgramTitle.data(), static_cast<qsizetype>(ProgramTitle.size())));
    QCoreApplication::setApplicationVersion(ONYX_VERSION);

    CommandLine commandLine;
    QCommandLineParser& parser = commandLine.parser;
    if (!commandLine.Parse(ProgramArguments(argc, argv))) {
        return UsageError(ArgumentBytes(parser.errorText()));
    }
    const QStringList words = parser.positionalArguments();
    const QString command = words.value(0);
    if (parser.isSet(commandLine.help) || parser.isSet(commandLine.helpAll) ||
        parser.isSet(commandLine.version)) {
        return HelpOrVersion(commandLine, command);
    }
    if (command.isEmpty()) {
        return UsageError("no command given");
    }
    if (!CommandLine::Known(command)) {
        return UsageError("unknown command " + ArgumentBytes(command));
    }
    if (const QString stray = commandLine.Stray(command); !stray.isEmpty()) {
        return UsageError(command.toStdString() + " takes no " + stray.toStdString());
    }
    const bool json = parser.isSet(commandLine.json);
    // calibration's first word is its action; the rest are ports.
    const qsizetype firstPort = command == "calibration" ? 2 : 1;
    std::vector<std::string> ports;
    std::set<std::string> seen;
    for (const QString& word : words.mid(firstPort)) {
        ports.push_back(PortEntry(word));
        if (!seen.insert(PortKey(ports.back())).second) {
            return UsageError("the port " + ports.back() +
                              " is given twice: each port is read by one worker");
        }
    }

    std::vector<NamedFile> named;
    if (parser.isSet(commandLine.trace)) {
        named.push_back({"--trace", ArgumentBytes(parser.value(commandLine.trace)), true});
    }
    const std::string output =
        parser.isSet(commandLine.output) ? ArgumentBytes(parser.value(commandLine.output)) : "";
    const bool toStandardOutput = output == "-";
    if (parser.isSet(commandLine.output) && !toStandardOutput) {
        named.push_back({"-o", output, false});
    }
    if (parser.isSet(commandLine.log)) {
        named.push_back({"--log", ArgumentBytes(parser.value(commandLine.log)), false});
    }
    if (const std::string refused = FilesRefused(named); !refused.empty()) {
        return UsageError(refused);
    }
    if (toStandardOutput && StandardOutput().IsTerminal()) {
        return UsageError("-o - writes the " + command.toStdString() +
                          " to standard output, which is a terminal: redirect it to a file "
                          "or a program, or name a file");
    }

    if (parser.isSet(commandLine.trace)) {
        // Told at once, on stderr, on a line of its own; the loggers are read all the same.
        const link_trace::StopHandler stopped = [](const std::string& message) {
            StandardError().Write("onyx: " + message + "\n");
        };
        const std::string& file = named.front().name;
        if (const int error = link_trace::Start(file, stopped); error != 0) {
            return UsageError(link_trace::StartFailure(file, error));
        }
    }

    if (command == "ports") {
        return words.size() == 1 ? Ports(parser.isSet(commandLine.probe), json)
                                 : UsageError("ports takes no port");
    }
    if (command == "info" || command == "selftest") {
        if (ports.empty()) {
            return UsageError(command.toStdString() + " needs at least one port");
        }
        return Finish(OnEachPort(ports, command == "info" ? ReadInfoJob : SelfTestJob), json);
    }
    if (command == "dump" || command == "report") {
        if (ports.size() != 1) {
            return UsageError(command.toStdString() + " takes one port");
        }
        if (!parser.isSet(commandLine.output)) {
            return UsageError(command.toStdString() +
                              " needs -o FILE (or -o - for standard output)");
        }
        const std::string file = toStandardOutput ? std::string() : output;
        return command == "dump" ? Dump(ports.front(), file, json)
                                 : Report(commandLine, ports.front(), file, json);
    }
    return Calibration(commandLine, words.value(1), ports, json);
}

int main(int argc, char** argv) {
    HandleEndSignals();
    StopReadsOn(&dumpStop);
    const int status = AfterOutput(Run(argc, argv));
    return AfterCommands(status);
}
