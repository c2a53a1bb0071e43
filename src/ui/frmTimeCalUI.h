#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TfrmTimeCal;
}

// The extended time calibration dialog: created hidden at start-up and shown
// modally by the main window's Time Calibration button.
class TfrmTimeCal : public QDialog {
    Q_OBJECT

public:
    explicit TfrmTimeCal(QWidget* parent = nullptr);
    ~TfrmTimeCal() override;

public slots:
    void butCloseClick();

private:
    std::unique_ptr<Ui::TfrmTimeCal> ui;
};

extern TfrmTimeCal* frmTimeCal;
