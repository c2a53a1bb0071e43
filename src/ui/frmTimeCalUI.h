#pragma once

#include "calibration/CalibrationLog.h"
#include "calibration/DateTimeValue.h"
#include "commands/LogLocation.h"
#include "communication/Protocols.h"

#include <QDialog>
#include <filesystem>
#include <functional>
#include <memory>

class Presenter;
class QTimer;
class TfrmWSRXUtil;
struct CalibrationOutcome;

namespace Ui {
class TfrmTimeCal;
}

// The extended time calibration dialog: the calibration log as a list with a
// check box per line (checked: completed), a running PC clock, and the buttons
// that start and stop a logger's calibration, verify its clock and tidy the log.
// Created hidden at start-up and shown modally by the main window; it talks to
// the logger on the port selected in the main window.
class TfrmTimeCal : public QDialog {
    Q_OBJECT

public:
    // The log lives in logFolder (the program's folder unless a test says otherwise).
    TfrmTimeCal(TfrmWSRXUtil& mainWindow, Presenter& presenter,
                std::filesystem::path logFolder = {});
    ~TfrmTimeCal() override;

    const CalibrationLog& Log() const { return log; }
    const DateTimeFormats& Formats() const { return formats; }

    // Test seams: the PC clock, and the pauses between logger commands.
    void SetClock(PcClock& replacement) { clock = &replacement; }
    void SetSleeper(Protocols::Sleeper replacement) { sleeper = std::move(replacement); }

public slots:
    void FormShow();
    void butADDClick();
    void butStopTimeCalClick();
    void butRmCompletedClick();
    void butTimeVerificationClick();
    void butCloseClick();
    void tmrSystemTimeTimer();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // One button's logger sequence, run on the port selected in the main window.
    using Sequence = std::function<CalibrationOutcome(const std::string& portName)>;
    void RunSequence(const Sequence& sequence, bool changesLog);
    void Present(const CalibrationOutcome& outcome);
    void ShowGeneralError(const std::string& text);
    void RefreshList();
    static QString LineText(const std::string& line);

    std::unique_ptr<Ui::TfrmTimeCal> ui;
    TfrmWSRXUtil& mainWindow;
    Presenter& presenter;
    LogLocation location;
    CalibrationLog log;
    QString unusedLog; // another LogTime.csv, to be told about at the first showing
    DateTimeFormats formats;
    SystemPcClock systemClock;
    PcClock* clock = &systemClock;
    Protocols::Sleeper sleeper;
    QTimer* tmrSystemTime = nullptr;
};

extern TfrmTimeCal* frmTimeCal;
