#include "ui/Presenter.h"

#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>

namespace {

// The box's picture says in words what it shows, for screen readers.
void NameIcon(QMessageBox& box, const QString& name) {
    for (QLabel* label : box.findChildren<QLabel*>()) {
        if (!label->pixmap().isNull()) {
            label->setAccessibleName(name);
        }
    }
}

} // namespace

void QtPresenter::ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                              Icon icon) {
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setText(text);
    box.setIcon(icon == Icon::Warning       ? QMessageBox::Warning
                : icon == Icon::Information ? QMessageBox::Information
                                            : QMessageBox::NoIcon);
    NameIcon(box, icon == Icon::Warning ? "Warning" : "Information");
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
    NameIcon(box, "Question");
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
