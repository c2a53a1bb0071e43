// The Wellscribe Onyx Diagnostics Utility.

#include "ui/Application.h"
#include "ui/Presenter.h"
#include "ui/frmTimeCalUI.h"
#include "ui/frmWSRXUtilUI.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(TfrmWSRXUtil::Title);
    ApplyProgramFont();
    try {
        QtPresenter presenter;
        TfrmWSRXUtil mainWindow(presenter);
        frmWSRXUtil = &mainWindow;
        TfrmTimeCal timeCalibration(mainWindow, presenter);
        frmTimeCal = &timeCalibration;
        mainWindow.SetTimeCalibrationDialog(&timeCalibration);
        mainWindow.show();
        return QApplication::exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, TfrmWSRXUtil::Title, QString::fromLocal8Bit(error.what()));
        return 1;
    }
}
