#pragma once

#include "ui/Presenter.h"

#include <QApplication>
#include <QCursor>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

// Answers message boxes and save dialogs at once and remembers what was asked.
class RecordingPresenter : public Presenter {
public:
    struct Message {
        QString text;
        QString caption;
        Icon icon;
        bool underHourglass; // the hourglass was up while the box was
    };

    std::vector<Message> messages;
    std::vector<SaveRequest> saveRequests;
    std::deque<std::optional<QString>> saveAnswers; // none left: the user cancels
    std::function<void()> onSaveDialog;
    std::vector<Message> questions;
    std::deque<bool> askAnswers; // none left: No
    std::function<void()> onQuestion;

    void ShowMessage(QWidget*, const QString& text, const QString& caption, Icon icon) override {
        messages.push_back({text, caption, icon, Hourglass()});
    }
    std::optional<QString> GetSaveFileName(QWidget*, const SaveRequest& request) override {
        saveRequests.push_back(request);
        if (onSaveDialog) {
            onSaveDialog();
        }
        if (saveAnswers.empty()) {
            return std::nullopt;
        }
        const bool cancelled = !saveAnswers.front().has_value();
        const QString name = cancelled ? QString() : *saveAnswers.front();
        saveAnswers.pop_front();
        if (cancelled) {
            return std::nullopt;
        }
        return name;
    }
    bool Ask(QWidget*, const QString& text, const QString& caption) override {
        questions.push_back({text, caption, Icon::None, Hourglass()});
        if (onQuestion) {
            onQuestion();
        }
        if (askAnswers.empty()) {
            return false;
        }
        const bool yes = askAnswers.front();
        askAnswers.pop_front();
        return yes;
    }
    static bool Hourglass() {
        const QCursor* cursor = QApplication::overrideCursor();
        return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
    }
    QStringList Texts() const {
        QStringList texts;
        for (const Message& message : messages) {
            texts << message.text;
        }
        return texts;
    }
};
