#include "ui/Application.h"

#include "ui/Presenter.h"

#include <QApplication>
#include <QCursor>
#include <QFont>
#include <QFontDatabase>
#include <exception>

void ApplyProgramFont() {
    // The layout's pixel positions were drawn for a small 8-point font at 96 dpi
    // (about 11 pixels); a pixel size keeps the captions inside them on any screen.
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    for (const char* family : {"Liberation Sans", "Arial", "DejaVu Sans"}) {
        if (QFontDatabase::hasFamily(family)) {
            font.setFamily(family);
            break;
        }
    }
    font.setPixelSize(11);
    QApplication::setFont(font);
}

Hourglass::Hourglass() {
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

Hourglass::~Hourglass() {
    Restore();
}

void Hourglass::Restore() {
    if (active) {
        QApplication::restoreOverrideCursor();
        active = false;
    }
}

void RunHandler(QWidget* owner, Presenter& presenter, const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        presenter.ShowError(owner, QString::fromLocal8Bit(error.what()));
    } catch (...) {
        presenter.ShowError(owner, "Unexpected error");
    }
}
