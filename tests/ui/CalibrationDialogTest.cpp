// The calibration dialog on the offscreen platform against the simulated logger,
// with a PC clock the test moves.

#include "communication/serial/SERIAL.h"
#include "support/FakePcClock.h"
#include "support/WindowTestBase.h"
#include "ui/Application.h"
#include "ui/ProgramFolders.h"
#include "ui/frmTimeCalUI.h"

#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QStandardPaths>
#include <QTimer>
#include <unistd.h>

using std::chrono::milliseconds;

namespace {

constexpr double Hour = 1.0 / 24;
constexpr double Second = 1.0 / 86400;

} // namespace

class CalibrationDialogTest : public WindowTestBase {
    Q_OBJECT

private:
    TfrmTimeCal* dialog = nullptr; // owned by the window
    FakePcClock clock;
    // 17 November 2006, 14:03:22
    const DateTimeValue startTime = EncodeDateTime({2006, 11, 17, 14, 3, 22, 0});

    QListWidget* List() const { return dialog->findChild<QListWidget*>("chklstLogger"); }
    QString LogPath() const { return folder->filePath("LogTime.csv"); }
    QByteArray LogBytes() const { return FileBytes(LogPath()); }
    void WriteLog(const QByteArray& bytes) {
        QFile file(LogPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    QStringList Lines() const {
        QStringList lines;
        for (int row = 0; row < List()->count(); ++row) {
            lines << List()->item(row)->text();
        }
        return lines;
    }
    QString Checks() const {
        QString checks;
        for (int row = 0; row < List()->count(); ++row) {
            checks += List()->item(row)->checkState() == Qt::Checked ? 'x' : '-';
        }
        return checks;
    }
    // Sets the logger's clock so that it reads `ahead` seconds past the fake PC clock.
    void LoggerAhead(double aheadSeconds) {
        SystemPcClock real;
        logger->SetClockOffset((clock.now - real.Now()) * 86400 + aheadSeconds);
    }

private slots:
    void init() {
        StartWindow("C");
        if (QTest::currentTestFailed()) {
            return;
        }
        dialog = new TfrmTimeCal(*window, *presenter, folder->path().toStdString());
        window->SetTimeCalibrationDialog(dialog);
        clock.now = startTime;
        dialog->SetClock(clock);
        dialog->SetSleeper([](milliseconds) {});
    }

    void cleanup() { StopWindow(); }

    void startsAsLaidOut() {
        QCOMPARE(dialog->windowTitle(), QString("Extended Time Calibration"));
        QCOMPARE(dialog->size(), QSize(547, 614));
        QVERIFY(!(dialog->windowFlags() & Qt::WindowCloseButtonHint));
        QCOMPARE(List()->geometry(), QRect(152, 24, 385, 577));
        QCOMPARE(dialog->findChild<QPushButton*>("butADD")->text(),
                 QString("Start Time Calibration"));
        QCOMPARE(dialog->findChild<QPushButton*>("butClose")->text(), QString("&Close"));
        QCOMPARE(dialog->findChild<QLabel*>("lblSystemTime")->text(), QString("System Time"));
        auto* timer = dialog->findChild<QTimer*>("tmrSystemTime");
        QVERIFY(timer != nullptr && timer->isActive());
        QCOMPARE(timer->interval(), 1000);
    }

    void theMainWindowShowsItModally() {
        QTimer::singleShot(0, dialog, [this] {
            QVERIFY(dialog->isVisible());
            QVERIFY(dialog->isModal());
            Click("butClose");
        });
        Click("butExtTimeCal");
        QVERIFY(!dialog->isVisible());
    }

    void showingLoadsTheLogWithItsStates() {
        WriteLog("1234567,11/17/06 14:03:22\r\n"  // started
                 "2222222,01/05/26 09:00:00,,,\n" // padded by a spreadsheet
                 "7654321,11/17/06 14:03:22,11/18/06 14:05:10,  23.456, 2 s/day\r" // completed
                 "1234567890123456789012345678\r");                                // neither
        dialog->show();
        QCOMPARE(Checks(), QString("--x-"));
        for (int row = 0; row < List()->count(); ++row) {
            QVERIFY(!(List()->item(row)->flags() & Qt::ItemIsUserCheckable));
            QVERIFY(List()->item(row)->flags() & Qt::ItemIsSelectable);
        }
        dialog->hide();
        // Shown again after the file went away: the lines of the last showing stay.
        QFile::remove(LogPath());
        dialog->show();
        QCOMPARE(List()->count(), 4);
    }

    void startThenStopAfterTwentyHours() {
        dialog->show();
        Click("butADD");
        QVERIFY(presenter->messages.empty());
        QCOMPARE(Lines(), QStringList{"1234567,11/17/06 14:03:22"});
        QCOMPARE(Checks(), QString("-"));
        QCOMPARE(LogBytes(), QByteArray("1234567,11/17/06 14:03:22\r\n"));
        QVERIFY(!logger->WriteAccessOpen());

        // A second start of the same logger is refused.
        Click("butADD");
        QCOMPARE(presenter->Texts(), QStringList{"Time Calibration Started for this Wellscribe"});
        QCOMPARE(presenter->messages[0].caption, QString("Error"));
        QVERIFY(!logger->WriteAccessOpen());

        // One minute short of 20 hours: too early.
        clock.now = startTime + 20 * Hour - 60 * Second;
        Click("butStopTimeCal");
        QCOMPARE(presenter->messages.back().text,
                 QString("Minimium Time for Time Calibration is 20 hours"));
        QCOMPARE(presenter->messages.back().icon, Presenter::Icon::Warning);
        QCOMPARE(Checks(), QString("-"));

        // Exactly 20 hours, the logger 10 seconds fast at 21.5 degrees: D = 139,
        // M(21.5) = 1.195, K = 137, R = 11 s/day.
        clock.now = startTime + 20 * Hour;
        LoggerAhead(10);
        presenter->messages.clear();
        Click("butStopTimeCal");
        QCOMPARE(presenter->Texts(),
                 QStringList{"Time Calibration for this Wellscribe is completed"});
        QCOMPARE(presenter->messages[0].caption, QString("Information"));
        QCOMPARE(presenter->messages[0].icon, Presenter::Icon::None);
        QCOMPARE(Lines(),
                 QStringList{"1234567,11/17/06 14:03:22,11/18/06 10:03:32,  21.500, 11 s/day"});
        QCOMPARE(Checks(), QString("x"));
        QCOMPARE(LogBytes(),
                 QByteArray("1234567,11/17/06 14:03:22,11/18/06 10:03:32,  21.500, 11 s/day\r\n"));
        const auto block = logger->ParameterBlock();
        QCOMPARE(int(std::int16_t(block[228] | block[229] << 8)), 137);
        QVERIFY(!logger->WriteAccessOpen());

        // The clock label follows the formats the stop left behind.
        dialog->tmrSystemTimeTimer();
        QCOMPARE(dialog->findChild<QLabel*>("lblSystemTime")->text(),
                 QString("System Time 11/18/06 10:03:22"));

        // Completed: another stop says so.
        presenter->messages.clear();
        Click("butStopTimeCal");
        QCOMPARE(presenter->Texts(),
                 QStringList{"Time Calibration for this Wellscribe is completed"});
        QCOMPARE(presenter->messages[0].caption, QString("Error"));
    }

    void aStopWithoutAStartIsRefused() {
        dialog->show();
        Click("butStopTimeCal");
        QCOMPARE(presenter->Texts(),
                 QStringList{"Time Calibration did not Start for this Wellscribe"});
        QVERIFY(!logger->WriteAccessOpen());
    }

    void verificationShowsTheOffset() {
        dialog->show();
        clock.now = startTime + 0.3 * Second; // read 0.3 s into a PC second
        LoggerAhead(120);
        Click("butTimeVerification");
        QCOMPARE(
            presenter->Texts(),
            QStringList{
                "The Wellscribe Time Offset is 119 second(s), as compared to the Time Reference"});
        QCOMPARE(presenter->messages[0].caption, QString("Time Verification Completed"));
        QVERIFY(LogBytes().isEmpty());
        dialog->tmrSystemTimeTimer();
        QCOMPARE(dialog->findChild<QLabel*>("lblSystemTime")->text(),
                 QString("System Time 17/11/2006 14:03:22"));
    }

    void linkFailuresGoThroughShowLinkError() {
        dialog->show();
        logger->InjectFault(FaultOf(sim::FaultKind::Silence, sim::EveryRequest));
        Click("butADD");
        QCOMPARE(presenter->Texts(), QStringList{"-200 Communication Time Out! Check COM Port"});
        logger->ClearFaults();

        CSerial holder;
        QCOMPARE(holder.Open(logger->PortName().c_str(), 2048, 2048), 0);
        Click("butTimeVerification");
        QCOMPARE(presenter->messages.back().text,
                 QString("%1 Internal Error\nCannot open %2: Device or resource busy\nAnother "
                         "program is using this port. Close it and try again.")
                     .arg(EBUSY)
                     .arg(QString::fromStdString(logger->PortName()).chopped(1)));
        QVERIFY(List()->count() == 0);
    }

    void removeCompletedRewritesOnlyAnExistingFile() {
        const QByteArray completed = "1,01/01/07 00:00:00,01/02/07 00:00:00,  20.000, 0 s/day\r\n";
        WriteLog(completed + completed + "1,01/01/07 00:00:00\r\n");
        dialog->show();
        QCOMPARE(Checks(), QString("xx-"));
        // Another program adds a line after the dialog read the log: it is kept.
        QFile file(LogPath());
        QVERIFY(file.open(QIODevice::Append));
        file.write("2,01/01/07 00:00:00\r\n");
        file.close();
        Click("butRmCompleted");
        QCOMPARE(Lines(), (QStringList{"1,01/01/07 00:00:00", "2,01/01/07 00:00:00"}));
        QCOMPARE(LogBytes(), QByteArray("1,01/01/07 00:00:00\r\n2,01/01/07 00:00:00\r\n"));
        QVERIFY(presenter->messages.empty());

        WriteLog(completed);
        dialog->hide();
        dialog->show();
        QFile::remove(LogPath());
        Click("butRmCompleted");
        QCOMPARE(List()->count(), 0);
        QVERIFY(!QFile::exists(LogPath()));
    }

    void aLogThatCannotBeReadIsReportedAndNeverChanged() {
        // A zero byte in line 2: the log is not taken for the line before it.
        const QByteArray bytes("1,01/01/07 00:00:00,01/02/07 00:00:00,  20.000, 0 s/day\r\n"
                               "7654321,11/01/06\0 10:00:00\r\n",
                               82);
        WriteLog(bytes);
        dialog->show();
        QCOMPARE(presenter->messages.size(), std::size_t{1});
        const QString shown = presenter->messages[0].text;
        QVERIFY2(shown.startsWith("Cannot read " + LogPath() +
                                  ": line 2 holds a zero byte.\n"
                                  "The file was left unchanged."),
                 qPrintable(shown));
        // Every change is refused with the same message, before the logger is asked.
        logger->ClearRequests();
        for (const char* button : {"butADD", "butStopTimeCal", "butRmCompleted"}) {
            presenter->messages.clear();
            Click(button);
            QCOMPARE(presenter->messages.size(), std::size_t{1});
            QVERIFY2(presenter->messages[0].text.startsWith(shown), button);
        }
        QVERIFY(logger->Requests().empty());
        QCOMPARE(LogBytes(), bytes);

        // Once the file reads, the start goes through.
        WriteLog("7654321,11/01/06 10:00:00\r\n");
        presenter->messages.clear();
        Click("butADD");
        QVERIFY2(presenter->messages.empty(), qPrintable(presenter->Texts().join(" | ")));
        QCOMPARE(Lines(), (QStringList{"7654321,11/01/06 10:00:00", "1234567,11/17/06 14:03:22"}));
    }

    // A log in a folder that takes no new file (an installed program's, another
    // account's) is told as the dialog opens: the file, why, and where the
    // program would keep a log of this user's own.
    void aLogThatCannotBeReplacedIsToldWhenTheDialogOpens() {
        if (geteuid() == 0) {
            QSKIP("the superuser writes into any folder");
        }
        WriteLog("7654321,11/01/06 10:00:00\r\n");
        QVERIFY(QFile::setPermissions(folder->path(), QFile::ReadOwner | QFile::ExeOwner));
        dialog->show();
        QFile::setPermissions(folder->path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(presenter->messages.size(), std::size_t{1});
        const QString told = presenter->messages[0].text;
        QVERIFY2(told.startsWith("Cannot save " + LogPath() +
                                 ": no new file can be made in its folder " + folder->path()),
                 qPrintable(told));
        const QString own =
            QString::fromStdString(CalibrationLog::PathIn(UserDataFolder()).string());
        QVERIFY2(told.endsWith("\nStart Time Calibration and Stop Time Calibration are refused "
                               "until it can be replaced: let your account change it, or have it "
                               "moved away; this program then keeps a log of your own at " +
                               own + "."),
                 qPrintable(told));
        QCOMPARE(Lines(), QStringList{"7654321,11/01/06 10:00:00"});

        // A log that can be replaced is listed without a word.
        presenter->messages.clear();
        dialog->hide();
        dialog->show();
        QVERIFY(presenter->messages.empty());
    }

    void theLogThatExistsIsUsedWhereverItIs() {
        QStandardPaths::setTestModeEnabled(true);
        const QString data = ApplicationDataFolder();
        QVERIFY(QDir().mkpath(data));
        const QString dataLog = QDir(data).filePath("LogTime.csv");
        QFile::remove(dataLog);
        const QString program = folder->path();
        const auto touch = [](const QString& path) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        };
        // No log yet: beside the program, whose folder is writable.
        QCOMPARE(CalibrationLogFolder(program), program);
        // Started while the program's folder was not writable: that log, from anywhere.
        touch(dataLog);
        QCOMPARE(CalibrationLogFolder(program), data);
        QVERIFY(UnusedCalibrationLog(program).isEmpty());
        // Both: the one beside the program, and the other one named.
        touch(LogPath());
        QCOMPARE(CalibrationLogFolder(program), program);
        QCOMPARE(UnusedCalibrationLog(program), QDir::toNativeSeparators(dataLog));
        QFile::remove(dataLog);
        QStandardPaths::setTestModeEnabled(false);
    }

    void escapeDoesNotCloseIt() {
        dialog->show();
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY(dialog->isVisible());
        Click("butClose");
        QVERIFY(!dialog->isVisible());
    }
};

QT_TEST_PROGRAM(CalibrationDialogTest)

#include "CalibrationDialogTest.moc"
