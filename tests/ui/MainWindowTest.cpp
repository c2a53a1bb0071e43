// The main window on the offscreen platform against the simulated logger.

#include "communication/LinkTrace.h"
#include "communication/serial/SERIAL.h"
#include "support/WindowTestBase.h"
#include "ui/Application.h"
#include "ui/frmReport.h"

#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTimer>
#include <QWindow>
#include <atomic>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using std::chrono::milliseconds;

class MainWindowTest : public WindowTestBase {
    Q_OBJECT

private:
    QString Letters() const { return QString::fromStdString(RequestLetters(*logger)); }

    // What an assistive technology is told a widget is.
    static QString Spoken(QObject* widget) {
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(widget);
        return spoken != nullptr ? spoken->text(QAccessible::Name) : QString("(none)");
    }

    // Which picture a row shows: 'v' passed, 'x' failed, '?' not done; '!' where
    // its name for assistive technology says otherwise ("Test 7 failed").
    QString Icons() const {
        const QImage passed = Child("imgCheck")->pixmap().toImage();
        const QImage failed = Child("imgCross")->pixmap().toImage();
        QString icons;
        for (int row = 1; row <= 8; ++row) {
            QLabel* label = Child(qPrintable(QString("Image%1").arg(row)));
            const QImage icon = label->pixmap().toImage();
            const char shown = icon == passed ? 'v' : icon == failed ? 'x' : '?';
            const QString state = shown == 'v' ? "passed" : shown == 'x' ? "failed" : "not run";
            icons += Spoken(label) == QString("Test %1 %2").arg(row).arg(state) ? shown : '!';
        }
        return icons;
    }
    QString AdviceShown() const {
        QString shown;
        for (int row = 1; row <= 8; ++row) {
            shown += Shown(qPrintable(QString("lblT%1Solution").arg(row))) ? '1' : '0';
        }
        return shown;
    }

    QList<TfrmReport*> Reports() const { return window->findChildren<TfrmReport*>(); }

    // Fills a report dialog's fields and presses Ok.
    void FillAndOk(TfrmReport* report, const QString& name, const QString& phone,
                   const QString& company = {}, const QString& fax = {},
                   const QString& email = {}) {
        report->findChild<QLineEdit*>("EdtName")->setText(name);
        report->findChild<QLineEdit*>("EdtCompany")->setText(company);
        report->findChild<QLineEdit*>("EdtPhoneNo")->setText(phone);
        report->findChild<QLineEdit*>("EdtFaxNo")->setText(fax);
        report->findChild<QLineEdit*>("EdtEmail")->setText(email);
        QTest::mouseClick(report->findChild<QPushButton*>("BtnOkRep"), Qt::LeftButton);
    }

private slots:
    void init() { StartWindow("W"); }
    void cleanup() { StopWindow(); }

    void startsAsLaidOut() {
        QCOMPARE(window->windowTitle(), QString("Corvane Wellscribe Onyx Diagnostics Utility"));
        QCOMPARE(window->size(), QSize(513, 638));
        QCOMPARE(window->minimumSize(), window->maximumSize());
        QCOMPARE(Text("LblModelNo"), QString("Click \"Read Wellscribe Info\""));
        for (const char* hidden :
             {"LblSerialNo", "LblFirmware", "LblBattery", "lblChargeLevel", "LblTemperature",
              "LblPressure", "lblMaxTemp", "lblMinTemp", "lblMaxPressure", "lblElapsedTime",
              "lblReadingSolution1", "lblReadingSolution2", "lblSolutionHeading", "imgCheck",
              "imgCross", "imgNotDone"}) {
            QVERIFY2(!Shown(hidden), hidden);
        }
        QCOMPARE(Text("LblTest"), QString("Click \"Run Self-Test\" "));
        QCOMPARE(Icons(), QString("????????"));
        QCOMPARE(AdviceShown(), QString("00000000"));
        QCOMPARE(window->SelfTestResult(), 255);
        QCOMPARE(window->InfoResult(), 0);
        QVERIFY(!window->SelfTestPresented());
        QCOMPARE(Child<QPushButton>("BtnTest")->text(), QString("Run Self-&Test"));
        QCOMPARE(Child<QProgressBar>("ProgressBar")->geometry(), QRect(0, 621, 513, 17));
        QCOMPARE(Child("LblComPort")->buddy(), Child<QComboBox>("CmbComPort"));
        // The port label and box inside the Settings frame, clear of its lines.
        const QRect inside = Child<QWidget>("GpbComPort")->contentsRect();
        QVERIFY(inside.contains(Child("LblComPort")->geometry()));
        QVERIFY(inside.contains(Child<QComboBox>("CmbComPort")->geometry()));
        // The self-test pictures let the panel show through.
        for (const char* picture : {"imgCheck", "imgCross", "imgNotDone"}) {
            QCOMPARE(Child(picture)->pixmap().toImage().pixelColor(0, 0).alpha(), 0);
        }

        // Keyboard order: the command buttons first, then the port, report, calibration.
        const QList<QWidget*> expected{
            Child<QPushButton>("BtnFirmware"), Child<QPushButton>("BtnTest"),
            Child<QPushButton>("BtnMemory"),   Child<QComboBox>("CmbComPort"),
            Child<QPushButton>("BtnReport"),   Child<QPushButton>("butExtTimeCal")};
        QList<QWidget*> order;
        for (QWidget* next = expected.front(); order.size() < expected.size();
             next = next->nextInFocusChain()) {
            if ((next->focusPolicy() & Qt::TabFocus) != 0 && !order.contains(next)) {
                order << next;
            }
        }
        QCOMPARE(order, expected);
    }

    // Every picture has words, every control a name, and the keyboard reaches
    // every control of the window and of the report dialog, whose Enter is Ok.
    void picturesAndControlsSpeakAndTheKeyboardReachesThem() {
        QCOMPARE(Spoken(Child("imgCheck")), QString("Passed"));
        QCOMPARE(Spoken(Child("imgCross")), QString("Failed"));
        QCOMPARE(Spoken(Child("imgNotDone")), QString("Not run"));
        // The port box speaks its port, and is labelled by "COM Port:".
        const auto labels = QAccessible::queryAccessibleInterface(Child<QComboBox>("CmbComPort"))
                                ->relations(QAccessible::Label);
        QVERIFY(std::any_of(labels.begin(), labels.end(), [](const auto& label) {
            return label.first->text(QAccessible::Name) == "COM Port:";
        }));

        TfrmReport report(window.get(), *presenter, "body");
        for (QWidget* form :
             {static_cast<QWidget*>(window.get()), static_cast<QWidget*>(&report)}) {
            for (QWidget* control : form->findChildren<QWidget*>()) {
                if (qobject_cast<QAbstractButton*>(control) == nullptr &&
                    qobject_cast<QComboBox*>(control) == nullptr &&
                    qobject_cast<QLineEdit*>(control) == nullptr) {
                    continue;
                }
                if (control->window() != form) {
                    continue; // a combo box's own inner parts
                }
                QVERIFY2(!Spoken(control).isEmpty(), qPrintable(control->objectName()));
                QVERIFY2(control->focusPolicy() & Qt::TabFocus, qPrintable(control->objectName()));
            }
        }
        QCOMPARE(Spoken(report.findChild<QLineEdit*>("EdtPhoneNo")), QString("*Phone Number:"));
        report.show();
        QVERIFY(QTest::qWaitForWindowExposed(&report));
        auto* name = report.findChild<QLineEdit*>("EdtName");
        name->setFocus();
        QTest::keyClick(name, Qt::Key_Return);
        QCOMPARE(presenter->Texts(), QStringList{"Please enter your name"});
    }

    void readInfoFillsTheLabels() {
        Click("BtnFirmware");
        QCOMPARE(window->InfoResult(), 0);
        QVERIFY(presenter->messages.empty());
        QCOMPARE(Text("LblSerialNo"), QString("Serial Number: 1234567"));
        QCOMPARE(Text("LblModelNo"), QString("Model Number: ONYX-300"));
        QCOMPARE(Text("lblChargeLevel"), QString("Charge Level:  95%"));
        QCOMPARE(Text("LblBattery"), QString("Battery Voltage:  3.62V"));
        QCOMPARE(Text("LblFirmware"), QString("Firmware version: 2.10"));
        QCOMPARE(Text("LblTemperature"), QString("Temperature: +  21.500 deg C"));
        QCOMPARE(Text("LblPressure"), QString("Level: +   1.234 m"));
        QCOMPARE(Text("lblMinTemp"), QString("Min Record Logger Temperature: -1.25"));
        QCOMPARE(Text("lblMaxTemp"), QString("Max Record Logger Temperature: 31.75"));
        QCOMPARE(Text("lblMaxPressure"), QString("Max Record Logger Pressure: 12.345"));
        QCOMPARE(Text("lblElapsedTime"), QString("Elapsed Time: 123456"));
        for (const char* shown :
             {"LblSerialNo", "LblFirmware", "LblBattery", "lblChargeLevel", "LblTemperature",
              "LblPressure", "lblReadingSolution1", "lblReadingSolution2", "lblMaxTemp",
              "lblMinTemp", "lblMaxPressure", "lblElapsedTime"}) {
            QVERIFY2(Shown(shown), shown);
        }
        QCOMPARE(Letters(), QString("cckac"));
    }

    void selfTestPresentations_data() {
        QTest::addColumn<int>("mask");
        QTest::addColumn<QString>("icons");
        QTest::addColumn<QString>("advice");
        QTest::addColumn<bool>("heading");
        QTest::addColumn<QString>("summary");
        QTest::newRow("all passed") << 0 << "vvvvvvvv"
                                    << "00000000" << false << "Passed all tests!";
        QTest::newRow("all failed") << 255 << "xxxxxxxx"
                                    << "11111111" << true << "Failed 8 tests.";
        QTest::newRow("program memory") << 2 << "vxvvvvvv"
                                        << "01000000" << true << "Failed 1 tests.";
        QTest::newRow("temperature") << 64 << "vvvvvvxv"
                                     << "00000010" << true << "Failed 1 tests.";
        QTest::newRow("tests 1 and 3") << 5 << "xvxvvvvv"
                                       << "10100000" << true << "Failed 2 tests.";
    }

    void selfTestPresentations() {
        QFETCH(int, mask);
        logger->SetSelfTest(static_cast<std::uint8_t>(mask), milliseconds(0));
        Click("BtnTest");
        QVERIFY(presenter->messages.empty());
        QCOMPARE(window->SelfTestResult(), mask);
        QVERIFY(window->SelfTestPresented());
        QTEST(Icons(), "icons");
        QTEST(AdviceShown(), "advice");
        QTEST(Shown("lblSolutionHeading"), "heading");
        QTEST(Text("LblTest"), "summary");
        QCOMPARE(Letters(), QString("cckacz"));
        if (mask == 64) {
            QCOMPARE(Text("lblT7Solution"), QString("Send Test Report to Corvane "));
        }
    }

    void aPassAfterAFailureClearsTheCross() {
        logger->SetSelfTest(2, milliseconds(0));
        Click("BtnTest");
        QCOMPARE(Icons(), QString("vxvvvvvv"));
        logger->SetSelfTest(0, milliseconds(0));
        Click("BtnTest");
        QCOMPARE(Icons(), QString("vvvvvvvv"));
        QCOMPARE(AdviceShown(), QString("00000000"));
        QVERIFY(!Shown("lblSolutionHeading"));
        QCOMPARE(Text("LblTest"), QString("Passed all tests!"));
    }

    void aSilentLoggerGivesExactlyOneMessage() {
        logger->InjectFault(FaultOf(sim::FaultKind::Silence, sim::EveryRequest));
        Click("BtnTest");
        QCOMPARE(presenter->Texts(), QStringList{"-200 Communication Time Out! Check COM Port"});
        QCOMPARE(presenter->messages[0].caption, QString("Error"));
        QCOMPARE(presenter->messages[0].icon, Presenter::Icon::Warning);
        QVERIFY(!presenter->messages[0].underHourglass);
        QVERIFY(!Letters().contains('z'));
        QCOMPARE(Icons(), QString("????????"));
        QCOMPARE(window->InfoResult(), -200);
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void aTraceThatCannotBeWrittenIsToldOnceAfterTheOperation() {
        QCOMPARE(link_trace::Start("/dev/full"), 0);
        Click("BtnFirmware");
        Click("BtnFirmware");
        link_trace::Stop();
        QCOMPARE(presenter->Texts(),
                 QStringList{"The link trace to /dev/full stopped: No space left on device"});
        QVERIFY(!presenter->messages[0].underHourglass);
        QCOMPARE(window->InfoResult(), 0);
    }

    void aHeldPortSaysWhoHoldsIt() {
        CSerial holder;
        QCOMPARE(holder.Open(logger->PortName().c_str(), 2048, 2048), 0);
        Click("BtnTest");
        const QString port = QString::fromStdString(logger->PortName()).chopped(1);
        QCOMPARE(presenter->Texts(),
                 QStringList{"Cannot open " + port +
                             ": Device or resource busy\nAnother program is using this port. "
                             "Close it and try again."});
        QCOMPARE(presenter->messages[0].caption, QString("Error"));
        QCOMPARE(presenter->messages[0].icon, Presenter::Icon::Warning);
        QVERIFY(window->InfoResult() > 0);
        QVERIFY(!Shown("LblSerialNo"));
        QVERIFY(logger->Requests().empty());
    }

    void aPortWithoutPermissionGivesTheCure() {
        if (geteuid() == 0) {
            QSKIP("the superuser opens any device whatever its permissions");
        }
        QCOMPARE(::chmod(logger->SlavePath().c_str(), 0), 0);
        Click("BtnFirmware");
        QCOMPARE(presenter->Texts(),
                 QStringList{"Cannot open " +
                             QString::fromStdString(logger->PortName()).chopped(1) +
                             ": Permission denied\nAdd your account to the dialout group (sudo "
                             "usermod -aG dialout $USER), then log in again."});
    }

    void aPortLostOnceOpenIsNotCalledUnopenable() {
        logger->InjectFault(FaultOf(sim::FaultKind::Vanish));
        Click("BtnFirmware");
        QCOMPARE(presenter->Texts(),
                 QStringList{"The connection to " +
                             QString::fromStdString(logger->PortName()).chopped(1) +
                             " was lost: Input/output error"});
        QVERIFY(window->InfoResult() > 0);
    }

    // Each command opens and closes the port: none may leave it unusable for the next,
    // which an ordinary user's account (unlike root) would show.
    void everyCommandReachesTheLoggerAfterTheLast() {
        logger->SetSelfTest(0, milliseconds(0));
        Click("BtnFirmware");
        Click("BtnTest");
        Click("BtnFirmware");
        QVERIFY2(presenter->messages.empty(), qPrintable(presenter->Texts().join(" | ")));
        QCOMPARE(Letters(), QString("cckac"
                                    "cckacz"
                                    "cckac"));
        QCOMPARE(Icons(), QString("vvvvvvvv"));
    }

    // The self-test shown belongs to the logger whose serial number was read with it.
    void anotherLoggerOrAFailedReadTakesTheSelfTestAway() {
        logger->SetSelfTest(2, milliseconds(0));
        Click("BtnTest");
        Click("BtnFirmware"); // the same logger again: the results stay
        QCOMPARE(Icons(), QString("vxvvvvvv"));

        const std::uint8_t otherSerial[] = {0x00, 0x00, 0x07};
        logger->SetMemory(0x040024, otherSerial);
        Click("BtnFirmware");
        QCOMPARE(Text("LblSerialNo"), QString("Serial Number: 7"));
        QCOMPARE(Icons(), QString("????????"));
        QCOMPARE(AdviceShown(), QString("00000000"));
        QVERIFY(!Shown("lblSolutionHeading"));
        QCOMPARE(Text("LblTest"), QString("Click \"Run Self-Test\" "));
        QCOMPARE(window->SelfTestResult(), 255);
        Click("BtnReport");
        QCOMPARE(presenter->Texts(),
                 QStringList{"Please read Wellscribe information and perform self-test first"});
        QVERIFY(Reports().isEmpty());

        // Tested again, then a read that cannot open the port.
        Click("BtnTest");
        QCOMPARE(Icons(), QString("vxvvvvvv"));
        CSerial holder;
        QCOMPARE(holder.Open(logger->PortName().c_str(), 2048, 2048), 0);
        Click("BtnFirmware");
        QCOMPARE(Icons(), QString("????????"));
        QVERIFY(!window->SelfTestPresented());
    }

    // The captions the boxes and dialogs really carry: nothing appended to them.
    void captionsAreTheirOwn() {
        // Qt appends an application display name to every caption that lacks it;
        // the window must not set one.
        QCoreApplication::setApplicationName("probe");
        { TfrmWSRXUtil other(*presenter); }
        QCOMPARE(QGuiApplication::applicationDisplayName(), QString("probe"));
        QCoreApplication::setApplicationName(TfrmWSRXUtil::Title);

        // The real boxes, whose picture is also named in words.
        QtPresenter real;
        QString shownTitle;
        QStringList pictures;
        QTimer::singleShot(0, this, [&shownTitle, &pictures] {
            QWidget* box = nullptr;
            QTRY_VERIFY((box = QApplication::activeModalWidget()) != nullptr);
            shownTitle = box->windowHandle() != nullptr ? box->windowHandle()->title() : QString();
            for (QLabel* label : box->findChildren<QLabel*>()) {
                if (!label->pixmap().isNull()) {
                    pictures << Spoken(label);
                }
            }
            box->close();
        });
        real.ShowMessage(window.get(), "Memory Dump Saved", "Success", Presenter::Icon::Warning);
        QCOMPARE(shownTitle, QString("Success"));
        QCOMPARE(pictures, QStringList{"Warning"});

        logger->SetSelfTest(0, milliseconds(0));
        Click("BtnTest");
        Click("BtnReport");
        QCOMPARE(Reports().front()->windowHandle()->title(), QString("Create Report"));
    }

    void aCompleteDumpIsTheLoggerMemory() {
        presenter->saveAnswers.push_back(folder->filePath("dump")); // no extension typed
        auto* bar = Child<QProgressBar>("ProgressBar");
        QSignalSpy steps(bar, &QProgressBar::valueChanged);
        Click("BtnMemory");
        QCOMPARE(presenter->saveRequests.size(), std::size_t{1});
        const Presenter::SaveRequest& request = presenter->saveRequests[0];
        QCOMPARE(request.initialName, QString("Model_Number__ONYX_300_Serial_Number__1234567"));
        QCOMPARE(request.title, QString("Save As"));
        QCOMPARE(request.defaultSuffix, QString("hex"));
        QVERIFY(!request.confirmOverwrite);
        QCOMPARE(presenter->Texts(), QStringList{"Memory Dump Saved"});
        QCOMPARE(presenter->messages[0].caption, QString("Success"));
        QCOMPARE(presenter->messages[0].icon, Presenter::Icon::None);

        QFile dump(folder->filePath("dump.hex"));
        QVERIFY(dump.open(QIODevice::ReadOnly));
        const QByteArray bytes = dump.readAll();
        QCOMPARE(bytes.size(), 270336);
        const std::vector<std::uint8_t> memory = logger->Memory(0, 270336);
        QVERIFY(std::equal(memory.begin(), memory.end(),
                           reinterpret_cast<const std::uint8_t*>(bytes.constData())));
        // The bar counted every block once, in order, and was emptied after the box.
        QCOMPARE(bar->maximum(), 1056);
        QCOMPARE(steps.size(), 1057);
        for (int block = 1; block <= 1056; ++block) {
            QCOMPARE(steps[block - 1].at(0).toInt(), block);
        }
        QCOMPARE(bar->value(), 0);
        QCOMPARE(bar->format(), QString("Block 1056 of 1056"));
        QVERIFY(!bar->isTextVisible());
    }

    // Esc or the close button during a dump asks first; Yes stops the dump after
    // the block in progress, No lets it run on.
    void aDumpCanBeStopped_data() {
        QTest::addColumn<bool>("escape");
        QTest::addColumn<bool>("yes");
        QTest::newRow("Esc, Yes") << true << true;
        QTest::newRow("close, Yes") << false << true;
        QTest::newRow("close, No") << false << false;
    }

    void aDumpCanBeStopped() {
        QFETCH(bool, escape);
        QFETCH(bool, yes);
        presenter->askAnswers.push_back(yes);
        // The dump waits after its 5th block until the user has answered.
        std::atomic<bool> reached{false};
        std::atomic<bool> answered{false};
        bool asked = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (reached && !asked) {
                asked = true;
                if (escape) {
                    QTest::keyClick(Child<QPushButton>("BtnMemory"), Qt::Key_Escape);
                } else {
                    window->close();
                }
            } else if (asked && !presenter->questions.empty()) {
                answered = true;
            }
        });
        poll.start(5);
        const QString path = folder->filePath("stopped.hex");
        DumpInto(path, [&](int block) {
            if (block == 5) {
                reached = true;
                for (int wait = 0; wait < 1000 && !answered; ++wait) {
                    std::this_thread::sleep_for(milliseconds(5));
                }
            }
        });
        poll.stop();

        QCOMPARE(presenter->questions.size(), std::size_t{1});
        QCOMPARE(presenter->questions[0].text,
                 QString("Stop the memory dump? The file keeps the blocks read so far."));
        QVERIFY(!presenter->questions[0].underHourglass);
        if (yes) {
            QCOMPARE(presenter->Texts(),
                     QStringList{"Memory dump stopped\nThe dump was stopped after 5 of 1056 "
                                 "blocks. " +
                                 path + " holds the first 1280 bytes."});
            QCOMPARE(QFileInfo(path).size(), qint64{1280});
            CSerial port;
            QCOMPARE(port.Open(logger->PortName().c_str(), 2048, 2048), 0);
        } else {
            QCOMPARE(presenter->Texts(), QStringList{"Memory Dump Saved"});
            QCOMPARE(QFileInfo(path).size(), qint64{270336});
        }
        // Closed with Yes: the window goes once the outcome has been shown.
        QCOMPARE(window->isVisible(), escape || !yes);
    }

    // Esc or the close box during the information read or the self-test asks
    // first; Yes ends the operation after its request in progress (the self-test's
    // long wait at once), with no error box, the port closed, and for the close
    // box the window closed; No lets it run on.
    void everyOperationCanBeStopped_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("escape");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("letters");
        QTest::addColumn<QString>("question");
        const QString info = "Stop reading the logger's information?";
        const QString test =
            "Stop waiting for the self-test? The logger finishes its tests on its own.";
        QTest::newRow("information, Esc, Yes") << "BtnFirmware" << true << true << "cck" << info;
        QTest::newRow("dump's read, close, Yes") << "BtnMemory" << false << true << "cck" << info;
        QTest::newRow("self-test, Esc, Yes") << "BtnTest" << true << true << "cckacz" << test;
        QTest::newRow("self-test, close, Yes") << "BtnTest" << false << true << "cckacz" << test;
        QTest::newRow("self-test, close, No") << "BtnTest" << false << false << "cckacz" << test;
    }

    void everyOperationCanBeStopped() {
        QFETCH(QString, button);
        QFETCH(bool, escape);
        QFETCH(bool, yes);
        QFETCH(QString, letters);
        QFETCH(QString, question);
        const bool selfTest = button == "BtnTest";
        // The information read hangs on a silent status request; the self-test
        // would take a minute, or a second when the user lets it run.
        if (!selfTest) {
            logger->InjectFault(FaultOn(sim::FaultKind::Silence, 'k', sim::EveryRequest));
        }
        logger->SetSelfTest(0x04, milliseconds(yes ? 60000 : 1000));
        presenter->askAnswers.push_back(yes);
        const char last = letters.back().toLatin1();
        bool asked = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (!asked && RequestLetters(*logger).find(last) != std::string::npos) {
                asked = true;
                if (escape) {
                    QTest::keyClick(window.get(), Qt::Key_Escape);
                } else {
                    window->close();
                }
            }
        });
        poll.start(5);
        QElapsedTimer took;
        took.start();
        Click(qPrintable(button));
        poll.stop();

        QVERIFY(took.elapsed() < 20000);
        QCOMPARE(Letters(), letters);
        QCOMPARE(presenter->questions.size(), std::size_t{1});
        QCOMPARE(presenter->questions[0].text, question);
        QVERIFY(!presenter->questions[0].underHourglass);
        QVERIFY(presenter->saveRequests.empty());
        if (yes) {
            QVERIFY2(presenter->messages.empty(), qPrintable(presenter->Texts().join(" | ")));
            QVERIFY(!window->SelfTestPresented());
            CSerial port;
            QCOMPARE(port.Open(logger->PortName().c_str(), 2048, 2048), 0);
        } else {
            QVERIFY(window->SelfTestPresented());
            QCOMPARE(window->SelfTestResult(), 0x04);
        }
        QCOMPARE(window->isVisible(), escape || !yes);
    }

    void thePortListIsReadEachTimeItOpens() {
        auto* ports = Child<QComboBox>("CmbComPort");
        const QString chosen = window->PortName();
        sim::SimulatedLogger later(UniqueLoggerConfig("W"));
        QCOMPARE(later.Start(), 0);
        const QString added = QString::fromStdString(later.PortName());
        QCOMPARE(ports->findData(added), -1);
        ports->showPopup();
        ports->hidePopup();
        QVERIFY(ports->findData(added) >= 0);
        QCOMPARE(window->PortName(), chosen);

        later.Stop();
        ports->showPopup();
        ports->hidePopup();
        QCOMPARE(ports->findData(added), -1);
        QCOMPARE(window->PortName(), chosen);

        // The chosen port gone: the first entry.
        logger->Stop();
        ports->showPopup();
        ports->hidePopup();
        QCOMPARE(ports->findData(chosen), -1);
        QCOMPARE(ports->currentIndex(), ports->count() > 0 ? 0 : -1);
    }

    // The list names the device beside the port; the commands get the name alone.
    void eachPortIsListedWithItsDescription() {
        auto* ports = Child<QComboBox>("CmbComPort");
        const QString name = QString::fromStdString(logger->PortName());
        QVERIFY(SelectPort(logger->PortName()));
        const QString text =
            name + "  virtual port to " + QString::fromStdString(logger->SlavePath());
        QCOMPARE(ports->currentText(), text);
        QCOMPARE(ports->toolTip(), text);
        QCOMPARE(window->PortName(), name);
        Click("BtnFirmware");
        QCOMPARE(window->InfoResult(), 0);
        QCOMPARE(QSettings("Corvane", "Wellscribe Onyx Diagnostics Utility").value("LastComPort"),
                 QVariant(name));
    }

    void theLastPortUsedWithSuccessIsChosenAtStart() {
        sim::SimulatedLogger other(UniqueLoggerConfig("W"));
        QCOMPARE(other.Start(), 0);
        window->RefreshPortList();
        // Whichever of the two the list does not open on.
        auto* ports = Child<QComboBox>("CmbComPort");
        const std::string used = ports->itemData(0) == QString::fromStdString(logger->PortName())
                                     ? other.PortName()
                                     : logger->PortName();
        QVERIFY(SelectPort(used));
        Click("BtnFirmware");
        QCOMPARE(window->InfoResult(), 0);

        TfrmWSRXUtil next(*presenter);
        QCOMPARE(next.PortName(), QString::fromStdString(used));
        QVERIFY2(QSettings("Corvane", "Wellscribe Onyx Diagnostics Utility")
                     .fileName()
                     .startsWith(QDir::tempPath()),
                 "tests keep their settings in a scratch folder");
    }

    void aPortWhoseCommandFailedIsNotKept() {
        Click("BtnFirmware");
        sim::SimulatedLogger silent(UniqueLoggerConfig("W"));
        QCOMPARE(silent.Start(), 0);
        silent.InjectFault(FaultOf(sim::FaultKind::Silence, sim::EveryRequest));
        window->RefreshPortList();
        QVERIFY(SelectPort(silent.PortName()));
        Click("BtnFirmware");
        QCOMPARE(window->InfoResult(), -200);
        QCOMPARE(QSettings("Corvane", "Wellscribe Onyx Diagnostics Utility").value("LastComPort"),
                 QVariant(QString::fromStdString(logger->PortName())));
    }

    void aDumpFailingOnTheFifthBlockKeepsFourBlocks() {
        // After the fourth block the logger falls silent.
        DumpInto(folder->filePath("partial.bin"), [this](int block) {
            if (block == 4) {
                logger->InjectFault(FaultOf(sim::FaultKind::Silence, sim::EveryRequest));
            }
        });
        QCOMPARE(presenter->Texts(),
                 QStringList{"Communication Error\n-200 Communication Time Out! Check COM Port\n"
                             "The dump ended after 4 of 1056 blocks. " +
                             folder->filePath("partial.bin") + " holds the first 1024 bytes."});
        QCOMPARE(presenter->messages[0].icon, Presenter::Icon::Warning);
        QCOMPARE(QFileInfo(folder->filePath("partial.bin")).size(), qint64{1024});
    }

    // The session ends (SIGTERM, SIGHUP, logging off) during a dump: no question, the
    // dump ends after its block with the blocks kept, and the window closes after it.
    void theSessionEndingDuringADumpEndsItThenTheWindow() {
        DumpInto(folder->filePath("ended.bin"), [this](int block) {
            if (block == 3) {
                QMetaObject::invokeMethod(window.get(), [this] { window->EndSession(); });
            }
        });
        QVERIFY(presenter->questions.empty());
        QVERIFY(presenter->messages.empty());
        const qint64 kept = QFileInfo(folder->filePath("ended.bin")).size();
        QVERIFY2(kept >= 3 * 256 && kept < 1056 * 256, qPrintable(QString::number(kept)));
        QTRY_VERIFY(window->isHidden());
        QVERIFY(!window->OperationInProgress());
    }

    void aCancelledSaveDialogDoesNothing() {
        Click("BtnMemory");
        QCOMPARE(presenter->saveRequests.size(), std::size_t{1});
        QVERIFY(presenter->messages.empty());
        QCOMPARE(Letters(), QString("cckac"));
        QVERIFY(QDir(folder->path()).isEmpty());
    }

    void theDumpNameAfterASilentRead() {
        logger->InjectFault(FaultOf(sim::FaultKind::Silence, sim::EveryRequest));
        Click("BtnMemory");
        // The information read's message first, then the save dialog all the same; the
        // read left every label its caption, so no earlier logger names the file.
        QCOMPARE(presenter->Texts(), QStringList{"-200 Communication Time Out! Check COM Port"});
        QCOMPARE(presenter->saveRequests.size(), std::size_t{1});
        QCOMPARE(presenter->saveRequests[0].initialName, QString("Model_Number__Serial_Number_"));
        QCOMPARE(Text("LblTemperature"), QString("Temperature:"));
    }

    // A read that fails part-way shows nothing of the logger read before it.
    void aReadThatFailsPartWayKeepsNoEarlierValue() {
        Click("BtnFirmware");
        QCOMPARE(Text("LblTemperature"), QString("Temperature: +  21.500 deg C"));
        presenter->messages.clear();
        logger->InjectFault(FaultOn(sim::FaultKind::Silence, 'k', sim::EveryRequest));
        Click("BtnFirmware");
        QCOMPARE(presenter->Texts(), QStringList{"-200 Communication Time Out! Check COM Port"});
        QCOMPARE(Text("LblSerialNo"), QString("Serial Number: 1234567"));
        for (const char* label :
             {"LblTemperature", "LblPressure", "lblMaxTemp", "lblElapsedTime"}) {
            QVERIFY2(Text(label).endsWith(':'), label);
        }
    }

    void theTickerEmptiesTheBarWhenStoppedEarly() {
        logger->SetSelfTest(0, milliseconds(2300));
        auto* bar = Child<QProgressBar>("ProgressBar");
        // Full from an earlier command: a step past the end starts the bar again.
        bar->setMaximum(15);
        bar->setValue(15);
        QSignalSpy steps(bar, &QProgressBar::valueChanged);
        Click("BtnTest");
        QCOMPARE(bar->maximum(), 15);
        QTRY_COMPARE(bar->value(), 0);
        QVERIFY(steps.size() >= 3);
        QCOMPARE(steps[0].at(0).toInt(), 0);
        QCOMPARE(steps[1].at(0).toInt(), 1);
        int highest = 0;
        for (const auto& step : steps) {
            highest = std::max(highest, step.at(0).toInt());
        }
        QVERIFY2(highest >= 1, "the bar moved while the self-test ran");
        QVERIFY(highest < 15);
    }

    void clicksDuringAnOperationRunAfterIt() {
        logger->SetSelfTest(0, milliseconds(600));
        QTimer::singleShot(200, this, [this] { Click("BtnTest"); });
        Click("BtnTest");
        // The first command has ended; the held click starts the second only now.
        QCOMPARE(Letters(), QString("cckacz"));
        QTRY_COMPARE_WITH_TIMEOUT(Letters(), QString("cckaczcckacz"), 10000);
        QVERIFY(presenter->messages.empty());
    }

    void aReportNeedsInformationAndAPresentedSelfTest() {
        Click("BtnReport");
        QCOMPARE(presenter->Texts(),
                 QStringList{"Please read Wellscribe information and perform self-test first"});
        QCOMPARE(presenter->messages[0].caption, QString("Error"));
        QCOMPARE(presenter->messages[0].icon, Presenter::Icon::Warning);

        // A self-test that failed on the link presents nothing: still refused.
        logger->InjectFault(FaultOn(sim::FaultKind::WrongAcknowledge, 'z'));
        Click("BtnTest");
        QCOMPARE(presenter->messages.size(), std::size_t{2}); // the self-test's own message
        Click("BtnReport");
        QCOMPARE(presenter->messages.size(), std::size_t{3});
        QCOMPARE(presenter->messages.back().text,
                 QString("Please read Wellscribe information and perform self-test first"));
        QVERIFY(Reports().isEmpty());
    }

    void eachReportKeepsTheBodyOfItsClick() {
        logger->SetSelfTest(0, milliseconds(0));
        Click("BtnTest");
        Click("BtnReport");
        logger->SetSelfTest(0x81, milliseconds(0));
        Click("BtnTest");
        Click("BtnReport");
        const QList<TfrmReport*> reports = Reports();
        QCOMPARE(reports.size(), 2);
        QVERIFY(!reports[0]->isModal());
        QVERIFY(reports[0]->isVisible() && reports[1]->isVisible());
        QVERIFY(QString::fromStdString(reports[0]->ReportBody())
                    .endsWith("Test7 Passed\nTest8 Passed"));
        QVERIFY(
            QString::fromStdString(reports[1]->ReportBody())
                .startsWith(
                    "Model Number: ONYX-300\nSerial Number: 1234567\nFirmware version: 2.10\n"));
        QVERIFY(QString::fromStdString(reports[1]->ReportBody())
                    .endsWith("Test7 Passed\nTest8 Failed"));

        // The first dialog writes its own body, whatever ran since.
        presenter->saveAnswers.push_back(folder->filePath("first"));
        FillAndOk(reports[0], " ", "          ", "Acme 100%", "", "a@b.c");
        QVERIFY(presenter->Texts().isEmpty());
        QVERIFY(!reports[0]->isVisible());
        const QByteArray bytes = FileBytes(folder->filePath("first.txt"));
        QCOMPARE(bytes,
                 QByteArray("Name= \r\nCompany=Acme 100%\r\nPhoneNo=          \r\nFaxNo=\r\n"
                            "Email=a@b.c\r\n") +
                     QByteArray::fromStdString(reports[0]->ReportBody()).replace("\n", "\r\n"));
        QVERIFY(bytes.endsWith("Test8 Passed"));
        QCOMPARE(presenter->saveRequests.back().title, QString("Save As"));
        QCOMPARE(presenter->saveRequests.back().defaultSuffix, QString("txt"));
        QVERIFY(presenter->saveRequests.back().confirmOverwrite);
    }

    void theReportDialogChecksItsFieldsAndKeepsThemOnFailure() {
        logger->SetSelfTest(0, milliseconds(0));
        Click("BtnTest");
        Click("BtnReport");
        TfrmReport* report = Reports().front();
        QCOMPARE(report->windowTitle(), QString("Create Report"));
        FillAndOk(report, "", "5551234567");
        FillAndOk(report, "Ann", "555-123-4");
        QCOMPARE(presenter->Texts(),
                 (QStringList{"Please enter your name",
                              "Please enter your phone number (at least 10 digits)"}));
        QVERIFY(presenter->saveRequests.empty());

        FillAndOk(report, "Ann", "555-123-45"); // the dialog is cancelled
        QCOMPARE(presenter->saveRequests.size(), std::size_t{1});
        QVERIFY(report->isVisible());

        presenter->saveAnswers.push_back(QString());
        FillAndOk(report, "Ann", "555-123-45");
        QCOMPARE(presenter->messages.back().text, QString("Please enter a file name"));

        const QString unwritable = folder->filePath("no-such-folder/report.txt");
        presenter->saveAnswers.push_back(unwritable);
        FillAndOk(report, "Ann", "555-123-45");
        QCOMPARE(presenter->messages.back().caption, QString("Error"));
        QVERIFY2(presenter->messages.back().text.contains(unwritable),
                 qPrintable(presenter->messages.back().text));
        QVERIFY(report->isVisible());
        QCOMPARE(report->findChild<QLineEdit*>("EdtName")->text(), QString("Ann"));
        QVERIFY(!QFile::exists(unwritable));

        presenter->saveAnswers.push_back(folder->filePath("ok.txt"));
        QTest::mouseClick(report->findChild<QPushButton*>("BtnOkRep"), Qt::LeftButton);
        QVERIFY(!report->isVisible());
        QVERIFY(FileBytes(folder->filePath("ok.txt")).startsWith("Name=Ann\r\n"));
    }

    // The save-as actions carry their captions and hints and run the save steps; no
    // control or key triggers them.
    void theSaveActionsRunTheSaveSteps() {
        auto* dumpSave = window->findChild<QAction*>("FileSave", Qt::FindDirectChildrenOnly);
        QVERIFY(dumpSave != nullptr);
        QCOMPARE(dumpSave->text(), QString("&Save"));
        QCOMPARE(dumpSave->toolTip(), QString("Save file"));
        QVERIFY(dumpSave->associatedObjects().isEmpty());
        dumpSave->trigger(); // the dump's save dialog at once, cancelled
        QCOMPARE(presenter->saveRequests.size(), std::size_t{1});
        QCOMPARE(presenter->saveRequests[0].defaultSuffix, QString("hex"));
        QVERIFY(logger->Requests().empty());

        logger->SetSelfTest(0, milliseconds(0));
        Click("BtnTest");
        Click("BtnReport");
        TfrmReport* report = Reports().front();
        auto* reportSave = report->findChild<QAction*>("FileSave");
        QVERIFY(reportSave != nullptr);
        QCOMPARE(reportSave->text(), QString("Save As"));
        QCOMPARE(reportSave->toolTip(), QString("Save As"));
        QVERIFY(reportSave->associatedObjects().isEmpty());
        presenter->saveAnswers.push_back(folder->filePath("saved"));
        reportSave->trigger();
        QVERIFY(FileBytes(folder->filePath("saved.txt")).startsWith("Name=\r\n"));
        QVERIFY(!report->isVisible());
    }

    void anExceptionInAHandlerIsShownAndTheProgramGoesOn() {
        presenter->onSaveDialog = [] { throw std::runtime_error("Disk on fire"); };
        Click("BtnMemory");
        QCOMPARE(presenter->Texts(), QStringList{"Disk on fire"});
        QCOMPARE(presenter->messages[0].caption, QString("Error"));
        presenter->onSaveDialog = nullptr;
        Click("BtnFirmware");
        QCOMPARE(window->InfoResult(), 0);
    }
};

QT_TEST_PROGRAM(MainWindowTest)

#include "MainWindowTest.moc"
