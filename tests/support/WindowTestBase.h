#pragma once

#include "SimulatedLogger.h"
#include "support/LoggerRequests.h"
#include "support/QtTestMain.h"
#include "support/RecordingPresenter.h"
#include "support/TestLogger.h"
#include "ui/frmWSRXUtilUI.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QObject>
#include <QPushButton>
#include <QString>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

// What every window test case starts from: a simulated logger of its own, the main
// window on that logger's port with a presenter that records every box and answers
// every dialog, and a scratch folder; all gone when the case ends.
//
// Qt Test runs the slots of the test class itself, so the base has none: each test
// class calls StartWindow() from its init() slot and StopWindow() from cleanup().
class WindowTestBase : public QObject {
protected:
    std::unique_ptr<sim::SimulatedLogger> logger;
    std::unique_ptr<RecordingPresenter> presenter;
    std::unique_ptr<TfrmWSRXUtil> window;
    std::unique_ptr<QTemporaryDir> folder;

    // The logger's port name starts with portPrefix, which keeps the ports of the
    // test programs that run side by side apart.
    void StartWindow(const std::string& portPrefix) {
        logger = std::make_unique<sim::SimulatedLogger>(UniqueLoggerConfig(portPrefix));
        QCOMPARE(logger->Start(), 0);
        presenter = std::make_unique<RecordingPresenter>();
        folder = std::make_unique<QTemporaryDir>();
        QVERIFY(folder->isValid());
        window = std::make_unique<TfrmWSRXUtil>(*presenter);
        // Pauses between commands cost nothing here; the link itself runs for real.
        window->SetOperationSleeper([](std::chrono::milliseconds) {});
        QVERIFY2(SelectPort(logger->PortName()), "the simulated logger's port is listed");
        window->show();
    }

    // The window first: it owns the dialogs, which may still refer to the rest.
    void StopWindow() {
        window.reset();
        presenter.reset();
        logger.reset();
        folder.reset();
    }

    // Selects a port in the COM port box; false when it is not listed.
    bool SelectPort(const std::string& port) const {
        auto* ports = Child<QComboBox>("CmbComPort");
        const int index = ports->findData(QString::fromStdString(port));
        if (index >= 0) {
            ports->setCurrentIndex(index);
        }
        return index >= 0;
    }

    // A control of the window or of a dialog it owns, by its object name.
    template <typename T = QLabel> T* Child(const char* name) const {
        T* child = window->findChild<T*>(name);
        if (child == nullptr) {
            qFatal("no control %s", name);
        }
        return child;
    }
    QString Text(const char* label) const { return Child(label)->text(); }
    bool Shown(const char* label) const { return !Child(label)->isHidden(); }
    void Click(const char* button) {
        QTest::mouseClick(Child<QPushButton>(button), Qt::LeftButton);
    }

    // Runs Read Memory Dump into path; afterBlock(n) runs at the pause after the
    // n-th block.
    void DumpInto(const QString& path, std::function<void(int)> afterBlock = {}) {
        std::atomic<bool> dumping{false};
        std::atomic<int> blocks{0};
        presenter->onSaveDialog = [&] { dumping = true; };
        window->SetOperationSleeper([&](std::chrono::milliseconds pause) {
            if (dumping && pause == std::chrono::milliseconds(50) && afterBlock) {
                afterBlock(++blocks);
            }
        });
        presenter->saveAnswers.push_back(path);
        Click("BtnMemory");
        presenter->onSaveDialog = nullptr;
        window->SetOperationSleeper([](std::chrono::milliseconds) {});
    }

    // A file's bytes; empty when it cannot be read.
    static QByteArray FileBytes(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};
