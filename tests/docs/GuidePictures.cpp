// Makes the user guide's pictures: the windows and boxes on a simulated logger,
// offscreen, saved as PNG files into the folder given (docs/).
//
//     build/dev/tests/docs/onyx-guide-pictures docs

#include "SimulatedLogger.h"
#include "calibration/CalibrationLog.h"
#include "ui/Application.h"
#include "ui/Presenter.h"
#include "ui/frmTimeCalUI.h"
#include "ui/frmWSRXUtilUI.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <fstream>

namespace {

QString folder;

void Save(QWidget& widget, const QString& name) {
    QApplication::processEvents();
    const QString path = QDir(folder).filePath(name);
    if (!widget.grab().save(path)) {
        std::fprintf(stderr, "onyx-guide-pictures: cannot save %s\n", qPrintable(path));
        std::exit(1);
    }
    std::printf("%s\n", qPrintable(path));
}

// Boxes are drawn as the program's own presenter draws them and saved under the
// next name given; save dialogs answer with the next file; questions answer Yes.
class PicturePresenter : public Presenter {
public:
    QStringList boxNames;
    QStringList files;

    void ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                     Icon icon) override {
        std::printf("[%s] %s\n", qPrintable(caption), qPrintable(text));
        if (boxNames.isEmpty()) {
            return;
        }
        QMessageBox box(icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, caption,
                        text, QMessageBox::Ok, owner);
        box.show();
        Save(box, boxNames.takeFirst());
    }
    std::optional<QString> GetSaveFileName(QWidget*, const SaveRequest&) override {
        return files.isEmpty() ? std::nullopt : std::optional(files.takeFirst());
    }
    bool Ask(QWidget*, const QString& text, const QString& caption) override {
        std::printf("[%s] %s -> Yes\n", qPrintable(caption), qPrintable(text));
        return true;
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: onyx-guide-pictures FOLDER\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ApplyProgramFont();
    folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QTemporaryDir scratch;

    sim::LoggerConfig config;
    config.portName = "ONYXSIM1"; // the name the pictures show
    config.serialNumber = 5902140;
    config.selfTestMask = 64; // test 7 fails
    sim::SimulatedLogger logger(config);
    if (logger.Start() != 0) {
        std::fprintf(stderr, "onyx-guide-pictures: the simulated logger did not start\n");
        return 1;
    }

    PicturePresenter presenter;
    TfrmWSRXUtil window(presenter);
    // A finished calibration of another logger, and the log beside it.
    const std::filesystem::path logFolder = scratch.path().toStdString();
    std::ofstream(CalibrationLog::PathIn(logFolder))
        << "5902139,12/07/26 08:15:02,12/08/26 09:40:31,  21.500, 2 s/day\r\n";
    TfrmTimeCal calibration(window, presenter, logFolder);
    window.SetTimeCalibrationDialog(&calibration);
    window.show();
    auto* ports = window.findChild<QComboBox*>("CmbComPort");
    ports->setCurrentIndex(ports->findData(QString::fromStdString(logger.PortName())));
    Save(window, "guide-start.png");

    window.findChild<QPushButton*>("BtnFirmware")->click();
    Save(window, "guide-read-info.png");
    window.findChild<QPushButton*>("BtnTest")->click();
    Save(window, "guide-self-test.png");

    // The dump: a picture at block 200, then Escape stops it (the question answered Yes).
    QDir::setCurrent(scratch.path()); // the box names the file as chosen
    presenter.files << "ONYX_300_5902140.hex";
    presenter.boxNames << "guide-dump-stopped.png";
    auto* bar = window.findChild<QProgressBar*>("ProgressBar");
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (bar->value() >= 200) {
            watch.stop();
            Save(window, "guide-memory-dump.png");
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(&window, &escape);
        }
    });
    watch.start();
    window.findChild<QPushButton*>("BtnMemory")->click();

    // A silent logger: the time-out box.
    logger.InjectFault({sim::FaultKind::Silence, std::nullopt, sim::EveryRequest});
    presenter.boxNames << "guide-time-out.png";
    window.findChild<QPushButton*>("BtnFirmware")->click();
    logger.ClearFaults();
    window.findChild<QPushButton*>("BtnTest")->click();

    window.findChild<QPushButton*>("BtnReport")->click();
    for (QDialog* report : window.findChildren<QDialog*>("frmReport")) {
        report->findChild<QLineEdit*>("EdtName")->setText("Ann Field");
        report->findChild<QLineEdit*>("EdtCompany")->setText("Riverside Water");
        report->findChild<QLineEdit*>("EdtPhoneNo")->setText("555 0100 2030");
        report->findChild<QLineEdit*>("EdtEmail")->setText("ann@example.com");
        Save(*report, "guide-report.png");
        report->close();
    }

    // The calibration dialog: this logger started beside the completed one.
    QTimer::singleShot(0, [&] {
        presenter.boxNames.clear();
        calibration.findChild<QPushButton*>("butADD")->click();
        Save(calibration, "guide-calibration.png");
        presenter.boxNames << "guide-calibration-too-early.png";
        calibration.findChild<QPushButton*>("butStopTimeCal")->click();
        presenter.boxNames << "guide-verification.png";
        calibration.findChild<QPushButton*>("butTimeVerification")->click();
        calibration.close();
    });
    window.findChild<QPushButton*>("butExtTimeCal")->click();
    logger.Stop();
    return 0;
}
