#pragma once

#include "SimulatedLogger.h"

#include <atomic>
#include <string>
#include <unistd.h>

// A simulated logger's settings with a port name of its own, unique within this
// process and among the test processes that run side by side.
inline sim::LoggerConfig UniqueLoggerConfig(const std::string& prefix) {
    static std::atomic<int> counter{0};
    sim::LoggerConfig config;
    config.portName = prefix + std::to_string(getpid() % 100000) + "x" + std::to_string(++counter);
    return config;
}
