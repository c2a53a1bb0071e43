#pragma once

#include "communication/Protocols.h"
#include "operations/Operations.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

class InfoLabelSink;

// Operation modes of the worker.
constexpr std::int32_t OpReadInfo = 0;
constexpr std::int32_t OpSelfTest = 1;
constexpr std::int32_t OpMemoryDump = 2;

// What an operation needs besides its port and file names.
struct OperationEnvironment {
    InfoLabelSink* labels = nullptr;  // OpReadInfo writes the window's labels here
    Protocols::Sleeper sleeper;       // the pauses between commands; empty: real time
    std::function<void()> finished;   // called on the worker thread as its last act
    OperationHooks hooks;             // what the operation reports while it runs
    DumpRecord* dumpRecord = nullptr; // OpMemoryDump fills it before the worker ends
};

// How the worker's operation ended; the self-test's mask beside its outcome.
struct WorkerResult {
    LinkOutcome outcome;
    std::uint8_t selfTestMask = 0; // OpSelfTest, when the outcome is a success
};

// One device operation on a thread of its own. It starts running when
// constructed; Wait() returns how it ended; the destructor waits until the
// operation is over (an operation ends early through its stop hook).
class ProcessThread {
public:
    ProcessThread(std::string portName, std::int32_t mode, OperationEnvironment environment = {});
    ProcessThread(std::string portName, std::string fileName, std::int32_t mode,
                  OperationEnvironment environment = {});
    ~ProcessThread();
    ProcessThread(const ProcessThread&) = delete;
    ProcessThread& operator=(const ProcessThread&) = delete;

    // Blocks until the operation has ended; how it ended.
    WorkerResult Wait();
    bool Finished() const { return finished.load(); }

private:
    void Run();

    const std::string portName;
    const std::string fileName;
    const std::int32_t mode;
    const OperationEnvironment environment;
    WorkerResult result; // written by the thread before it ends, read after the join
    std::atomic<bool> finished{false};
    std::thread thread; // last: starts only once every field above is set
};
