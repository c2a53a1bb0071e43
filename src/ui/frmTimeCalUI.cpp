#include "ui/frmTimeCalUI.h"

#include "calibration/CalibrationSequences.h"
#include "commands/LogLocation.h"
#include "files/FileSystem.h"
#include "ui/Application.h"
#include "ui/Presenter.h"
#include "ui/ProgramFolders.h"
#include "ui/frmWSRXUtilUI.h"
#include "ui_frmTimeCalUI.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QListWidgetItem>
#include <QSignalBlocker>
#include <QStringDecoder>
#include <QTimer>
#include <algorithm>

TfrmTimeCal* frmTimeCal = nullptr;

namespace {

// The log the dialog uses: the program's own choice, unless a test gives a folder.
LogLocation DialogLog(const std::filesystem::path& logFolder) {
    if (!logFolder.empty()) {
        return {CalibrationLog::PathIn(logFolder), {}, {}};
    }
    LogLocation location = CalibrationLogLocation();
    if (location.log.empty()) {
        // Every change is refused with the reason; the name is the program's folder.
        location.log = CalibrationLog::PathIn(ProgramFolder());
    }
    return location;
}

// What the user can do about a log that cannot be replaced: let the account
// replace it, or have it moved away, and the program keeps a log of the user's
// own where it keeps logs when it cannot write beside itself.
std::string ReplaceCure(const std::filesystem::path& log) {
    const std::filesystem::path own = UserDataFolder();
    const std::string consequence =
        "Start Time Calibration and Stop Time Calibration are refused until it can be "
        "replaced: ";
    if (own.empty() || CalibrationLog::PathIn(own) == log) {
        return consequence + "let your account change the file and create files in its folder.";
    }
    // In a folder that takes new files, a log moved away is started again in its place.
    if (files::FolderTakesNewFiles(log.parent_path().empty() ? "." : log.parent_path())) {
        return consequence + "let your account change the file" + ".";
    }
    return consequence + "let your account change it, or have it moved away; this program " +
           "then keeps a log of your own at " + files::PathText(CalibrationLog::PathIn(own)) + ".";
}

} // namespace

TfrmTimeCal::TfrmTimeCal(TfrmWSRXUtil& owner, Presenter& messagePresenter,
                         std::filesystem::path logFolder)
    : QDialog(&owner), ui(std::make_unique<Ui::TfrmTimeCal>()), mainWindow(owner),
      presenter(messagePresenter), location(DialogLog(logFolder)), log(location.log),
      unusedLog(location.unused.empty() ? QString()
                                        : QDir::toNativeSeparators(
                                              QString::fromStdWString(location.unused.wstring()))) {
    ui->setupUi(this);
    // Closed with its own button only: no caption-bar buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(547, 614);

    const auto handle = [this](QPushButton* button, void (TfrmTimeCal::*handler)()) {
        connect(button, &QPushButton::clicked, this, [this, handler] {
            RunHandler(this, presenter, [this, handler] { (this->*handler)(); });
        });
    };
    handle(ui->butADD, &TfrmTimeCal::butADDClick);
    handle(ui->butStopTimeCal, &TfrmTimeCal::butStopTimeCalClick);
    handle(ui->butRmCompleted, &TfrmTimeCal::butRmCompletedClick);
    handle(ui->butTimeVerification, &TfrmTimeCal::butTimeVerificationClick);
    handle(ui->butClose, &TfrmTimeCal::butCloseClick);

    tmrSystemTime = new QTimer(this);
    tmrSystemTime->setObjectName("tmrSystemTime");
    connect(tmrSystemTime, &QTimer::timeout, this, &TfrmTimeCal::tmrSystemTimeTimer);
    tmrSystemTime->start(1000);
}

TfrmTimeCal::~TfrmTimeCal() = default;

void TfrmTimeCal::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Restoring the minimised dialog is no new showing: reloading then would throw
    // away a line the last save could not write.
    if (event->spontaneous()) {
        return;
    }
    if (parentWidget() != nullptr) {
        move(parentWidget()->geometry().center() - rect().center());
    }
    RunHandler(this, presenter, [this] { FormShow(); });
}

void TfrmTimeCal::keyPressEvent(QKeyEvent* event) {
    // Closed with its &Close button only, as it has no close box either.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmTimeCal::FormShow() {
    if (!unusedLog.isEmpty()) {
        // Said once a run: the program keeps to one log, and the user may want to
        // carry the other one's lines over.
        presenter.ShowMessage(
            this,
            "There is another calibration log at " + unusedLog + ".\nThis program uses " +
                QDir::toNativeSeparators(QString::fromStdString(files::PathText(log.Path()))) +
                "; the other one is not read.",
            "Information", Presenter::Icon::None);
        unusedLog.clear();
    }
    if (!location.error.empty()) {
        ShowGeneralError(location.error);
    }
    const CalibrationLog::LoadResult loaded = log.Load();
    if (loaded.status == CalibrationLog::LoadStatus::Failed) {
        ShowGeneralError(loaded.error);
    } else if (location.error.empty()) {
        // Told now, not after Start has changed the logger's clock.
        if (const CalibrationLog::SaveError refused = log.ReplaceCheck()) {
            ShowGeneralError(*refused + "\n" + ReplaceCure(log.Path()));
        }
    }
    RefreshList();
}

QString TfrmTimeCal::LineText(const std::string& line) {
    // The program's own lines are ASCII; a line an editor saved as UTF-8 shows as
    // such, any other as the single-byte text the program has always kept.
    const QByteArray bytes =
        QByteArray::fromRawData(line.data(), static_cast<qsizetype>(line.size()));
    if (std::all_of(line.begin(), line.end(), [](char c) { return (c & 0x80) == 0; })) {
        return QString::fromLatin1(bytes);
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

void TfrmTimeCal::RefreshList() {
    QListWidget* list = ui->chklstLogger;
    // One pass with the view and the model quiet: a log of half a million lines
    // then fills in seconds, not minutes of per-line notices and repaints.
    list->setUpdatesEnabled(false);
    list->clear();
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(log.Count()));
    for (const std::string& line : log.Lines()) {
        texts.append(LineText(line));
    }
    list->addItems(texts);
    {
        const QSignalBlocker quiet(list->model());
        for (std::size_t index = 0; index < log.Count(); ++index) {
            QListWidgetItem* item = list->item(static_cast<int>(index));
            // Selectable but never toggled by the user: only the dialog sets the check.
            item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
            item->setCheckState(log.IsCompleted(index) ? Qt::Checked : Qt::Unchecked);
        }
    }
    list->setUpdatesEnabled(true);
    list->viewport()->update();
}

void TfrmTimeCal::RunSequence(const Sequence& sequence, bool changesLog) {
    // The sequence holds the window's thread for a few seconds at most.
    Hourglass hourglass;
    const CalibrationOutcome outcome = sequence(mainWindow.PortName().toLocal8Bit().toStdString());
    hourglass.Restore();
    if (changesLog) {
        // Starting and stopping read the log as it is now: show it as it is.
        RefreshList();
    }
    if (outcome.logChange != LogChange::None) {
        ui->chklstLogger->setCurrentRow(static_cast<int>(outcome.line));
    }
    Present(outcome);
}

void TfrmTimeCal::Present(const CalibrationOutcome& outcome) {
    switch (outcome.kind) {
    case CalibrationOutcome::Kind::None:
        break;
    case CalibrationOutcome::Kind::LinkError:
        mainWindow.ShowLinkError(this, outcome.link, true, outcome.text);
        break;
    case CalibrationOutcome::Kind::Message:
        presenter.ShowMessage(this, QString::fromStdString(outcome.text),
                              QString::fromStdString(outcome.caption),
                              outcome.icon == MessageIcon::Warning ? Presenter::Icon::Warning
                                                                   : Presenter::Icon::None);
        break;
    case CalibrationOutcome::Kind::GeneralError:
        ShowGeneralError(outcome.text);
        break;
    }
}

void TfrmTimeCal::ShowGeneralError(const std::string& text) {
    presenter.ShowError(this, QString::fromStdString(text));
}

void TfrmTimeCal::butADDClick() {
    RunSequence(
        [this](const std::string& portName) {
            return StartCalibration(portName, log, *clock, sleeper);
        },
        true);
}

void TfrmTimeCal::butStopTimeCalClick() {
    RunSequence(
        [this](const std::string& portName) {
            return StopCalibration(portName, log, *clock, formats, sleeper);
        },
        true);
}

void TfrmTimeCal::butTimeVerificationClick() {
    RunSequence(
        [this](const std::string& portName) {
            return VerifyTime(portName, *clock, formats, sleeper);
        },
        false);
}

void TfrmTimeCal::butRmCompletedClick() {
    const CalibrationLog::ChangeResult removed = log.RemoveCompletedLines();
    RefreshList();
    if (removed.Failed()) {
        ShowGeneralError(removed.error);
    }
}

void TfrmTimeCal::butCloseClick() {
    close();
}

void TfrmTimeCal::tmrSystemTimeTimer() {
    ui->lblSystemTime->setText("System Time " +
                               QString::fromStdString(formats.Format(clock->Now())));
}
