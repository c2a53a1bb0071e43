#pragma once

#include "SimulatedLogger.h"

#include <cstdint>
#include <string>

// What the tests ask of the simulated logger and read back from it.

// The command letters the logger received, in order.
inline std::string RequestLetters(const sim::SimulatedLogger& logger) {
    std::string letters;
    for (const auto& request : logger.Requests()) {
        letters += static_cast<char>(request.Letter());
    }
    return letters;
}

// A fault for the next count requests, whatever their command.
inline sim::Fault FaultOf(sim::FaultKind kind, int count = 1) {
    sim::Fault fault;
    fault.kind = kind;
    fault.count = count;
    return fault;
}

// A fault for the next count requests with this command letter.
inline sim::Fault FaultOn(sim::FaultKind kind, char letter, int count = 1) {
    sim::Fault fault = FaultOf(kind, count);
    fault.letter = static_cast<std::uint8_t>(letter);
    return fault;
}
