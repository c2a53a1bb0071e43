#pragma once

#include <QObject>
#include <functional>
#include <mutex>
#include <vector>

// Carries work from the worker and ticker threads to the window's thread. Other
// threads post actions; the window's thread runs them, in order, from its event
// loop. The actions pass through a mutex of ours rather than through Qt's event
// queue, so the hand-off is plain to see for the thread sanitizer, and no Qt
// object is touched from another thread; Qt's queue only carries the wake-up.
class UiMailbox : public QObject {
    Q_OBJECT

public:
    UiMailbox() = default;
    UiMailbox(const UiMailbox&) = delete;
    UiMailbox& operator=(const UiMailbox&) = delete;

    // Any thread: queue an action for the window's thread and wake it.
    void Post(std::function<void()> action);
    // The window's thread: run every queued action.
    Q_INVOKABLE void Deliver();

private:
    std::mutex mutex;
    std::vector<std::function<void()>> actions;
};
