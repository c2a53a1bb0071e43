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

    // Reads a trace, strictly: every line must read as LinkTrace writes it (the
    // bytes in hex of either case), else the trace is refused with the line's
    // number and the reason, so a trace wrapped by a mail program is never
    // replayed with its replies cut short. port: the port whose exchanges are
    // taken, with or without its colon; empty takes the trace's only port. Empty
    // on failure, with error saying why.
    static std::optional<ReplayTrace> Read(std::istream& trace, const std::string& port,
                                           std::string& error);

    // The next reply recorded for this request frame, in recorded order when the
    // request repeats; empty when the trace holds no (further) reply for it.
    std::optional<Reply> Next(const std::vector<std::uint8_t>& request);
    // How many replies the trace recorded for this request frame, used up or not:
    // 0 when the request is not in the trace.
    std::size_t Recorded(const std::vector<std::uint8_t>& request) const;

    std::size_t Exchanges() const { return exchanges; }

private:
    struct RecordedReply {
        bool silence = false;
        std::vector<std::uint8_t> bytes;
    };
    struct Replies {
        std::deque<RecordedReply> queue;
        std::size_t total = 0;
    };
    std::map<std::vector<std::uint8_t>, Replies> replies;
    std::size_t exchanges = 0;
};

// Bytes as the trace writes them: "00 63 FF".
std::string HexText(const std::vector<std::uint8_t>& bytes);

} // namespace sim
