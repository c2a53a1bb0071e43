#pragma once

#include "communication/ResultCodes.h"
#include "communication/serial/SERIAL.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <vector>

// A serial port without a device: it records what is written and answers reads
// from a script of replies, one entry per read call. An exhausted script reads as
// a time-out.
class ScriptedPort : public CSerial {
public:
    struct ReadStep {
        std::vector<std::uint8_t> bytes; // empty: the read times out
        std::int32_t result = 0;         // a failure code to return instead
    };

    std::vector<std::vector<std::uint8_t>> writes;
    std::deque<ReadStep> reads;
    std::vector<std::uint32_t> timeouts;
    std::vector<std::uint32_t> readRequests;
    std::int32_t writeResult = 0;

    void Reply(std::vector<std::uint8_t> bytes) { reads.push_back({std::move(bytes), 0}); }
    void Silence() { reads.push_back({{}, 0}); }

    std::int32_t SetTimeouts(std::uint32_t constant) override {
        timeouts.push_back(constant);
        return 0;
    }
    std::int32_t Write(const void* data, std::uint32_t count, std::uint32_t* written) override {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        writes.emplace_back(bytes, bytes + count);
        *written = writeResult == 0 ? count : 0;
        return writeResult;
    }
    std::int32_t Read(void* buffer, std::uint32_t count, std::uint32_t* read) override {
        *read = 0;
        readRequests.push_back(count);
        if (reads.empty()) {
            return Raw(LINK_ERR_TIMEOUT);
        }
        ReadStep step = std::move(reads.front());
        reads.pop_front();
        if (step.result != 0) {
            return step.result;
        }
        if (step.bytes.empty()) {
            return Raw(LINK_ERR_TIMEOUT);
        }
        const std::uint32_t n = std::min<std::uint32_t>(count, step.bytes.size());
        std::copy_n(step.bytes.begin(), n, static_cast<std::uint8_t*>(buffer));
        if (n < step.bytes.size()) { // the rest arrives with the next read
            reads.push_front({{step.bytes.begin() + n, step.bytes.end()}, 0});
        }
        *read = n;
        return 0;
    }
};
