// The window and onyx on the same logger: both present the results of the one set
// of commands, so they show the same values, the same failure and the same report.

#include "commands/DeviceCommands.h"
#include "communication/Commands.h"
#include "support/QtTestMain.h"
#include "support/WindowTestBase.h"

#include <QDialog>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <cstdlib>

class FrontEndsTest : public WindowTestBase {
    Q_OBJECT

private:
    // onyx with these arguments on the window's logger; its standard output.
    QByteArray Onyx(const QString& arguments) const {
        const QString out = folder->filePath("onyx.out");
        const std::string command = std::string(ONYX_PROGRAM) + " " + arguments.toStdString() +
                                    " >" + out.toStdString() + " 2>/dev/null </dev/null";
        [[maybe_unused]] const int status = std::system(command.c_str());
        return FileBytes(out);
    }

private slots:
    void init() { StartWindow("F"); }
    void cleanup() { StopWindow(); }

    void theSameLoggerReadsTheSame_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<int>("mask");
        QTest::addColumn<char>("silentCommand"); // 0: none
        QTest::newRow("passes") << QByteArray("ONYX-300") << 0 << '\0';
        QTest::newRow("a model byte above ASCII") << QByteArray("ONYX-\xE9") << 0 << '\0';
        QTest::newRow("tests 2 and 8 failed") << QByteArray("ONYX-300") << 0x82 << '\0';
        QTest::newRow("silent at the readings") << QByteArray("ONYX-300") << 0 << 'a';
    }

    void theSameLoggerReadsTheSame() {
        QFETCH(QByteArray, model);
        QFETCH(int, mask);
        QFETCH(char, silentCommand);
        QByteArray modelBytes = model;
        modelBytes.resize(8, '\0');
        logger->SetMemory(ModelNumberAddress,
                          std::span(reinterpret_cast<const std::uint8_t*>(modelBytes.data()), 8));
        logger->SetSelfTest(static_cast<std::uint8_t>(mask), std::chrono::milliseconds(0));
        if (silentCommand != 0) {
            sim::Fault silence;
            silence.kind = sim::FaultKind::Silence;
            silence.letter = static_cast<std::uint8_t>(silentCommand);
            silence.count = sim::EveryRequest;
            logger->InjectFault(silence);
        }
        const QString port = QString::fromStdString(logger->PortName());

        Click("BtnTest");
        const QJsonObject onyx =
            QJsonDocument::fromJson(Onyx("--json selftest " + port)).array().first().toObject();
        // Every value the window shows, onyx gives (one byte a character in both).
        const QJsonObject values = onyx["values"].toObject();
        for (const auto& [label, key] : {std::pair{"LblSerialNo", "serialNumber"},
                                         {"LblModelNo", "modelNumber"},
                                         {"LblTemperature", "temperature"},
                                         {"lblElapsedTime", "elapsedTime"}}) {
            const QString shown = Text(label);
            const QString value = shown.mid(shown.indexOf(": ") + 2);
            QCOMPARE(values[key].toString(), shown.endsWith(':') ? QString() : value);
        }
        if (silentCommand != 0) {
            QCOMPARE(presenter->messages.size(), std::size_t{1});
            QCOMPARE(onyx["text"].toString(), presenter->messages[0].text);
            QCOMPARE(onyx["ok"].toBool(), false);
            return;
        }
        QCOMPARE(onyx["text"].toString(), Text("LblTest"));
        QCOMPARE(onyx["ok"].toBool(), mask == 0);

        // The report: the same bytes from the window's dialog and from onyx.
        Click("BtnReport");
        auto* report = window->findChild<QDialog*>("frmReport");
        QVERIFY(report != nullptr);
        report->findChild<QLineEdit*>("EdtName")->setText("Zo\u00eb");
        report->findChild<QLineEdit*>("EdtPhoneNo")->setText("0123456789");
        const QString windowFile = folder->filePath("window.txt");
        presenter->saveAnswers.push_back(windowFile);
        QTest::mouseClick(report->findChild<QPushButton*>("BtnOkRep"), Qt::LeftButton);
        const QString onyxFile = folder->filePath("onyx.txt");
        Onyx("report " + port + " --name " + QString::fromUtf8("Zo\xc3\xab") +
             " --phone 0123456789 -o " + onyxFile);
        // The dialog's twenty lines, also for a logger that failed a test.
        const QByteArray written = FileBytes(windowFile);
        QVERIFY(written.startsWith("Name=Zo\xC3\xAB\r\nCompany=\r\nPhoneNo=0123456789\r\n"
                                   "FaxNo=\r\nEmail=\r\nModel Number: ONYX-"));
        QCOMPARE(written.count('\n'), 19);
        QVERIFY(written.contains(mask & 0x02 ? "\r\nTest2 Failed\r\n" : "\r\nTest2 Passed\r\n"));
        QVERIFY(written.endsWith(mask & 0x80 ? "Test8 Failed" : "Test8 Passed"));
        QCOMPARE(FileBytes(onyxFile), written);
    }
};

QT_TEST_PROGRAM(FrontEndsTest)

#include "FrontEndsTest.moc"
