// The windows on Windows (under Wine in CI), with no logger: layout, the report file
// and the calibration log in a folder whose name the ANSI code page may not hold.

#include "operations/DumpFile.h"
#include "report/ReportText.h"
#include "support/QtTestMain.h"
#include "support/RecordingPresenter.h"
#include "ui/Application.h"
#include "ui/ProgramFolders.h"
#include "ui/frmReport.h"
#include "ui/frmTimeCalUI.h"
#include "ui/frmWSRXUtilUI.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <windows.h>

class WindowsWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> root;
    QString folder; // "...\Müller Ü\Logger"

    static QByteArray Bytes(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init() {
        root = std::make_unique<QTemporaryDir>();
        folder = root->filePath(QString::fromUtf8("M\u00fcller \u00dc/Logger"));
        QVERIFY(QDir().mkpath(folder));
    }

    void theMainWindowAsLaidOut() {
        RecordingPresenter presenter;
        TfrmWSRXUtil window(presenter);
        QCOMPARE(window.windowTitle(), QString("Corvane Wellscribe Onyx Diagnostics Utility"));
        QCOMPARE(window.size(), QSize(513, 638));
        QCOMPARE(window.findChild<QPushButton*>("BtnTest")->text(), QString("Run Self-&Test"));
        QWidget* next = window.findChild<QPushButton*>("BtnFirmware");
        QStringList order;
        while (order.size() < 6) {
            if ((next->focusPolicy() & Qt::TabFocus) != 0) {
                order << next->objectName();
            }
            next = next->nextInFocusChain();
        }
        QCOMPARE(order, (QStringList{"BtnFirmware", "BtnTest", "BtnMemory", "CmbComPort",
                                     "BtnReport", "butExtTimeCal"}));
    }

    // Text in the ANSI code page, '?' for what it cannot hold; created new, beside the
    // target, in a folder the code page need not be able to name.
    void theReportFileIsInTheAnsiCodePage() {
        if (GetACP() != 1252) {
            QSKIP("written for the Western European code page");
        }
        const QString target = folder + "/r\u00e9port \u0141\u00f3d\u017a.txt";
        const std::string text = "Name=J\u00fcrgen \u0141ukasz\nTest8 Passed";
        QCOMPARE(WriteReportFile(FileNameBytes(target), text), 0);
        QCOMPARE(Bytes(target), QByteArray("Name=J\xfcrgen ?ukasz\nTest8 Passed"));
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1); // no temporary left
    }

    // A field with characters the code page cannot hold: the dialog names them and
    // asks first; No leaves the dialog as it was, Yes saves with '?' in their place.
    void theReportDialogAsksBeforeLosingCharacters() {
        if (GetACP() != 1252) {
            QSKIP("written for the Western European code page");
        }
        for (const bool saveAnyway : {false, true}) {
            RecordingPresenter presenter;
            presenter.askAnswers = {saveAnyway};
            const QString target = folder + QString("/report-%1.txt").arg(saveAnyway);
            presenter.saveAnswers = {target};
            TfrmReport report(nullptr, presenter, "Test8 Passed");
            report.findChild<QLineEdit*>("EdtName")->setText(
                QString::fromUtf8("Zo\u00eb \u03c9mega \u674e"));
            report.FileSaveExecute();
            QCOMPARE(presenter.questions.size(), std::size_t{1});
            QCOMPARE(presenter.questions[0].text,
                     QString::fromUtf8("These characters cannot be saved in this PC's character "
                                       "set and would appear as '?': \u03c9 \u674e. Save anyway?"));
            QCOMPARE(presenter.saveRequests.size(), std::size_t{saveAnyway ? 1u : 0u});
            QCOMPARE(QFile::exists(target), saveAnyway);
            if (saveAnyway) {
                QVERIFY(Bytes(target).startsWith("Name=Zo\xeb ?mega ?\r\n"));
            }
        }
    }

    // Files left under the names of this program's new files are stepped over.
    void aReportIsNeverWrittenIntoAFileLeftUnderATemporaryName() {
        const QString target = folder + "/report.txt";
        QStringList left;
        for (int n = 0; n < 20; ++n) {
            left << target + ".new-" + QString::number(GetCurrentProcessId()) + "-" +
                        QString::number(n);
            QFile stale(left.back());
            QVERIFY(stale.open(QIODevice::WriteOnly));
            stale.write("someone else's");
        }
        QCOMPARE(WriteReportFile(FileNameBytes(target), "Name=Ann"), 0);
        for (const QString& name : left) {
            QCOMPARE(Bytes(name), QByteArray("someone else's"));
        }
        QCOMPARE(Bytes(target), QByteArray("Name=Ann"));
    }

    void aDumpFileOpensInTheFolder() {
        const QString name = folder + "/Model_\u00d8.hex";
        DumpFile dump;
        QCOMPARE(dump.Open(FileNameBytes(name)), 0);
        const std::uint8_t bytes[] = {1, 2, 3};
        QCOMPARE(dump.Write(bytes), 0);
        dump.Close();
        QCOMPARE(Bytes(name), QByteArray("\x01\x02\x03"));
    }

    // The calibration dialog loads, shows and tidies the log kept in that folder.
    void theCalibrationLogInTheFolder() {
        QFile log(folder + "/LogTime.csv");
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write("1234567,11/17/06 14:03:22\r\n"
                  "7654321,11/17/06 14:03:22,11/18/06 14:05:10,  23.456, 2 s/day\r\n");
        log.close();
        RecordingPresenter presenter;
        TfrmWSRXUtil window(presenter);
        auto* dialog = new TfrmTimeCal(window, presenter, FilePath(folder));
        dialog->show();
        auto* list = dialog->findChild<QListWidget*>("chklstLogger");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(1)->checkState(), Qt::Checked);
        QTest::mouseClick(dialog->findChild<QPushButton*>("butRmCompleted"), Qt::LeftButton);
        QVERIFY2(presenter.messages.empty(), qPrintable(presenter.Texts().join('\n')));
        QCOMPARE(Bytes(folder + "/LogTime.csv"), QByteArray("1234567,11/17/06 14:03:22\r\n"));
    }

    void aWritableProgramFolderKeepsTheLogAndTheDialogs() {
        QCOMPARE(CalibrationLogFolder(folder), folder);
        QCOMPARE(DumpDialogFolder(folder), folder);
        QVERIFY(ReportDialogFolder(folder).isEmpty());
        // A folder nobody can create files in, such as one that does not exist.
        const QString missing = folder + "/missing";
        QVERIFY(CalibrationLogFolder(missing) != missing);
        QVERIFY(FolderIsWritable(CalibrationLogFolder(missing)));
        QCOMPARE(DumpDialogFolder(missing),
                 QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    }
};

QT_TEST_PROGRAM(WindowsWindowTest)

#include "WindowsWindowTest.moc"
