#include "ui/frmWSRXUtilUI.h"

#include "commands/MainWindowText.h"
#include "communication/LinkTrace.h"
#include "communication/ResultCodes.h"
#include "communication/serial/PortList.h"
#include "operations/ProcessThread.h"
#include "operations/TimerThread.h"
#include "report/ReportText.h"
#include "ui/Application.h"
#include "ui/InputHold.h"
#include "ui/Presenter.h"
#include "ui/ProgramFolders.h"
#include "ui/TestIcons.h"
#include "ui/frmReport.h"
#include "ui_frmWSRXUtilUI.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QPixmap>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

TfrmWSRXUtil* frmWSRXUtil = nullptr;

namespace {

// The ticker paces of the long commands.
constexpr int SelfTestBarMaximum = 15;
constexpr int SelfTestTickMs = 1000;

// The port last used with success, per user.
constexpr const char* SettingsOrganization = "Corvane";
constexpr const char* SettingsApplication = "Wellscribe Onyx Diagnostics Utility";
constexpr const char* LastPortKey = "LastComPort";

// The stop question of each operation, and its caption (the command's name).
struct StopQuestion {
    const char* text;
    const char* caption;
};
StopQuestion StopQuestionFor(std::int32_t mode) {
    switch (mode) {
    case OpSelfTest:
        return {"Stop waiting for the self-test? The logger finishes its tests on its own.",
                "Run Self-Test"};
    case OpMemoryDump:
        return {"Stop the memory dump? The file keeps the blocks read so far.", "Read Memory Dump"};
    default:
        return {"Stop reading the logger's information?", "Read Wellscribe Info"};
    }
}

// What a self-test row's picture shows, in words: "Test 7 failed".
QString RowPictureName(std::size_t row, const char* state) {
    return QString("Test %1 %2").arg(row + 1).arg(QString::fromLatin1(state));
}

#ifdef _WIN32
// The icon compiled into the .exe (IDI_ICON1), at the sizes Windows draws it.
QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 20, 24, 32, 40, 48, 64, 256}) {
        const auto handle = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), L"IDI_ICON1", IMAGE_ICON, size, size, 0));
        if (handle != nullptr) {
            icon.addPixmap(QPixmap::fromImage(QImage::fromHICON(handle)));
            DestroyIcon(handle);
        }
    }
    return icon;
}
#else
// On Linux the desktop entry gives the program its icon.
QIcon ProgramIcon() {
    return {};
}
#endif

} // namespace

TfrmWSRXUtil::TfrmWSRXUtil(Presenter& messagePresenter, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TfrmWSRXUtil>()), presenter(messagePresenter) {
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(513, 638);
    // The title only: an application display name would be appended to the caption of
    // every box and dialog.
    setWindowTitle(Title);
    // The program's icon in the title bar and the taskbar, and in every box and dialog.
    if (const QIcon icon = ProgramIcon(); !icon.isNull()) {
        QApplication::setWindowIcon(icon);
        setWindowIcon(icon);
    }

    FillPortList(
        QSettings(SettingsOrganization, SettingsApplication).value(LastPortKey).toString());
    ui->CmbComPort->SetBeforeOpen([this] { RefreshPortList(); });

    ui->imgCheck->setPixmap(PassedPicture());
    ui->imgCross->setPixmap(FailedPicture());
    ui->imgNotDone->setPixmap(NotDonePicture());
    // Every picture says in words what it shows, for screen readers.
    ui->imgCheck->setAccessibleName("Passed");
    ui->imgCross->setAccessibleName("Failed");
    ui->imgNotDone->setAccessibleName("Not run");
    ClearSelfTestResult();
    ui->GpbFirmware->setVisible(true);
    ui->GpbTest->setVisible(true);

    const auto handle = [this](void (TfrmWSRXUtil::*handler)()) {
        return [this, handler] {
            operationStop = false;
            RunHandler(this, presenter, [this, handler] { (this->*handler)(); });
            if (closeAfterCommand) {
                closeAfterCommand = false;
                close();
            }
        };
    };
    connect(ui->BtnFirmware, &QPushButton::clicked, this,
            handle(&TfrmWSRXUtil::OnBtnFirmwareClick));
    connect(ui->BtnTest, &QPushButton::clicked, this, handle(&TfrmWSRXUtil::OnBtnTestClick));
    connect(ui->BtnMemory, &QPushButton::clicked, this, handle(&TfrmWSRXUtil::OnBtnMemoryClick));
    connect(ui->BtnReport, &QPushButton::clicked, this, handle(&TfrmWSRXUtil::BtnReportClick));
    connect(ui->butExtTimeCal, &QPushButton::clicked, this,
            handle(&TfrmWSRXUtil::butExtTimeCalClick));
    // The dump's save-as; no control or key triggers it, Read Memory Dump calls its handler.
    connect(ui->FileSave, &QAction::triggered, this, handle(&TfrmWSRXUtil::FileSaveExecute));

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

TfrmWSRXUtil::~TfrmWSRXUtil() = default;

QString TfrmWSRXUtil::PortName() const {
    return ui->CmbComPort->PortName();
}

void TfrmWSRXUtil::RefreshPortList() {
    FillPortList(PortName());
}

void TfrmWSRXUtil::FillPortList(const QString& preferred) {
    ui->CmbComPort->SetPorts(EnumeratePorts(), preferred);
}

void TfrmWSRXUtil::EndSession() {
    endingSession = true;
    // The calibration dialog's sequences run to their end before this is called.
    if (timeCalibration != nullptr && timeCalibration->isVisible()) {
        timeCalibration->reject();
        closeAfterCommand = true;
    }
    if (operationRunning) {
        operationStop = true; // the operation ends after the request in progress
        closeAfterCommand = true;
        return;
    }
    QTimer::singleShot(0, this, [this] { close(); });
}

void TfrmWSRXUtil::closeEvent(QCloseEvent* event) {
    if (!operationRunning) {
        QWidget::closeEvent(event);
        if (endingSession) {
            // Report dialogs left open do not keep the program alive.
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return;
    }
    // The operation cannot be left running behind a closed window: stopped, it
    // ends after its request in progress, and the window closes then.
    event->ignore();
    if (AskStop()) {
        closeAfterCommand = true;
    }
}

bool TfrmWSRXUtil::AskStop() {
    if (askingStop || !operationRunning || operationStop) {
        return false;
    }
    askingStop = true;
    const StopQuestion question = StopQuestionFor(runningMode);
    QApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
    const bool stop = presenter.Ask(this, question.text, question.caption);
    QApplication::restoreOverrideCursor();
    askingStop = false;
    // The operation may have ended while the question was up: nothing to stop then.
    if (stop && operationRunning) {
        operationStop = true;
    }
    return stop;
}

void TfrmWSRXUtil::ShowDumpProgress(std::uint32_t blocks) {
    ui->ProgressBar->setValue(static_cast<int>(blocks));
    ui->ProgressBar->setFormat(QString::fromStdString(DumpProgressText(blocks)));
}

void TfrmWSRXUtil::ShowLinkError(QWidget* owner, const LinkOutcome& outcome, bool numbered,
                                 const std::string& more) {
    std::string text = OutcomeText(outcome, PortBytes(), numbered);
    if (!more.empty()) {
        text += "\n" + more;
    }
    presenter.ShowError(owner, QString::fromLocal8Bit(text));
}

void TfrmWSRXUtil::RememberPort() {
    QSettings(SettingsOrganization, SettingsApplication).setValue(LastPortKey, PortName());
}

OperationRunner TfrmWSRXUtil::Runner() {
    return [this](const std::string& port, std::int32_t mode, const std::string& fileName,
                  OperationEnvironment environment) {
        return RunWorker(port, mode, fileName, std::move(environment));
    };
}

std::string TfrmWSRXUtil::PortBytes() const {
    return PortName().toLocal8Bit().toStdString();
}

WorkerResult TfrmWSRXUtil::RunWorker(const std::string& port, std::int32_t mode,
                                     const std::string& fileName,
                                     OperationEnvironment environment) {
    // The wait: a local loop that leaves user input queued (it runs after the
    // operation) but carries out the worker's label changes and the ticker's steps,
    // which arrive through the mailbox. The worker's last act posts the loop's end
    // behind its label changes, so they are all in place when the loop returns.
    QEventLoop wait;
    environment.sleeper = operationSleeper;
    environment.finished = [this, &wait] { mailbox.Post([&wait] { wait.quit(); }); };
    // Escape asks whether to stop the operation; all other input waits.
    InputHold hold([this](QObject*, QEvent* event) {
        const bool escape =
            (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
        if (!escape) {
            return false;
        }
        if (event->type() == QEvent::KeyPress) {
            // Asked from the loop, not from inside the event filter; from a timer, so
            // that the question's own loop still carries the mailbox's posted calls.
            QTimer::singleShot(1, this, [this] { AskStop(); });
        }
        return true;
    });
    environment.hooks.stop = &operationStop;
    operationRunning = true;
    runningMode = mode;
    ProcessThread running(port, fileName, mode, environment);
    worker = &running;
    wait.exec();
    const WorkerResult result = running.Wait();
    worker = nullptr;
    operationRunning = false;
    // A trace that stopped during the operation is told once, before its outcome.
    if (const std::string stopped = link_trace::TakeStoppedMessage();
        !stopped.empty() && !closeAfterCommand) {
        QApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
        presenter.ShowError(this, FileNameText(stopped));
        QApplication::restoreOverrideCursor();
    }
    return result;
}

void TfrmWSRXUtil::OnBtnFirmwareClick() {
    const InformationResult read = ReadInformation(PortBytes(), Runner(), this);
    lastInformation = read.labels;
    // Run Self-Test and Read Memory Dump start with this read: a self-test runs only
    // on a port kept here.
    if (read.Ok()) {
        RememberPort();
    } else if (!closeAfterCommand && !read.Stopped()) {
        // A user who is leaving, or who stopped the read, has no box in the way.
        ShowLinkError(this, read.outcome);
    }
    infoResult = read.outcome.Number();
    // The presented self-test belongs to one logger: a read of another one, or a
    // read that never got to the serial number, takes it away.
    if (selfTestPresented &&
        (!read.labels.SerialRead() || ui->LblSerialNo->text() != selfTestSerial)) {
        ClearSelfTestResult();
    }
}

void TfrmWSRXUtil::OnBtnTestClick() {
    OnBtnFirmwareClick();
    if (infoResult != 0 || closeAfterCommand) {
        return;
    }
    Hourglass hourglass;
    SetProgressMaximum(SelfTestBarMaximum);
    TimerThread ticker(SelfTestTickMs, *this);
    const SelfTestRun result = RunSelfTest(PortBytes(), Runner());
    ticker.Terminate();
    // The cursor is back before any box, so the user never answers one under an hourglass.
    hourglass.Restore();
    if (!result.mask) {
        if (!closeAfterCommand && !result.Stopped()) {
            ShowLinkError(this, result.outcome);
        }
        return;
    }
    selfTestResult = *result.mask;
    selfTestSerial = ui->LblSerialNo->text();
    PresentSelfTestResult(*result.mask);
}

void TfrmWSRXUtil::OnBtnMemoryClick() {
    OnBtnFirmwareClick();
    if (!closeAfterCommand && infoResult != Raw(OP_STOPPED)) {
        FileSaveExecute();
    }
}

void TfrmWSRXUtil::FileSaveExecute() {
    Presenter::SaveRequest request;
    request.title = "Save As";
    request.filter = "Wellscribe Onyx memory dump file (*.hex)";
    request.defaultSuffix = "hex";
    request.initialName = QString::fromLatin1(DumpFileName(lastInformation));
    request.initialFolder = DumpDialogFolder();
    request.confirmOverwrite = false;
    const std::optional<QString> chosen = presenter.GetSaveFileName(this, request);
    if (!chosen) {
        return;
    }
    Hourglass hourglass;
    // The name as the file code takes it (UTF-8 on Windows, never the ANSI code page).
    const std::string fileName = CompleteFileName(FileNameBytes(*chosen), "hex");
    // The bar counts the blocks written, as the dump reports them.
    SetProgressMaximum(static_cast<int>(DumpBlockCount));
    ShowDumpProgress(0);
    ui->ProgressBar->setTextVisible(true);
    OperationHooks hooks;
    hooks.blockWritten = [this](std::uint32_t blocks) {
        mailbox.Post([this, blocks] { ShowDumpProgress(blocks); });
    };
    // The message's system texts are in the local 8-bit encoding, the file name in
    // the file code's: the name goes in after the conversion.
    const std::string namePlace = "\x01";
    const DumpResult dump =
        DumpMemoryToFile(PortBytes(), fileName, Runner(), hooks, std::nullopt, namePlace);
    if (dump.outcome.Ok()) {
        RememberPort();
    }
    hourglass.Restore();
    const DumpOutcome& outcome = dump.message;
    const QString text = QString::fromLocal8Bit(outcome.text)
                             .replace(QString::fromLatin1(namePlace),
                                      QDir::toNativeSeparators(FileNameText(fileName)));
    if (!endingSession) { // a box would hold the program the session is ending
        presenter.ShowMessage(this, text, outcome.caption,
                              outcome.warning ? Presenter::Icon::Warning : Presenter::Icon::None);
    }
    ui->ProgressBar->setTextVisible(false);
    ui->ProgressBar->setValue(0);
}

void TfrmWSRXUtil::BtnReportClick() {
    if (!selfTestPresented || ui->LblSerialNo->isHidden()) {
        presenter.ShowError(this, "Please read Wellscribe information and perform self-test first");
        return;
    }
    // The labels as the last read left them, shown or not; the dialog keeps this body.
    auto* report = new TfrmReport(this, presenter, ReportBody(lastInformation, selfTestResult));
    report->show();
}

void TfrmWSRXUtil::butExtTimeCalClick() {
    if (timeCalibration != nullptr) {
        timeCalibration->exec();
    }
}

void TfrmWSRXUtil::PresentSelfTestResult(std::int32_t result) {
    const SelfTestView view = PresentSelfTest(result);
    const auto rows = TestRows();
    for (std::size_t row = 0; row < rows.size(); ++row) {
        rows[row].icon->setPixmap(view.failed[row] ? ui->imgCross->pixmap()
                                                   : ui->imgCheck->pixmap());
        rows[row].icon->setAccessibleName(
            RowPictureName(row, view.failed[row] ? "failed" : "passed"));
        rows[row].advice->setVisible(view.failed[row]);
    }
    ui->lblSolutionHeading->setVisible(view.headingVisible);
    ui->LblTest->setText(QString::fromStdString(view.summary));
    selfTestPresented = true;
}

void TfrmWSRXUtil::ClearSelfTestResult() {
    const auto rows = TestRows();
    for (std::size_t row = 0; row < rows.size(); ++row) {
        rows[row].icon->setPixmap(ui->imgNotDone->pixmap());
        rows[row].icon->setAccessibleName(RowPictureName(row, "not run"));
        rows[row].advice->setVisible(false);
    }
    ui->lblSolutionHeading->setVisible(false);
    ui->LblTest->setText("Click \"Run Self-Test\" ");
    selfTestResult = 255;
    selfTestSerial.clear();
    selfTestPresented = false;
}

std::array<TfrmWSRXUtil::TestRow, 8> TfrmWSRXUtil::TestRows() const {
    return {{{ui->Image1, ui->lblT1Solution},
             {ui->Image2, ui->lblT2Solution},
             {ui->Image3, ui->lblT3Solution},
             {ui->Image4, ui->lblT4Solution},
             {ui->Image5, ui->lblT5Solution},
             {ui->Image6, ui->lblT6Solution},
             {ui->Image7, ui->lblT7Solution},
             {ui->Image8, ui->lblT8Solution}}};
}

void TfrmWSRXUtil::SetProgressMaximum(int maximum) {
    ui->ProgressBar->setMaximum(maximum);
    progressMaximum = maximum;
}

QLabel* TfrmWSRXUtil::Label(InfoLabel label) const {
    switch (label) {
    case InfoLabel::SerialNo:
        return ui->LblSerialNo;
    case InfoLabel::ModelNo:
        return ui->LblModelNo;
    case InfoLabel::ChargeLevel:
        return ui->lblChargeLevel;
    case InfoLabel::Battery:
        return ui->LblBattery;
    case InfoLabel::Firmware:
        return ui->LblFirmware;
    case InfoLabel::Temperature:
        return ui->LblTemperature;
    case InfoLabel::Pressure:
        return ui->LblPressure;
    case InfoLabel::ReadingSolution1:
        return ui->lblReadingSolution1;
    case InfoLabel::ReadingSolution2:
        return ui->lblReadingSolution2;
    case InfoLabel::MinTemp:
        return ui->lblMinTemp;
    case InfoLabel::MaxTemp:
        return ui->lblMaxTemp;
    case InfoLabel::MaxPressure:
        return ui->lblMaxPressure;
    case InfoLabel::ElapsedTime:
        return ui->lblElapsedTime;
    }
    return nullptr;
}

void TfrmWSRXUtil::SetLabelText(InfoLabel label, const std::string& text) {
    mailbox.Post([this, label, text] { Label(label)->setText(QString::fromLatin1(text)); });
}

void TfrmWSRXUtil::SetLabelVisible(InfoLabel label, bool visible) {
    mailbox.Post([this, label, visible] { Label(label)->setVisible(visible); });
}

void TfrmWSRXUtil::StepIt() {
    mailbox.Post([this] {
        // A step past the end starts the bar again from its beginning.
        const int next = ui->ProgressBar->value() + 1;
        ui->ProgressBar->setValue(next > ui->ProgressBar->maximum() ? ui->ProgressBar->minimum()
                                                                    : next);
        ui->ProgressBar->repaint();
        update();
    });
}

void TfrmWSRXUtil::SetPosition(int position) {
    mailbox.Post([this, position] { ui->ProgressBar->setValue(position); });
}
