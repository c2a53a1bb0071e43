#pragma once

#include <QComboBox>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>
#include <string>

// Points the per-user settings at a scratch folder for the life of the test
// program, so that no test writes into the settings of the account that runs it.
inline void UseScratchSettings() {
    static QTemporaryDir folder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
}

// Selects a port in the main window's COM port box; false when it is not listed.
inline bool SelectPort(QWidget& mainWindow, const std::string& port) {
    auto* ports = mainWindow.findChild<QComboBox*>("CmbComPort");
    const int index = ports != nullptr ? ports->findText(QString::fromStdString(port)) : -1;
    if (index >= 0) {
        ports->setCurrentIndex(index);
    }
    return index >= 0;
}
