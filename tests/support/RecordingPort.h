#pragma once

#include "communication/LinkSession.h"
#include "communication/serial/SERIAL.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

// A real port that notes, for each request it sends, the command letter and the
// reply time-out set for the reply: "c300 z195000 ...". The time-out Open sets
// before any request is not noted.
class RecordingPort final : public CSerial {
public:
    explicit RecordingPort(std::string& steps) : steps(steps) {}

    std::int32_t Write(const void* data, std::uint32_t count, std::uint32_t* written) override {
        if (count > 1) {
            letter = static_cast<const char*>(data)[1];
        }
        return CSerial::Write(data, count, written);
    }
    std::int32_t SetTimeouts(std::uint32_t constant) override {
        if (letter != 0) {
            steps += (steps.empty() ? "" : " ") + std::string(1, letter) + std::to_string(constant);
            letter = 0;
        }
        return CSerial::SetTimeouts(constant);
    }

private:
    std::string& steps;
    char letter = 0;
};

// While it lives, every link made talks through a RecordingPort, and Steps()
// holds what all of them noted. Make links on one thread at a time meanwhile.
class RecordedLinks {
public:
    RecordedLinks() {
        LinkSession::portFactory = [this] { return std::make_unique<RecordingPort>(steps); };
    }
    ~RecordedLinks() { LinkSession::portFactory = nullptr; }
    RecordedLinks(const RecordedLinks&) = delete;
    RecordedLinks& operator=(const RecordedLinks&) = delete;

    // What was noted since the last call.
    std::string Steps() { return std::exchange(steps, {}); }

private:
    std::string steps;
};
