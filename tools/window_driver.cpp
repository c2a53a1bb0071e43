// Drives the main window without a display: reads a logger's information, runs its
// self-test, prints what the window shows and saves a picture of it.

#include "ui/Application.h"
#include "ui/Presenter.h"
#include "ui/frmWSRXUtilUI.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <cstdio>

namespace {

// Message boxes go to the terminal; save dialogs are cancelled, questions answered No.
class ConsolePresenter : public Presenter {
public:
    void ShowMessage(QWidget*, const QString& text, const QString& caption, Icon) override {
        std::printf("[%s] %s\n", qPrintable(caption), qPrintable(text));
    }
    std::optional<QString> GetSaveFileName(QWidget*, const SaveRequest&) override {
        return std::nullopt;
    }
    bool Ask(QWidget*, const QString& text, const QString& caption) override {
        std::printf("[%s] %s -> No\n", qPrintable(caption), qPrintable(text));
        return false;
    }
};

void PrintVisibleLabels(const QWidget* group) {
    std::printf("%s\n", qPrintable(static_cast<const QGroupBox*>(group)->title()));
    for (const QLabel* label : group->findChildren<QLabel*>()) {
        if (!label->isHidden() && !label->text().isEmpty()) {
            std::printf("  %s\n", qPrintable(label->text()));
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: onyx-window-driver PORT SCREENSHOT.png\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    ApplyProgramFont();
    ConsolePresenter presenter;
    TfrmWSRXUtil window(presenter);
    window.show();

    auto* ports = window.findChild<QComboBox*>("CmbComPort");
    const int index = ports->findData(QString::fromLocal8Bit(argv[1]));
    if (index < 0) {
        std::fprintf(stderr, "onyx-window-driver: %s is not in the port list\n", argv[1]);
        return 1;
    }
    ports->setCurrentIndex(index);

    std::printf("> Read Wellscribe Info on %s\n", argv[1]);
    window.findChild<QPushButton*>("BtnFirmware")->click();
    PrintVisibleLabels(window.findChild<QWidget*>("GpbFirmware"));

    std::printf("> Run Self-Test\n");
    window.findChild<QPushButton*>("BtnTest")->click();
    std::printf("%s\n", qPrintable(window.findChild<QLabel*>("LblTest")->text()));
    for (int row = 1; row <= 8 && window.SelfTestPresented(); ++row) {
        const QLabel* test = window.findChild<QLabel*>(QString("LblTest%1").arg(row));
        const QLabel* advice = window.findChild<QLabel*>(QString("lblT%1Solution").arg(row));
        if (advice->isHidden()) {
            std::printf("  %s passed\n", qPrintable(test->text()));
        } else {
            std::printf("  %s FAILED: %s\n", qPrintable(test->text()), qPrintable(advice->text()));
        }
    }

    QApplication::processEvents();
    if (!window.grab().save(argv[2])) {
        std::fprintf(stderr, "onyx-window-driver: cannot save %s\n", argv[2]);
        return 1;
    }
    std::printf("Screenshot of the window: %s\n", argv[2]);
    return 0;
}
