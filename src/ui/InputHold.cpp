#include "ui/InputHold.h"

#include <QApplication>

InputHold::InputHold() {
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
    QMetaObject::invokeMethod(
        qApp,
        [events = std::move(held)] {
            for (const HeldEvent& entry : events) {
                if (entry.receiver && QApplication::activeModalWidget() == nullptr) {
                    QCoreApplication::sendEvent(entry.receiver, entry.event.get());
                }
            }
        },
        Qt::QueuedConnection);
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
    held.push_back({receiver, std::shared_ptr<QEvent>(event->clone())});
    return true;
}
