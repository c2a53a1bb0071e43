#pragma once

#include <QDialog>
#include <memory>
#include <string>

class Presenter;

namespace Ui {
class TfrmReport;
}

// The report dialog: takes the user's contact details and writes the report file.
// Modeless; its body is fixed when it is created, so a later self-test or read of
// the logger does not change the report it writes.
class TfrmReport : public QDialog {
    Q_OBJECT

public:
    TfrmReport(QWidget* owner, Presenter& presenter, std::string reportBody);
    ~TfrmReport() override;

    const std::string& ReportBody() const { return reportBody; }

public slots:
    void BtnOkRepClick();
    void BtnCancelRepClick();
    void FileSaveExecute();

private:
    std::unique_ptr<Ui::TfrmReport> ui;
    Presenter& presenter;
    const std::string reportBody;
};
