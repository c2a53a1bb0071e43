#pragma once

#include "ui/Presenter.h"

#include <QApplication>
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
        bool underHourglass; // an override cursor was set while the box was up
    };

    std::vector<Message> messages;
    std::vector<SaveRequest> saveRequests;
    std::deque<std::optional<QString>> saveAnswers; // none left: the user cancels
    std::function<void()> onSaveDialog;

    void ShowMessage(QWidget*, const QString& text, const QString& caption, Icon icon) override {
        messages.push_back({text, caption, icon, QApplication::overrideCursor() != nullptr});
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
    QStringList Texts() const {
        QStringList texts;
        for (const Message& message : messages) {
            texts << message.text;
        }
        return texts;
    }
};
