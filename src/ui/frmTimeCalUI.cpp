#include "ui/frmTimeCalUI.h"

#include "calibration/CalibrationSequences.h"
#include "ui/Application.h"
#include "ui/Presenter.h"
#include "ui/ProgramFolders.h"
#include "ui/frmWSRXUtilUI.h"
#include "ui_frmTimeCalUI.h"

#include <QApplication>
#include <QKeyEvent>
#include <QListWidgetItem>
#include <QTimer>

TfrmTimeCal* frmTimeCal = nullptr;

namespace {

std::filesystem::path ProgramFolder() {
    return FilePath(CalibrationLogFolder());
}

} // namespace

TfrmTimeCal::TfrmTimeCal(TfrmWSRXUtil& owner, Presenter& messagePresenter,
                         std::filesystem::path logFolder)
    : QDialog(&owner), ui(std::make_unique<Ui::TfrmTimeCal>()), mainWindow(owner),
      presenter(messagePresenter),
      log(CalibrationLog::PathIn(logFolder.empty() ? ProgramFolder() : logFolder)) {
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
    const CalibrationLog::LoadResult loaded = log.Load();
    if (loaded.status == CalibrationLog::LoadStatus::Failed) {
        ShowGeneralError(loaded.error);
    }
    RefreshList();
}

void TfrmTimeCal::RefreshList() {
    ui->chklstLogger->clear();
    for (std::size_t index = 0; index < log.Count(); ++index) {
        auto* item = new QListWidgetItem(QString::fromLatin1(log.Line(index)), ui->chklstLogger);
        // Selectable but never toggled by the user: only the dialog sets the check.
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        item->setCheckState(log.IsCompleted(index) ? Qt::Checked : Qt::Unchecked);
    }
}

void TfrmTimeCal::RunSequence(const Sequence& sequence) {
    // The sequence holds the window's thread for a few seconds at most.
    Hourglass hourglass;
    const CalibrationOutcome outcome = sequence(mainWindow.PortName().toLocal8Bit().toStdString());
    hourglass.Restore();
    if (outcome.logChange != LogChange::None) {
        RefreshList();
        ui->chklstLogger->setCurrentRow(static_cast<int>(outcome.line));
    }
    Present(outcome);
}

void TfrmTimeCal::Present(const CalibrationOutcome& outcome) {
    switch (outcome.kind) {
    case CalibrationOutcome::Kind::None:
        break;
    case CalibrationOutcome::Kind::LinkError:
        mainWindow.ShowLinkError(this, outcome.linkCode, outcome.portOpened);
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
    RunSequence([this](const std::string& portName) {
        return StartCalibration(portName, log, *clock, sleeper);
    });
}

void TfrmTimeCal::butStopTimeCalClick() {
    RunSequence([this](const std::string& portName) {
        return StopCalibration(portName, log, *clock, formats, sleeper);
    });
}

void TfrmTimeCal::butTimeVerificationClick() {
    RunSequence([this](const std::string& portName) {
        return VerifyTime(portName, *clock, formats, sleeper);
    });
}

void TfrmTimeCal::butRmCompletedClick() {
    const CalibrationLog::SaveError error = log.RemoveCompleted();
    RefreshList();
    if (error) {
        ShowGeneralError(*error);
    }
}

void TfrmTimeCal::butCloseClick() {
    close();
}

void TfrmTimeCal::tmrSystemTimeTimer() {
    ui->lblSystemTime->setText("System Time " +
                               QString::fromStdString(formats.Format(clock->Now())));
}
