#pragma once

#include "commands/DeviceCommands.h"
#include "commands/LogLocation.h"
#include "communication/Protocols.h"
#include "operations/InfoLabels.h"
#include "operations/Operations.h"
#include "operations/ProcessThread.h"
#include "operations/ProgressTarget.h"
#include "ui/UiMailbox.h"

#include <QString>
#include <QWidget>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class QCloseEvent;
class QDialog;
class QLabel;
class Presenter;

namespace Ui {
class TfrmWSRXUtil;
}

// The main window: the COM port choice, the logger's information, the self-test
// results and the commands. Each device command runs one operation on a worker
// thread and waits for it: the window keeps repainting and the progress bar keeps
// moving meanwhile, while clicks and keys wait and run after the operation.
class TfrmWSRXUtil : public QWidget, private InfoLabelSink, private ProgressTarget {
    Q_OBJECT

public:
    static constexpr const char* Title = ProgramTitle.data();

    explicit TfrmWSRXUtil(Presenter& presenter, QWidget* parent = nullptr);
    ~TfrmWSRXUtil() override;

    // A failed outcome as an error box owned by owner (OutcomeText on the selected
    // port); numbered: the code and its message above a system error too, as the
    // calibration dialog shows it.
    // more: a paragraph under the outcome's text.
    void ShowLinkError(QWidget* owner, const LinkOutcome& outcome, bool numbered = false,
                       const std::string& more = {});

    std::int32_t SelfTestResult() const { return selfTestResult; }
    std::int32_t InfoResult() const { return infoResult; }
    // True once a self-test result has been shown in the self-test area.
    bool SelfTestPresented() const { return selfTestPresented; }
    // The text of the selected COM port entry, as the operations receive it.
    QString PortName() const;
    Presenter& MessagePresenter() { return presenter; }

    void SetTimeCalibrationDialog(QDialog* dialog) { timeCalibration = dialog; }
    // The session ends (SIGTERM, SIGHUP, Windows logging off): the operation in
    // progress ends as a close would end it, without a question, then the program.
    void EndSession();
    // True while a worker runs an operation (its port open).
    bool OperationInProgress() const { return worker != nullptr && !worker->Finished(); }
    // Reads the COM port list anew, keeping the selected port while it is listed;
    // run at start and each time the user opens the list.
    void RefreshPortList();
    // The pauses between logger commands; tests shorten them.
    void SetOperationSleeper(Protocols::Sleeper sleeper) { operationSleeper = std::move(sleeper); }

public slots:
    void OnBtnFirmwareClick();
    void OnBtnTestClick();
    void OnBtnMemoryClick();
    void BtnReportClick();
    void butExtTimeCalClick();
    void FileSaveExecute();

protected:
    // During an operation, asks whether to stop it; yes: the operation ends after
    // its request in progress (the self-test's wait at once), and the window
    // closes then.
    void closeEvent(QCloseEvent* event) override;

private:
    // Runs one operation on a worker and waits for it (the commands' runner).
    WorkerResult RunWorker(const std::string& port, std::int32_t mode, const std::string& fileName,
                           OperationEnvironment environment);
    OperationRunner Runner();
    // The selected port's name as the commands take it.
    std::string PortBytes() const;
    // A row of the self-test area: its pass/fail icon and its advice line.
    struct TestRow {
        QLabel* icon;
        QLabel* advice;
    };
    // Tests 1 to 8, in order.
    std::array<TestRow, 8> TestRows() const;
    void PresentSelfTestResult(std::int32_t result);
    // Back to the start: no self-test presented, SelfTestResult 255.
    void ClearSelfTestResult();
    // Keeps the selected port for the next start, after a command went through on it.
    void RememberPort();
    // The port list with preferred selected when listed, else the first entry.
    void FillPortList(const QString& preferred);
    // The stop question of the running operation; true when the user chose to stop it.
    bool AskStop();
    void ShowDumpProgress(std::uint32_t blocks);
    void SetProgressMaximum(int maximum);
    QLabel* Label(InfoLabel label) const;

    // InfoLabelSink, from the worker thread.
    void SetLabelText(InfoLabel label, const std::string& text) override;
    void SetLabelVisible(InfoLabel label, bool visible) override;
    // ProgressTarget, from the ticker thread.
    int Maximum() const override { return progressMaximum.load(); }
    void StepIt() override;
    void SetPosition(int position) override;

    std::unique_ptr<Ui::TfrmWSRXUtil> ui;
    Presenter& presenter;
    UiMailbox mailbox;
    QDialog* timeCalibration = nullptr;
    Protocols::Sleeper operationSleeper;
    std::atomic<int> progressMaximum{100};
    std::int32_t selfTestResult = 255;
    std::int32_t infoResult = 0;
    bool selfTestPresented = false;
    // The serial number label of the logger the presented self-test belongs to.
    QString selfTestSerial;
    // The labels as the last information read left them: the dump's name and the
    // report are made of them.
    InformationRecord lastInformation;
    bool operationRunning = false;
    std::int32_t runningMode = -1; // the running operation's mode
    bool askingStop = false;
    // The user's stop (or the session's end), for the operation running now.
    std::atomic<bool> operationStop{false};
    // The window was closed during an operation: it closes when the command ends.
    bool closeAfterCommand = false;
    bool endingSession = false;
    ProcessThread* worker = nullptr; // the running operation's, during the wait
};

// The program's main window.
extern TfrmWSRXUtil* frmWSRXUtil;
