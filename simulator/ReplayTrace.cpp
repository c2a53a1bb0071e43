#include "ReplayTrace.h"

#include <set>
#include <sstream>

namespace sim {

namespace {

// One line of a trace: "date time kind port bytes... [attempt a/n] [result r]".
struct TraceLine {
    std::string kind;
    std::string port;
    std::vector<std::uint8_t> bytes;
    bool failed = false; // a sent line with a result: the request did not go out whole
};

std::optional<std::uint8_t> HexByte(const std::string& token) {
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    if (token.size() != 2 || digit(token[0]) < 0 || digit(token[1]) < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(digit(token[0]) * 16 + digit(token[1]));
}

std::optional<TraceLine> ParseLine(const std::string& text) {
    std::istringstream words(text);
    std::string date;
    std::string time;
    TraceLine line;
    if (!(words >> date >> time >> line.kind >> line.port)) {
        return std::nullopt;
    }
    std::string token;
    while (words >> token) {
        if (const auto byte = HexByte(token)) {
            line.bytes.push_back(*byte);
        } else {
            line.failed = line.kind == "sent" && token == "result";
            break;
        }
    }
    return line;
}

} // namespace

std::optional<ReplayTrace> ReplayTrace::Read(std::istream& trace, const std::string& port,
                                             std::string& error) {
    std::vector<TraceLine> lines;
    std::set<std::string> ports;
    std::string text;
    while (std::getline(trace, text)) {
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        auto line = ParseLine(text);
        if (line && (line->kind == "sent" || line->kind == "recv" || line->kind == "time-out")) {
            ports.insert(line->port);
            lines.push_back(std::move(*line));
        }
    }
    std::string chosen = port;
    if (chosen.empty()) {
        if (ports.size() != 1) {
            error = ports.empty() ? "the trace holds no request" : "the trace holds several ports:";
            for (const std::string& name : ports) {
                error += " " + name;
            }
            return std::nullopt;
        }
        chosen = *ports.begin();
    } else if (ports.count(chosen) == 0) {
        error = "the trace holds no request on " + chosen;
        return std::nullopt;
    }

    ReplayTrace replay;
    // Each request sent pairs with the reply or time-out that follows it on its port.
    std::optional<std::vector<std::uint8_t>> pending;
    for (TraceLine& line : lines) {
        if (line.port != chosen) {
            continue;
        }
        if (line.kind == "sent") {
            pending.reset();
            if (!line.failed && !line.bytes.empty()) {
                pending = std::move(line.bytes);
            }
        } else if (pending) {
            replay.replies[*pending].push_back({line.kind != "recv", std::move(line.bytes)});
            ++replay.exchanges;
            pending.reset();
        }
    }
    return replay;
}

std::optional<ReplayTrace::Reply> ReplayTrace::Next(const std::vector<std::uint8_t>& request) {
    const auto found = replies.find(request);
    if (found == replies.end() || found->second.empty()) {
        return std::nullopt;
    }
    Recorded recorded = std::move(found->second.front());
    found->second.pop_front();
    if (recorded.silence) {
        return Reply();
    }
    return Reply(std::move(recorded.bytes));
}

std::string HexText(const std::vector<std::uint8_t>& bytes) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += Digits[byte >> 4];
        text += Digits[byte & 0x0F];
    }
    return text;
}

} // namespace sim
