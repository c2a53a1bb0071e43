#include "ui/UiMailbox.h"

#include <QMetaObject>

void UiMailbox::Post(std::function<void()> action) {
    bool wasEmpty = false;
    {
        std::lock_guard lock(mutex);
        wasEmpty = actions.empty();
        actions.push_back(std::move(action));
    }
    // One queued call on the window's thread wakes it for the whole batch; no timer
    // looks in while nothing arrives. Invoked by name, so the call's event is made and
    // freed inside Qt: no object of ours crosses threads outside the mutex.
    if (wasEmpty) {
        QMetaObject::invokeMethod(this, "Deliver", Qt::QueuedConnection);
    }
}

void UiMailbox::Deliver() {
    std::vector<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex);
        batch.swap(actions);
    }
    for (const auto& action : batch) {
        action();
    }
}
