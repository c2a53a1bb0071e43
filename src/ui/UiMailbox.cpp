#include "ui/UiMailbox.h"

#include <QSocketNotifier>
#include <QTimer>
#include <stdexcept>

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

UiMailbox::UiMailbox() {
#ifdef _WIN32
    // No pipe to watch here: look every 10 ms, which a progress bar cannot tell apart.
    poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, &UiMailbox::Deliver);
    poll->start(10);
#else
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error("Cannot create the window's wake-up pipe");
    }
    wakeRead = ends[0];
    wakeWrite = ends[1];
    notifier = new QSocketNotifier(wakeRead, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &UiMailbox::Deliver);
#endif
}

UiMailbox::~UiMailbox() {
#ifndef _WIN32
    delete notifier;
    close(wakeRead);
    close(wakeWrite);
#endif
}

void UiMailbox::Post(std::function<void()> action) {
    bool wasEmpty = false;
    {
        std::lock_guard lock(mutex);
        wasEmpty = actions.empty();
        actions.push_back(std::move(action));
    }
#ifndef _WIN32
    // One byte wakes the window for the whole batch; a full pipe means it is awake already.
    if (wasEmpty) {
        const char byte = 1;
        while (write(wakeWrite, &byte, 1) < 0 && errno == EINTR) {
        }
    }
#else
    (void)wasEmpty;
#endif
}

void UiMailbox::Deliver() {
#ifndef _WIN32
    char drain[64];
    while (read(wakeRead, drain, sizeof drain) > 0) {
    }
#endif
    std::vector<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex);
        batch.swap(actions);
    }
    for (const auto& action : batch) {
        action();
    }
}
