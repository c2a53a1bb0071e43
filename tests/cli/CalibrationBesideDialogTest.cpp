// onyx calibration and the calibration dialog on one LogTime.csv at once.

#include "support/QtTestMain.h"
#include "support/WindowTestBase.h"
#include "ui/Application.h"
#include "ui/frmTimeCalUI.h"

#include <QApplication>
#include <QFile>
#include <cstdlib>
#include <sys/wait.h>

class CalibrationBesideDialogTest : public WindowTestBase {
    Q_OBJECT

private:
    TfrmTimeCal* dialog = nullptr; // owned by the window

    QByteArray LogBytes() const {
        QFile file(folder->filePath("LogTime.csv"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void init() {
        StartWindow("D");
        if (QTest::currentTestFailed()) {
            return;
        }
        dialog = new TfrmTimeCal(*window, *presenter, folder->path().toStdString());
        window->SetTimeCalibrationDialog(dialog);
        dialog->SetSleeper([](std::chrono::milliseconds) {});
    }

    void cleanup() { StopWindow(); }

    // The dialog is open on the log while onyx starts another logger on it; then
    // the dialog starts its own. Both records must stay.
    void aStartFromTheCommandLineWhileTheDialogHoldsTheLog() {
        auto config = UniqueLoggerConfig("D");
        config.serialNumber = 7654321;
        sim::SimulatedLogger bench(config);
        QCOMPARE(bench.Start(), 0);
        dialog->show();

        const std::string command = std::string(ONYX_PROGRAM) + " calibration start --log " +
                                    folder->filePath("LogTime.csv").toStdString() + " " +
                                    bench.PortName() + " >/dev/null";
        const int status = std::system(command.c_str());
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        QVERIFY(LogBytes().startsWith("7654321,"));

        QTest::mouseClick(dialog->findChild<QPushButton*>("butADD"), Qt::LeftButton);
        QVERIFY(presenter->messages.empty());
        const QList<QByteArray> lines = LogBytes().split('\n');
        // The dialog's change is made on the log as it is now, under its lock.
        QCOMPARE(lines.size(), 3); // two lines and the empty rest after the last line end
        QVERIFY(lines[0].startsWith("7654321,"));
        QVERIFY(lines[1].startsWith("1234567,"));
    }
};

QT_TEST_PROGRAM(CalibrationBesideDialogTest)

#include "CalibrationBesideDialogTest.moc"
