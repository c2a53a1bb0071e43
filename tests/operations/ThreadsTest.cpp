// The worker thread and the progress ticker.

#include "OperationFixture.h"
#include "communication/ResultCodes.h"
#include "operations/ProcessThread.h"
#include "operations/ProgressTarget.h"
#include "operations/TimerThread.h"

#include <filesystem>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous bounds: the tests must hold on a loaded two-core machine.
constexpr auto Slack = 400ms;

class Worker : public OperationFixture {
protected:
    void SetUp() override { StartLogger(); }

    OperationEnvironment Environment(FakeLabels* labels = nullptr) {
        OperationEnvironment environment;
        environment.labels = labels;
        environment.sleeper = RecordingSleeper();
        environment.finished = [this] {
            finishedOn = std::this_thread::get_id();
            ++finishedCalls;
        };
        return environment;
    }

    std::thread::id finishedOn;
    std::atomic<int> finishedCalls{0};
};

TEST_F(Worker, UnknownModesEndAtOnceWithoutTouchingAnything) {
    const fs::path file = fs::temp_directory_path() / ("onyx-mode-" + std::to_string(getpid()));
    fs::remove(file);
    for (const std::int32_t mode : {3, -1}) {
        SCOPED_TRACE(mode);
        finishedCalls = 0;
        ProcessThread worker(logger.PortName(), file.string(), mode, Environment());
        EXPECT_EQ(worker.Wait().outcome.Number(), -1);
        EXPECT_TRUE(worker.Finished());
        EXPECT_EQ(finishedCalls.load(), 1);
        EXPECT_NE(finishedOn, std::this_thread::get_id());
    }
    EXPECT_FALSE(fs::exists(file)); // no dump file either
    EXPECT_TRUE(logger.Requests().empty());
}

TEST_F(Worker, RunsTheOperationOfItsMode) {
    FakeLabels labels;
    {
        ProcessThread worker(logger.PortName(), OpReadInfo, Environment(&labels));
        EXPECT_TRUE(worker.Wait().outcome.Ok());
    }
    EXPECT_EQ(labels.Text(InfoLabel::SerialNo), "Serial Number: 1234567");
    EXPECT_EQ(finishedCalls.load(), 1);

    logger.ClearRequests();
    logger.SetSelfTest(0x41, 0ms);
    ProcessThread selfTest(logger.PortName(), OpSelfTest, Environment());
    const WorkerResult tested = selfTest.Wait();
    EXPECT_TRUE(tested.outcome.Ok());
    EXPECT_EQ(tested.selfTestMask, 0x41);
    EXPECT_EQ(Letters(), "z");

    // A port that cannot be opened: its system code, nothing sent.
    logger.ClearRequests();
    ProcessThread missing(MissingPort(), OpReadInfo, Environment());
    const LinkOutcome failed = missing.Wait().outcome;
    EXPECT_GT(failed.systemError, 0);
    EXPECT_FALSE(failed.portOpened);
    EXPECT_TRUE(logger.Requests().empty());
}

TEST_F(Worker, DestructionWaitsForTheOperation) {
    logger.SetSelfTest(0x01, 600ms);
    const auto start = Clock::now();
    {
        ProcessThread worker(logger.PortName(), OpSelfTest, Environment());
        EXPECT_FALSE(worker.Finished());
    }
    EXPECT_GE(Clock::now() - start, 550ms);
    EXPECT_EQ(finishedCalls.load(), 1); // the operation ran to its end
}

// The bar as a record of what the ticker did to it.
class FakeBar final : public ProgressTarget {
public:
    explicit FakeBar(int maximum) : maximum(maximum) {}

    int Maximum() const override { return maximum.load(); }
    void StepIt() override {
        ++steps;
        if (steps.load() == shrinkAfter) {
            maximum = shrinkTo;
        }
    }
    void SetPosition(int position) override {
        std::lock_guard lock(mutex);
        ++resets;
        lastPosition = position;
        resetAt = Clock::now();
        stepsAtReset = steps.load();
    }

    std::atomic<int> maximum;
    std::atomic<int> steps{0};
    int shrinkAfter = -1;
    int shrinkTo = 0;

    mutable std::mutex mutex;
    int resets = 0;
    int lastPosition = -1;
    int stepsAtReset = -1;
    Clock::time_point resetAt;
};

bool WaitUntilFinished(const TimerThread& ticker, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!ticker.Finished()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(Ticker, FillsTheBarAndLeavesItFull) {
    FakeBar bar(5);
    const auto start = Clock::now();
    TimerThread ticker(20, bar);
    ASSERT_TRUE(WaitUntilFinished(ticker, 5s));
    EXPECT_GE(Clock::now() - start, 100ms); // five whole intervals
    EXPECT_EQ(bar.steps.load(), 5);

    // A stop request after the end resets nothing.
    ticker.Terminate();
    std::this_thread::sleep_for(150ms);
    std::lock_guard lock(bar.mutex);
    EXPECT_EQ(bar.resets, 0);
}

TEST(Ticker, ReadsTheMaximumOnEveryPass) {
    FakeBar bar(1000);
    bar.shrinkAfter = 2;
    bar.shrinkTo = 3;
    TimerThread ticker(10, bar);
    ASSERT_TRUE(WaitUntilFinished(ticker, 5s));
    EXPECT_EQ(bar.steps.load(), 3);

    FakeBar empty(0);
    TimerThread idle(10, empty);
    ASSERT_TRUE(WaitUntilFinished(idle, 5s));
    EXPECT_EQ(empty.steps.load(), 0);
}

TEST(Ticker, StopEmptiesTheBarAfterTheIntervalAndAHundredMilliseconds) {
    FakeBar bar(1000);
    TimerThread ticker(150, bar);
    // Within the second interval: after the first step, however late a loaded
    // machine lets it come.
    const auto deadline = Clock::now() + 5s;
    while (bar.steps.load() < 1 && Clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    const auto stopped = Clock::now();
    ticker.Terminate();
    ASSERT_TRUE(WaitUntilFinished(ticker, 5s));

    std::lock_guard lock(bar.mutex);
    EXPECT_EQ(bar.resets, 1);
    EXPECT_EQ(bar.lastPosition, 0);
    EXPECT_EQ(bar.stepsAtReset, bar.steps.load()); // no step after the reset
    EXPECT_GE(bar.stepsAtReset, 1);
    // The rest of the interval under way (up to 150 ms), then 100 ms.
    EXPECT_GE(bar.resetAt - stopped, 100ms);
    EXPECT_LE(bar.resetAt - stopped, 250ms + Slack);
}

TEST(Ticker, DestructionStopsAndWaits) {
    FakeBar bar(1000);
    Clock::time_point destroyed;
    {
        TimerThread ticker(200, bar);
        std::this_thread::sleep_for(50ms);
        destroyed = Clock::now();
    }
    const auto waited = Clock::now() - destroyed;
    EXPECT_GE(waited, 100ms);
    EXPECT_LE(waited, 300ms + Slack);
    std::lock_guard lock(bar.mutex);
    EXPECT_EQ(bar.resets, 1);
    EXPECT_EQ(bar.steps.load(), 0);
}

} // namespace
