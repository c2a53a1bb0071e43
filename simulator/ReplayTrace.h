#pragma once

#include <cstdint>
#include <deque>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// The replies a link trace (--trace) recorded for one port, request by request,
// so that a simulated logger can answer a program as the traced logger did.
class ReplayTrace {
public:
    // A recorded reply: the bytes that arrived (a whole frame, or what came
    // before a time-out), or silence where the trace recorded a time-out.
    using Reply = std::optional<std::vector<std::uint8_t>>;

    // Reads a trace. port: the port whose exchanges are taken; empty takes the
    // trace's only port. Empty on failure, with error saying why.
    static std::optional<ReplayTrace> Read(std::istream& trace, const std::string& port,
                                           std::string& error);

    // The next reply recorded for this request frame, in recorded order when the
    // request repeats; empty when the trace holds no (further) reply for it.
    std::optional<Reply> Next(const std::vector<std::uint8_t>& request);

    std::size_t Exchanges() const { return exchanges; }

private:
    struct Recorded {
        bool silence = false;
        std::vector<std::uint8_t> bytes;
    };
    std::map<std::vector<std::uint8_t>, std::deque<Recorded>> replies;
    std::size_t exchanges = 0;
};

// Bytes as the trace writes them: "00 63 FF".
std::string HexText(const std::vector<std::uint8_t>& bytes);

} // namespace sim
