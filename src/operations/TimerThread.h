#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class ProgressTarget;

// The progress ticker: steps the bar once per interval until asked to stop or the
// bar is full. Stopped early, it empties the bar 100 ms after its current sleep.
class TimerThread {
public:
    TimerThread(int intervalMs, ProgressTarget& progressBar);
    // Asks the ticker to stop and waits for its end (at most one interval + 100 ms).
    ~TimerThread();
    TimerThread(const TimerThread&) = delete;
    TimerThread& operator=(const TimerThread&) = delete;

    // Raises the stop request without waiting.
    void Terminate();
    bool Finished() const;

private:
    void Run(std::stop_token stop);

    ProgressTarget& progressBar;
    const std::chrono::milliseconds interval;
    mutable std::mutex mutex;
    bool ended = false;
    std::jthread thread; // last
};
