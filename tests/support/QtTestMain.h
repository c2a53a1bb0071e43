#pragma once

#include "ui/Application.h"

#include <QApplication>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

// Turns the command line into the arguments Qt Test runs with, given the test
// class; a program whose cases depend on its command line passes one.
using QtTestArguments = std::function<QStringList(QStringList, const QMetaObject&)>;

// The entry of every window test program: the offscreen platform, the program's
// font, the per-user settings in a scratch folder for the life of the program (no
// test writes into the settings of the account that runs it), then the cases of
// TestClass. Windows stay open when a test closes its last one.
template <typename TestClass>
int RunQtTests(int argc, char** argv, QtTestArguments arguments = {}) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ApplyProgramFont();
    const QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    TestClass test;
    if (!arguments) {
        return QTest::qExec(&test, argc, argv);
    }
    return QTest::qExec(&test, arguments(QApplication::arguments(), test.staticMetaObject));
}

// The main function of a window test program that runs every case of TestClass.
#define QT_TEST_PROGRAM(TestClass)                                                                 \
    int main(int argc, char** argv) {                                                              \
        return RunQtTests<TestClass>(argc, argv);                                                  \
    }
