// What the user is told when the logger goes away or talks nonsense and when a
// file cannot be written: the windows on the offscreen platform against the
// simulated logger.

#include "FaultSandbox.h"
#include "calibration/CalibrationLog.h"
#include "support/FakePcClock.h"
#include "support/WindowTestBase.h"
#include "ui/Application.h"
#include "ui/frmReport.h"
#include "ui/frmTimeCalUI.h"

#include <QLineEdit>
#include <QListWidget>
#include <atomic>
#include <unistd.h>

using std::chrono::milliseconds;
using namespace fault_sandbox;

namespace {

// The cases that mount a tmpfs need the superuser: they run only in the
// root-only pass (--root-only, CTest label "root"), all others only without it.
bool rootOnlyPass = false;
const QStringList RootOnlyCases = {"aFullDiskMidDumpIsAnErrorWithTheBlocksWritten",
                                   "aReportThatCannotBeWrittenNamesTheFileAndWhy:full disk"};

// The cases of this pass, for a command line that names none.
QStringList CasesOfThisPass(const QMetaObject& test) {
    if (rootOnlyPass) {
        return RootOnlyCases;
    }
    QStringList cases;
    for (int i = test.methodOffset(); i < test.methodCount(); ++i) {
        const QMetaMethod method = test.method(i);
        const QString name = QString::fromLatin1(method.name());
        if (method.methodType() == QMetaMethod::Slot && method.access() == QMetaMethod::Private &&
            !name.endsWith("_data") && name != "init" && name != "cleanup" &&
            !RootOnlyCases.contains(name)) {
            cases << name;
        }
    }
    return cases;
}

// The command line with --root-only taken out, and the cases of this pass added
// when it names none.
QStringList ArgumentsOfThisPass(QStringList arguments, const QMetaObject& test) {
    rootOnlyPass = arguments.removeAll("--root-only") > 0;
    if (arguments.size() == 1) {
        arguments += CasesOfThisPass(test);
    }
    return arguments;
}

} // namespace

class WindowFaultsTest : public WindowTestBase {
    Q_OBJECT

private:
    // The files of these cases, in a folder that can take a tiny file system of its own.
    std::unique_ptr<ScratchFolder> sandbox;
    FakePcClock clock;

    QString InFolder(const char* name) const {
        return QString::fromStdString((*sandbox / name).string());
    }

    // The one message shown, as an error with the warning icon.
    QString OnlyError() const {
        if (presenter->messages.size() != 1) {
            return QString("%1 messages: %2")
                .arg(presenter->messages.size())
                .arg(presenter->Texts().join(" | "));
        }
        const RecordingPresenter::Message& message = presenter->messages[0];
        if (message.caption != "Error" || message.icon != Presenter::Icon::Warning) {
            return "not an error box: " + message.text;
        }
        return message.text;
    }

    bool DumpIsMemory(const QString& path, qint64 size) const {
        const std::string bytes = ReadBytes(path.toStdString());
        const std::vector<std::uint8_t> memory = logger->Memory(0, static_cast<std::size_t>(size));
        return bytes.size() == memory.size() &&
               std::equal(memory.begin(), memory.end(), bytes.begin(),
                          [](auto m, char b) { return m == static_cast<std::uint8_t>(b); });
    }

    // A report dialog with a presented self-test behind it, its fields filled.
    TfrmReport* OpenReport() {
        Click("BtnTest");
        Click("BtnReport");
        const auto reports = window->findChildren<TfrmReport*>();
        if (reports.size() != 1) {
            return nullptr;
        }
        reports[0]->findChild<QLineEdit*>("EdtName")->setText("Ann");
        reports[0]->findChild<QLineEdit*>("EdtPhoneNo")->setText("555-123-45");
        return reports[0];
    }

    TfrmTimeCal* OpenCalibration() {
        auto* dialog = new TfrmTimeCal(*window, *presenter, sandbox->Path());
        window->SetTimeCalibrationDialog(dialog);
        clock.now = EncodeDateTime({2006, 11, 17, 14, 3, 22, 0});
        dialog->SetClock(clock);
        dialog->SetSleeper([](milliseconds) {});
        dialog->show();
        return dialog;
    }

private slots:
    void init() {
        sandbox = std::make_unique<ScratchFolder>();
        QVERIFY(!sandbox->Path().empty());
        StartWindow("WF");
    }

    void cleanup() {
        StopWindow();
        sandbox.reset();
    }

    void aPortVanishingMidDumpSaysTheDumpFailedAndKeepsTheBlocks() {
        Click("BtnFirmware");
        QVERIFY(presenter->messages.empty());
        const QString path = InFolder("pulled.hex");
        DumpInto(path, [this](int block) {
            if (block == 4) {
                logger->Vanish();
            }
        });
        QCOMPARE(OnlyError(), "Unable to save memory dump\nThe connection to " +
                                  QString::fromStdString(logger->PortName()).chopped(1) +
                                  " was lost after 4 of 1056 blocks: Input/output error. " + path +
                                  " holds the first 1024 bytes.");
        QVERIFY(DumpIsMemory(path, 1024));
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void aPortVanishingDuringTheSelfTestIsNoTestResult() {
        logger->InjectFault(FaultOn(sim::FaultKind::Vanish, 'z'));
        Click("BtnTest");
        QCOMPARE(OnlyError(), QString("The connection to %1 was lost: %2")
                                  .arg(QString::fromStdString(logger->PortName()).chopped(1),
                                       QString::fromLocal8Bit(std::strerror(EIO))));
        QVERIFY(!window->SelfTestPresented());
        QCOMPARE(window->SelfTestResult(), 255);
    }

    void aFullDiskMidDumpIsAnErrorWithTheBlocksWritten() {
        if (const std::string why = sandbox->MountTiny(64 * 1024); !why.empty()) {
            QSKIP(why.c_str());
        }
        const QString path = InFolder("full.hex");
        DumpInto(path);
        QCOMPARE(presenter->messages.size(), std::size_t{1});
        QCOMPARE(presenter->messages[0].text,
                 "Unable to save memory dump\nCannot write " + path +
                     ": No space left on device\nThe dump ended after 256 of 1056 blocks. " + path +
                     " holds the first 65536 bytes.");
        QCOMPARE(presenter->messages[0].icon, Presenter::Icon::Warning);
        QVERIFY(DumpIsMemory(path, 64 * 1024));
    }

    void aGarbledLoggerGivesOneClearMessagePerCommand() {
        logger->InjectFault(FaultOf(sim::FaultKind::Garbage, sim::EveryRequest));
        Click("BtnFirmware");
        const QString info = OnlyError();
        QVERIFY2(info.endsWith("Communication Error! Check Cable Connection"), qPrintable(info));
        QVERIFY(window->InfoResult() < 0);

        presenter->messages.clear();
        Click("BtnTest"); // ends with the information read's message
        QCOMPARE(OnlyError(), info);
        QVERIFY(!window->SelfTestPresented());

        presenter->messages.clear();
        const QString path = InFolder("garbled.hex");
        DumpInto(path);
        QCOMPARE(presenter->messages.size(), std::size_t{2});
        QCOMPARE(presenter->messages[0].text, info);
        const QString dump = presenter->messages[1].text;
        QVERIFY2(dump.startsWith("Communication Error\n-2") &&
                     dump.endsWith("\nThe dump ended after 0 of 1056 blocks. Nothing was saved."),
                 qPrintable(dump));
        QVERIFY(!QFileInfo::exists(path)); // created by the dump, holding nothing
    }

    void aReportThatCannotBeWrittenNamesTheFileAndWhy_data() {
        QTest::addColumn<bool>("full");
        if (rootOnlyPass) {
            QTest::newRow("full disk") << true;
        }
        QTest::newRow("read-only folder") << false;
    }

    void aReportThatCannotBeWrittenNamesTheFileAndWhy() {
        QFETCH(bool, full);
        const std::string old = "Name=Old\r\nreport";
        const QString path = InFolder("report.txt");
        if (full || geteuid() == 0) {
            if (const std::string why = sandbox->MountTiny(64 * 1024); !why.empty()) {
                QSKIP(why.c_str());
            }
        }
        WriteBytes(path.toStdString(), old);
        const std::string why = full ? sandbox->Fill() : sandbox->SealReadOnly();
        if (!why.empty()) {
            QSKIP(why.c_str());
        }
        TfrmReport* report = OpenReport();
        QVERIFY(report != nullptr);
        presenter->saveAnswers.push_back(path);
        QTest::mouseClick(report->findChild<QPushButton*>("BtnOkRep"), Qt::LeftButton);

        const int reason = full ? ENOSPC : geteuid() == 0 ? EROFS : EACCES;
        QCOMPARE(OnlyError(), QString("The report could not be saved as %1: %2")
                                  .arg(path, QString::fromLocal8Bit(std::strerror(reason))));
        QVERIFY(report->isVisible());
        QCOMPARE(ReadBytes(path.toStdString()), old);
    }

    void aReadOnlyCalibrationLogIsRefusedBeforeTheLoggerIsChanged() {
        if (geteuid() == 0) {
            if (const std::string why = sandbox->MountTiny(64 * 1024); !why.empty()) {
                QSKIP(why.c_str());
            }
        }
        const std::string old = "42,01/01/07 00:00:00\r\n";
        const std::filesystem::path log = CalibrationLog::PathIn(sandbox->Path());
        WriteBytes(log, old);
        if (const std::string why = sandbox->SealReadOnly(); !why.empty()) {
            QSKIP(why.c_str());
        }
        TfrmTimeCal* dialog = OpenCalibration();
        // Told as the dialog opens, with the cure, before any button is pressed.
        const QString readOnly =
            "LogTime.csv is read-only: " + QString::fromStdString(log.string()) + ".\n";
        const QString told = OnlyError();
        QVERIFY2(told.startsWith(readOnly), qPrintable(told));
        QVERIFY2(told.contains("\nStart Time Calibration and Stop Time Calibration are refused "
                               "until it can be replaced: "),
                 qPrintable(told));
        presenter->messages.clear();
        logger->ClearRequests();
        QTest::mouseClick(dialog->findChild<QPushButton*>("butADD"), Qt::LeftButton);
        // A log that cannot take the record is refused before the logger is changed.
        const QString shown = OnlyError();
        QVERIFY2(shown.startsWith(readOnly), qPrintable(shown));
        auto* list = dialog->findChild<QListWidget*>("chklstLogger");
        QCOMPARE(list->count(), 1);
        QCOMPARE(ReadBytes(log), old);
        QVERIFY(logger->Requests().empty());
    }

    void aBinaryCalibrationLogIsListedAndStillTakesAStart() {
        std::string bytes;
        for (int i = 1; i < 256; ++i) {
            bytes += static_cast<char>(i);
        }
        bytes += std::string(4, '\r') + std::string(70000, 'L');
        WriteBytes(CalibrationLog::PathIn(sandbox->Path()), bytes);
        TfrmTimeCal* dialog = OpenCalibration();
        auto* list = dialog->findChild<QListWidget*>("chklstLogger");
        // Bytes 1 to 9 end at the LF, 11 and 12 at the CR, 14 to 255 at the first
        // of four CRs; three empty lines; the long line, no record, stays unchecked.
        QCOMPARE(list->count(), 7);
        QCOMPARE(list->item(6)->text().size(), 70000);
        QCOMPARE(list->item(6)->checkState(), Qt::Unchecked);
        QVERIFY(presenter->messages.empty());

        QTest::mouseClick(dialog->findChild<QPushButton*>("butADD"), Qt::LeftButton);
        QVERIFY2(presenter->messages.empty(), qPrintable(presenter->Texts().join(" | ")));
        QCOMPARE(list->count(), 8);
        QCOMPARE(list->item(7)->text(), QString("1234567,11/17/06 14:03:22"));
    }
};

int main(int argc, char** argv) {
    fault_sandbox::EnterPrivateMounts(); // before Qt starts any thread
    return RunQtTests<WindowFaultsTest>(argc, argv, ArgumentsOfThisPass);
}

#include "WindowFaultsTest.moc"
