#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

// Holds the user's clicks and keys while the window waits for an operation, and
// hands them on, in order, once the wait is over: a click during an operation runs
// its command afterwards, never in the middle of the running one. It catches
// window-system input as well as synthesised or posted events. Input for a modal
// box opened while the hold lasts passes, so that the box can be answered.
class InputHold : public QObject {
public:
    // Sees each event to be held first; returning true takes it (it is neither
    // held nor delivered).
    using Intercept = std::function<bool(QObject* receiver, QEvent* event)>;

    explicit InputHold(Intercept intercept = {});
    ~InputHold() override;
    InputHold(const InputHold&) = delete;
    InputHold& operator=(const InputHold&) = delete;

    static bool IsUserInput(QEvent::Type type);

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override;

private:
    struct HeldEvent {
        QPointer<QObject> receiver;
        std::shared_ptr<QEvent> event;
    };
    std::vector<HeldEvent> held;
    Intercept intercept;
    QPointer<QWidget> modalAtStart;
};
