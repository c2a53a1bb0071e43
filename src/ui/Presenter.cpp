#include "ui/Presenter.h"

#include <QFileDialog>
#include <QMessageBox>

void QtPresenter::ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                              Icon icon) {
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setText(text);
    box.setIcon(icon == Icon::Warning       ? QMessageBox::Warning
                : icon == Icon::Information ? QMessageBox::Information
                                            : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

std::optional<QString> QtPresenter::GetSaveFileName(QWidget* owner, const SaveRequest& request) {
    QFileDialog dialog(owner, request.title, request.initialFolder, request.filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.selectedFiles().isEmpty() ? QString() : dialog.selectedFiles().constFirst();
}

bool QtPresenter::Ask(QWidget* owner, const QString& text, const QString& caption) {
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setText(text);
    box.setIcon(QMessageBox::Question);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
