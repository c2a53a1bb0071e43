#include "ui/InputHold.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>

namespace {

// Input for a window closed meanwhile is dropped: it must not start a command there.
bool Visible(QObject* receiver) {
    if (receiver->isWidgetType()) {
        return static_cast<QWidget*>(receiver)->window()->isVisible();
    }
    return !receiver->isWindowType() || static_cast<QWindow*>(receiver)->isVisible();
}

} // namespace

InputHold::InputHold(Intercept interceptFirst)
    : intercept(std::move(interceptFirst)), modalAtStart(QApplication::activeModalWidget()) {
    qApp->installEventFilter(this);
}

InputHold::~InputHold() {
    qApp->removeEventFilter(this);
    if (held.empty()) {
        return;
    }
    // Delivered from the event loop, after whatever follows the wait has had its
    // turn. Input that arrives while a modal box is up is dropped, as the platform
    // drops input to a window a modal box blocks.
    // A real timer, not a posted call (as a 0 ms single shot would be): a command
    // started by a held click waits for its operation in a loop of its own, and a
    // loop nested in the delivery of a posted call does not see the calls posted
    // meanwhile, among them the mailbox's.
    QTimer::singleShot(1, qApp, [events = std::move(held)] {
        for (const HeldEvent& entry : events) {
            if (entry.receiver && QApplication::activeModalWidget() == nullptr &&
                Visible(entry.receiver)) {
                QCoreApplication::sendEvent(entry.receiver, entry.event.get());
            }
        }
    });
}

bool InputHold::IsUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::ContextMenu:
        return true;
    default:
        return false;
    }
}

bool InputHold::eventFilter(QObject* receiver, QEvent* event) {
    if (!IsUserInput(event->type()) || !(receiver->isWidgetType() || receiver->isWindowType())) {
        return false;
    }
    // Input reaches a box first through its platform window, then its widgets.
    if (QWidget* const modal = QApplication::activeModalWidget();
        modal != nullptr && modal != modalAtStart) {
        auto* widget = receiver->isWidgetType() ? static_cast<QWidget*>(receiver) : nullptr;
        if (widget != nullptr ? widget == modal || modal->isAncestorOf(widget)
                              : receiver == modal->windowHandle()) {
            return false;
        }
    }
    if (intercept && intercept(receiver, event)) {
        return true;
    }
    held.push_back({receiver, std::shared_ptr<QEvent>(event->clone())});
    return true;
}
