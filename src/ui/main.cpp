// The Wellscribe Onyx Diagnostics Utility.
//
//   wellscribe-onyx [--trace FILE]   the main window; --trace appends every frame
//                                    sent to and received from the logger to FILE
//   wellscribe-onyx --version        prints the program's version
//   wellscribe-onyx --help           prints the usage
//
// The command line is read before the window system is touched, so that --help,
// --version and every command-line error work on a machine without a display.

#include "communication/LinkTrace.h"
#include "ui/Application.h"
#include "ui/Presenter.h"
#include "ui/frmTimeCalUI.h"
#include "ui/frmWSRXUtilUI.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <QSocketNotifier>
#include <csignal>
#include <unistd.h>
#endif

#ifdef _WIN32
#include "files/WidePath.h"

#include <shellapi.h>
#include <windows.h>
#endif

namespace {

constexpr const char* ProgramName = "wellscribe-onyx";

std::string UsageText() {
    return std::string("usage: ") + ProgramName +
           " [--trace FILE]\n"
           "Diagnoses a Wellscribe Onyx logger connected over a serial cable.\n"
           "  --trace FILE   append every frame sent to and received from the logger to FILE\n"
           "  -h, --help     show this text\n"
           "  -v, --version  show the program's version\n";
}

// The arguments as UTF-8 on Windows, from the UTF-16 command line, so that a trace
// file in a folder such as C:\Users\Zoë keeps its name; elsewhere as given.
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
    int count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        std::vector<std::string> arguments;
        for (int i = 0; i < count; ++i) {
            const int size =
                WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
            std::string argument(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, argument.data(), size, nullptr, nullptr);
            arguments.push_back(argument);
        }
        LocalFree(wide);
        return arguments;
    }
#endif
    return std::vector<std::string>(argv, argv + argc);
}

#ifdef _WIN32
// A program of the Windows subsystem has no console of its own. Its output goes
// where it was redirected; else to the console it was started from; else, started
// from Explorer, into a message box.
bool HasStream(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

void Say(const std::string& text, bool error) {
    std::FILE* stream = error ? stderr : stdout;
    if (HasStream(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE)) {
        std::fputs(text.c_str(), stream);
        std::fflush(stream);
        return;
    }
    // ERROR_ACCESS_DENIED: attached already, by an earlier text. The console is
    // written in UTF-16, so that a path such as C:\Users\Zoë shows whole whatever
    // its code page.
    if (AttachConsole(ATTACH_PARENT_PROCESS) || GetLastError() == ERROR_ACCESS_DENIED) {
        const HANDLE console =
            CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (console != INVALID_HANDLE_VALUE) {
            const std::wstring wide = WidePath(text);
            DWORD written = 0;
            const BOOL shown = WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()),
                                             &written, nullptr);
            CloseHandle(console);
            if (shown) {
                return;
            }
        }
    }
    MessageBoxW(nullptr, WidePath(text).c_str(), WidePath(TfrmWSRXUtil::Title).c_str(),
                MB_OK | (error ? MB_ICONWARNING : MB_ICONINFORMATION));
}
#else
void Say(const std::string& text, bool error) {
    std::FILE* stream = error ? stderr : stdout;
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
}
#endif

// Qt's own options, which QApplication takes from the command line itself, with
// one or two dashes; those in the first list take a value.
constexpr std::string_view QtValueOptions[] = {
    "platform",    "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "display", "geometry",
    "style",       "stylesheet",         "name",          "title",   "qmljsdebugger"};
constexpr std::string_view QtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

template <std::size_t N> bool Contains(const std::string_view (&names)[N], std::string_view name) {
    for (const std::string_view candidate : names) {
        if (candidate == name) {
            return true;
        }
    }
    return false;
}

// What the command line asks for: an exit code when the program ends here, else
// the window with the trace file, if any.
struct CommandLine {
    std::optional<int> exitCode;
    std::optional<std::string> trace;
};

int UsageError(const std::string& error) {
    Say(std::string(ProgramName) + ": " + error + "\n" + UsageText(), true);
    return 2;
}

CommandLine Parse(const std::vector<std::string>& arguments) {
    CommandLine line;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h" || argument == "-?") {
            Say(UsageText(), false);
            line.exitCode = 0;
            return line;
        }
        if (argument == "--version" || argument == "-v") {
            Say(std::string(ProgramName) + " " + ONYX_VERSION + "\n", false);
            line.exitCode = 0;
            return line;
        }
        if (argument == "--trace" || argument.starts_with("--trace=")) {
            if (argument == "--trace" && i + 1 == arguments.size()) {
                line.exitCode = UsageError("--trace needs a file name");
                return line;
            }
            line.trace = argument == "--trace" ? arguments[++i] : argument.substr(8);
            if (line.trace->empty()) {
                line.exitCode = UsageError("--trace needs a file name");
                return line;
            }
            continue;
        }
        if (argument.size() > 1 && argument.front() == '-') {
            std::string_view name(argument);
            name.remove_prefix(name.starts_with("--") ? 2 : 1);
            const std::size_t equals = name.find('=');
            if (Contains(QtFlagOptions, name)) {
                continue;
            }
            if (Contains(QtValueOptions, name.substr(0, equals))) {
                if (equals == std::string_view::npos) {
                    ++i; // its value, which QApplication takes as well
                }
                continue;
            }
            line.exitCode = UsageError("unknown option " + argument);
            return line;
        }
        line.exitCode = UsageError("unexpected argument " + argument);
        return line;
    }
    if (line.trace) {
        if (const int error = link_trace::Start(*line.trace); error != 0) {
            line.exitCode = UsageError(link_trace::StartFailure(*line.trace, error));
        }
    }
    return line;
}

#ifndef _WIN32
// SIGTERM and SIGHUP end the program as closing its window would: the operation in
// progress ends first and its port is closed. The handler only writes a byte, which
// the window's thread reads.
int endSignalPipe[2] = {-1, -1};

extern "C" void OnEndSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(endSignalPipe[1], &byte, 1);
}

void EndOnSignals(TfrmWSRXUtil& window) {
    if (::pipe(endSignalPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(endSignalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte = 0;
        [[maybe_unused]] const auto read = ::read(endSignalPipe[0], &byte, 1);
        window.EndSession();
    });
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}
#else
// Windows ending the session (logging off, shutting down) ends the program as
// closing its window would. Windows may end the process once the question has been
// answered, so the operation in progress is waited for here, its port closed.
void EndOnSignals(TfrmWSRXUtil& window) {
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &window, [&window] {
        window.EndSession();
        QElapsedTimer waited;
        waited.start();
        constexpr qint64 LongestWaitMs = 20000;
        while (window.OperationInProgress() && waited.elapsed() < LongestWaitMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
    });
}
#endif

// The one line said when the window cannot be shown, and the exit code then.
constexpr int NoDisplayExitCode = 1;
std::string NoDisplayText(const std::string& reason) {
    return std::string(ProgramName) + ": cannot show the window: " + reason +
           "; onyx, the command-line tool, works without a display\n";
}

#if defined(__linux__)
// Whether the command line names a platform for Qt ("-platform offscreen").
bool NamesPlatform(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        std::string_view name(argument);
        name.remove_prefix(name.starts_with("--") ? 2 : name.starts_with("-") ? 1 : 0);
        if (name == "platform" || name.starts_with("platform=")) {
            return true;
        }
    }
    return false;
}
#endif

// Messages Qt gives while QApplication starts its window system, kept back so
// that a failure is told in one line instead of Qt's lines and its abort.
std::vector<std::pair<QtMsgType, std::string>> startupMessages;
QtMessageHandler qtHandler = nullptr;

void HoldStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        startupMessages.emplace_back(type, text.toStdString());
        (void)context;
        return;
    }
    // No platform plugin could be started: Qt would abort the program next.
    Say(NoDisplayText("no display could be opened (Qt could start no window system)"), true);
    std::_Exit(NoDisplayExitCode);
}

// Called before QApplication exists. Ends the program with one line when the
// window can have no display: on Linux, neither DISPLAY nor WAYLAND_DISPLAY set
// and no platform chosen (-platform, QT_QPA_PLATFORM). A display that is named but
// cannot be reached, or a platform plugin that fails, is caught while QApplication
// starts (HoldStartupMessage); EndDisplayCheck gives Qt's own messages back.
void BeginDisplayCheck(const std::vector<std::string>& arguments) {
#if defined(__linux__)
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    if (!NamesPlatform(arguments) && !set("QT_QPA_PLATFORM") && !set("DISPLAY") &&
        !set("WAYLAND_DISPLAY")) {
        Say(NoDisplayText("no display (DISPLAY and WAYLAND_DISPLAY are not set)"), true);
        std::exit(NoDisplayExitCode);
    }
#else
    (void)arguments;
#endif
    qtHandler = qInstallMessageHandler(HoldStartupMessage);
}

void EndDisplayCheck() {
    qInstallMessageHandler(qtHandler);
    const QMessageLogContext context;
    for (const auto& [type, text] : startupMessages) {
        if (qtHandler != nullptr) {
            qtHandler(type, context, QString::fromStdString(text));
        } else {
            Say(text + "\n", true);
        }
    }
    startupMessages.clear();
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments = Arguments(argc, argv);
    if (const CommandLine line = Parse(arguments); line.exitCode) {
        return *line.exitCode;
    }
    BeginDisplayCheck(arguments);
    QApplication application(argc, argv);
    EndDisplayCheck();
    QApplication::setApplicationName(TfrmWSRXUtil::Title);
    QApplication::setApplicationVersion(QStringLiteral(ONYX_VERSION));
    ApplyProgramFont();
    try {
        QtPresenter presenter;
        TfrmWSRXUtil mainWindow(presenter);
        frmWSRXUtil = &mainWindow;
        TfrmTimeCal timeCalibration(mainWindow, presenter);
        frmTimeCal = &timeCalibration;
        mainWindow.SetTimeCalibrationDialog(&timeCalibration);
        EndOnSignals(mainWindow);
        mainWindow.show();
        return QApplication::exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, TfrmWSRXUtil::Title, QString::fromLocal8Bit(error.what()));
        return 1;
    }
}
