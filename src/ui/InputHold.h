#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

// Holds the user's clicks and keys while the window waits for an operation, and
// hands them on, in order, once the wait is over: a click during an operation runs
// its command afterwards, never in the middle of the running one. The wait's
// event loop already leaves window-system input queued; this also catches input
// that reaches the application by other ways (synthesised or posted events).
class InputHold : public QObject {
public:
    InputHold();
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
};
