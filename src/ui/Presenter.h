#pragma once

#include <QString>
#include <optional>

class QWidget;

// Every modal box and file dialog of the program goes through here, so that tests
// can answer them without a modal loop blocking.
class Presenter {
public:
    enum class Icon { None, Warning, Information };

    struct SaveRequest {
        QString title;
        QString filter;        // "Description (*.ext)"
        QString defaultSuffix; // appended by the dialog to a name typed without one
        QString initialName;
        QString initialFolder;
        bool confirmOverwrite = false;
    };

    virtual ~Presenter() = default;
    // A modal message box with one OK button, owned by owner.
    virtual void ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                             Icon icon) = 0;
    // A failure: caption "Error" and the warning icon.
    void ShowError(QWidget* owner, const QString& text) {
        ShowMessage(owner, text, "Error", Icon::Warning);
    }
    // The chosen file name; empty when the user cancelled.
    virtual std::optional<QString> GetSaveFileName(QWidget* owner, const SaveRequest& request) = 0;
    // A modal question with Yes and No buttons, owned by owner; true for Yes.
    virtual bool Ask(QWidget* owner, const QString& text, const QString& caption) = 0;
};

// The real boxes and dialogs.
class QtPresenter final : public Presenter {
public:
    void ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                     Icon icon) override;
    std::optional<QString> GetSaveFileName(QWidget* owner, const SaveRequest& request) override;
    bool Ask(QWidget* owner, const QString& text, const QString& caption) override;
};
