// The Wellscribe Onyx Diagnostics Utility.
//
//   wellscribe-onyx [--trace FILE]   the main window; --trace appends every frame
//                                    sent to and received from the logger to FILE
//   wellscribe-onyx --version        prints the program's version

#include "communication/LinkTrace.h"
#include "ui/Application.h"
#include "ui/Presenter.h"
#include "ui/frmTimeCalUI.h"
#include "ui/frmWSRXUtilUI.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>
#include <QMessageBox>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <exception>

namespace {

constexpr const char* ProgramName = "wellscribe-onyx";

struct CommandLine {
    QCommandLineParser parser;
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption trace{QStringLiteral("trace"),
                             QStringLiteral("Append every frame sent to and received from the "
                                            "logger to <file>."),
                             QStringLiteral("file")};

    CommandLine() {
        parser.setApplicationDescription(
            QStringLiteral("Diagnoses a Wellscribe Onyx logger connected over a serial cable."));
        parser.addOption(trace);
    }
};

// --version is answered before the window system starts, so that it works on a
// machine without a display (an installation check, for example).
bool PrintVersionIfAsked(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    CommandLine commandLine;
    // Qt's own options, such as -reverse, are not read as compacted short options.
    commandLine.parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    commandLine.parser.parse(arguments);
    if (!commandLine.parser.isSet(commandLine.version)) {
        return false;
    }
    std::printf("%s %s\n", ProgramName, ONYX_VERSION);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (PrintVersionIfAsked(argc, argv)) {
        return 0;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(TfrmWSRXUtil::Title);
    QApplication::setApplicationVersion(QStringLiteral(ONYX_VERSION));
    CommandLine commandLine;
    commandLine.parser.process(application);
    if (commandLine.parser.isSet(commandLine.trace)) {
        const QString path = commandLine.parser.value(commandLine.trace);
        if (const int error = link_trace::Start(QFile::encodeName(path).toStdString());
            error != 0) {
            std::fprintf(stderr, "%s: cannot open the trace file %s: %s\n", ProgramName,
                         qPrintable(path), std::strerror(error));
            return 1;
        }
    }
    ApplyProgramFont();
    try {
        QtPresenter presenter;
        TfrmWSRXUtil mainWindow(presenter);
        frmWSRXUtil = &mainWindow;
        TfrmTimeCal timeCalibration(mainWindow, presenter);
        frmTimeCal = &timeCalibration;
        mainWindow.SetTimeCalibrationDialog(&timeCalibration);
        mainWindow.show();
        return QApplication::exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, TfrmWSRXUtil::Title, QString::fromLocal8Bit(error.what()));
        return 1;
    }
}
