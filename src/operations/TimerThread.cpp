#include "operations/TimerThread.h"

#include "operations/ProgressTarget.h"

namespace {
// After a stop request the bar stays as it is this long before it is emptied.
constexpr std::chrono::milliseconds ResetDelay{100};
} // namespace

TimerThread::TimerThread(int intervalMs, ProgressTarget& progressBar)
    : progressBar(progressBar), interval(intervalMs),
      thread([this](std::stop_token stop) { Run(stop); }) {}

// The jthread asks the ticker to stop and joins it.
TimerThread::~TimerThread() = default;

void TimerThread::Terminate() {
    thread.request_stop();
}

bool TimerThread::Finished() const {
    std::lock_guard lock(mutex);
    return ended;
}

void TimerThread::Run(std::stop_token stop) {
    // The sleeps are not cut short by a stop request: it takes effect at the end
    // of the interval under way, which bounds the wait of the destructor.
    for (int counter = 0; counter < progressBar.Maximum(); ++counter) {
        std::this_thread::sleep_for(interval);
        if (stop.stop_requested()) {
            std::this_thread::sleep_for(ResetDelay);
            progressBar.SetPosition(0);
            break;
        }
        progressBar.StepIt();
    }
    std::lock_guard lock(mutex);
    ended = true;
}
