#pragma once

#include "SimulatedLogger.h"
#include "communication/Protocols.h"
#include "operations/InfoLabels.h"
#include "support/LoggerRequests.h"
#include "support/TestLogger.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

// The window's labels as a record: the current texts and visibility, and how
// many changes were made.
class FakeLabels final : public InfoLabelSink {
public:
    void SetLabelText(InfoLabel label, const std::string& text) override {
        std::lock_guard lock(mutex);
        texts[label] = text;
        ++changes;
    }
    void SetLabelVisible(InfoLabel label, bool visible) override {
        std::lock_guard lock(mutex);
        shown[label] = visible;
        ++changes;
    }

    // "" when never written with a value (a read first leaves every label its caption).
    std::string Text(InfoLabel label) const {
        std::lock_guard lock(mutex);
        const auto found = texts.find(label);
        return found == texts.end() || found->second.ends_with(':') ? std::string{} : found->second;
    }
    bool Written(InfoLabel label) const { return !Text(label).empty(); }
    // -1 never touched, 0 hidden, 1 shown.
    int Visibility(InfoLabel label) const {
        std::lock_guard lock(mutex);
        const auto found = shown.find(label);
        return found == shown.end() ? -1 : found->second ? 1 : 0;
    }
    std::size_t ChangeCount() const {
        std::lock_guard lock(mutex);
        return changes;
    }

private:
    mutable std::mutex mutex;
    std::map<InfoLabel, std::string> texts;
    std::map<InfoLabel, bool> shown;
    std::size_t changes = 0;
};

// A simulated logger on a published port of its own, which the operation under
// test opens by name, and a sleeper that records the pauses without taking them.
class OperationFixture : public ::testing::Test {
protected:
    static sim::LoggerConfig Config() { return UniqueLoggerConfig("Op"); }

    // A port name that no device answers to.
    static std::string MissingPort() { return "NoPort" + std::to_string(getpid() % 100000) + ":"; }

    void StartLogger() { ASSERT_EQ(logger.Start(), 0); }

    // The command letters of the transactions the logger received, in order: a
    // request retried because a loaded machine delayed its reply counts once.
    std::string Letters() const { return TransactionLetters(logger); }

    // Records every pause; the 50 ms pauses between commands are counted, and
    // onCommandPause(n) runs at the n-th of them (1-based) before the next
    // command goes out.
    Protocols::Sleeper RecordingSleeper() {
        return [this](std::chrono::milliseconds duration) {
            std::function<void(int)> hook;
            int n = 0;
            {
                std::lock_guard lock(pauseMutex);
                pauses.push_back(duration);
                if (duration == std::chrono::milliseconds{50}) {
                    n = ++commandPauses;
                    hook = onCommandPause;
                }
            }
            if (hook && n > 0) {
                hook(n);
            }
        };
    }

    std::vector<std::chrono::milliseconds> Pauses() const {
        std::lock_guard lock(pauseMutex);
        return pauses;
    }
    // The pauses between commands, without those after a failed attempt.
    std::vector<std::chrono::milliseconds> CommandPauses() const {
        std::vector<std::chrono::milliseconds> between = Pauses();
        std::erase(between, Protocols::RetryPause);
        return between;
    }

    sim::SimulatedLogger logger{Config()};
    std::function<void(int)> onCommandPause;

private:
    mutable std::mutex pauseMutex;
    std::vector<std::chrono::milliseconds> pauses;
    int commandPauses = 0;
};
