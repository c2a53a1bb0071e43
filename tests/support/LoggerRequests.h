#pragma once

#include "SimulatedLogger.h"

#include <cstdint>
#include <string>
#include <vector>

// What the tests ask of the simulated logger and read back from it.

// The command letters the logger received, in order.
inline std::string RequestLetters(const sim::SimulatedLogger& logger) {
    std::string letters;
    for (const auto& request : logger.Requests()) {
        letters += static_cast<char>(request.Letter());
    }
    return letters;
}

// The requests as transactions: a request sent again at once (the same frame: the
// program retried it, after a reply that did not come in time) is one transaction
// with its attempts. Tests of runs that succeed count transactions, so that a
// reply slowed by a loaded machine and read on the second attempt changes nothing.
struct Transaction {
    sim::RecordedRequest request; // firstByte of the first attempt, lastByte of the last
    int attempts = 1;
};

inline std::vector<Transaction> Transactions(const sim::SimulatedLogger& logger) {
    std::vector<Transaction> transactions;
    for (const auto& request : logger.Requests()) {
        if (!transactions.empty() && transactions.back().request.frame == request.frame) {
            transactions.back().request.lastByte = request.lastByte;
            ++transactions.back().attempts;
        } else {
            transactions.push_back({request, 1});
        }
    }
    return transactions;
}

// The command letters of the transactions, in order.
inline std::string TransactionLetters(const sim::SimulatedLogger& logger) {
    std::string letters;
    for (const auto& transaction : Transactions(logger)) {
        letters += static_cast<char>(transaction.request.Letter());
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
