#include "operations/ProcessThread.h"

#include "communication/ResultCodes.h"
#include "operations/InfoLabels.h"
#include "operations/Operations.h"

#include <utility>

namespace {

// Stands in for a window that gave no labels: the operation still runs whole.
class NoLabels final : public InfoLabelSink {
public:
    void SetLabelText(InfoLabel, const std::string&) override {}
    void SetLabelVisible(InfoLabel, bool) override {}
};

// A mode the worker does not know: -1, which no code of the link takes.
constexpr auto UnknownModeResult = static_cast<ResultCode>(-1);

} // namespace

ProcessThread::ProcessThread(std::string portName, std::int32_t mode,
                             OperationEnvironment environment)
    : ProcessThread(std::move(portName), std::string{}, mode, std::move(environment)) {}

ProcessThread::ProcessThread(std::string portName, std::string fileName, std::int32_t mode,
                             OperationEnvironment environment)
    : portName(std::move(portName)), fileName(std::move(fileName)), mode(mode),
      environment(std::move(environment)), thread(&ProcessThread::Run, this) {}

ProcessThread::~ProcessThread() {
    if (thread.joinable()) {
        thread.join();
    }
}

WorkerResult ProcessThread::Wait() {
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) {
        thread.join();
    }
    return result;
}

void ProcessThread::Run() {
    WorkerResult done{{UnknownModeResult}};
    try {
        switch (mode) {
        case OpReadInfo: {
            NoLabels none;
            done.outcome =
                ReadDeviceInformation(portName, environment.labels ? *environment.labels : none,
                                      environment.sleeper, environment.hooks);
            break;
        }
        case OpSelfTest: {
            const SelfTestOutcome selfTest =
                RunSelfTestOperation(portName, environment.sleeper, environment.hooks);
            done = {selfTest.outcome, selfTest.mask};
            break;
        }
        case OpMemoryDump:
            done.outcome = DumpMemory(portName, fileName, environment.sleeper, environment.hooks,
                                      environment.dumpRecord);
            break;
        default:
            break;
        }
    } catch (...) {
        // Only the window's label sink or memory exhaustion can throw; the port and
        // file are already closed by their owners.
        done = {{LINK_ERR_INTERNAL_A}};
    }
    result = done;
    finished.store(true);
    if (environment.finished) {
        environment.finished();
    }
}
