#pragma once

#include <QComboBox>
#include <QString>
#include <QWidget>
#include <string>

// Selects a port in the main window's COM port box; false when it is not listed.
inline bool SelectPort(QWidget& mainWindow, const std::string& port) {
    auto* ports = mainWindow.findChild<QComboBox*>("CmbComPort");
    const int index = ports != nullptr ? ports->findText(QString::fromStdString(port)) : -1;
    if (index >= 0) {
        ports->setCurrentIndex(index);
    }
    return index >= 0;
}
