#include "ReplayTrace.h"

#include <algorithm>
#include <set>
#include <sstream>
#include <string_view>

namespace sim {

namespace {

// One line of a trace, as LinkTrace writes it:
//   date time open     PORT result R
//   date time purge    PORT
//   date time sent     PORT bytes... [result R]
//   date time recv     PORT [bytes...] attempt A/N result R
//   date time time-out PORT no reply within T ms attempt A/N result R
struct TraceLine {
    std::string kind;
    std::string port;
    std::vector<std::uint8_t> bytes;
    bool failed = false; // a sent line with a result: the request did not go out whole
};

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "2026-12-08" and "01:33:00.662": digits where the trace writes digits.
bool HasShape(std::string_view text, std::string_view shape) {
    if (text.size() != shape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (shape[i] == '0' ? !digit : text[i] != shape[i]) {
            return false;
        }
    }
    return true;
}

std::optional<std::uint8_t> HexByte(std::string_view token) {
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        return -1;
    };
    if (token.size() != 2 || digit(token[0]) < 0 || digit(token[1]) < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(digit(token[0]) * 16 + digit(token[1]));
}

bool IsInteger(std::string_view text) {
    return AllDigits(text.starts_with('-') ? text.substr(1) : text);
}

bool IsAttempt(std::string_view text) {
    const auto slash = text.find('/');
    return slash != std::string_view::npos && AllDigits(text.substr(0, slash)) &&
           AllDigits(text.substr(slash + 1));
}

// Whether words[at...] is exactly "attempt A/N result R".
bool IsAttemptAndResult(const std::vector<std::string>& words, std::size_t at) {
    return words.size() == at + 4 && words[at] == "attempt" && IsAttempt(words[at + 1]) &&
           words[at + 2] == "result" && IsInteger(words[at + 3]);
}

// A trace line, or the reason it cannot be read. A line cut in two (as mail
// programs wrap long lines) fails one way or another: its first part lacks the
// words a whole line ends with, its second part the date and time.
std::optional<TraceLine> ParseLine(const std::string& text, std::string& reason) {
    std::istringstream stream(text);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    if (words.size() < 4 || !HasShape(words[0], "0000-00-00") ||
        !HasShape(words[1], "00:00:00.000")) {
        reason = "it does not begin with a date, a time, an entry and a port (is it the rest "
                 "of a line cut in two?)";
        return std::nullopt;
    }
    TraceLine line;
    line.kind = words[2];
    line.port = words[3];
    const auto unreadable = [&](const std::string& why) {
        reason = "the " + line.kind + " entry " + why;
        return std::nullopt;
    };
    if (line.kind == "open") {
        if (words.size() != 6 || words[4] != "result" || !IsInteger(words[5])) {
            return unreadable("does not end with its result");
        }
        return line;
    }
    if (line.kind == "purge") {
        if (words.size() != 4) {
            return unreadable("holds more than its port");
        }
        return line;
    }
    if (line.kind == "time-out") {
        if (words.size() != 13 || words[4] != "no" || words[5] != "reply" || words[6] != "within" ||
            !AllDigits(words[7]) || words[8] != "ms" || !IsAttemptAndResult(words, 9)) {
            return unreadable("is not \"no reply within T ms attempt A/N result R\"");
        }
        return line;
    }
    if (line.kind != "sent" && line.kind != "recv") {
        reason = "'" + line.kind + "' is no entry of a trace";
        return std::nullopt;
    }
    std::size_t at = 4;
    for (; at < words.size(); ++at) {
        const auto byte = HexByte(words[at]);
        if (!byte) {
            break;
        }
        line.bytes.push_back(*byte);
    }
    const bool ends = at == words.size();
    const std::string next = ends ? std::string() : words[at];
    const std::string misplaced = "holds '" + next + "' where a byte in hex belongs";
    if (line.kind == "sent") {
        if (!line.bytes.empty() && ends) {
            return line;
        }
        if (!line.bytes.empty() && words.size() == at + 2 && next == "result" &&
            IsInteger(words[at + 1])) {
            line.failed = true;
            return line;
        }
        if (!ends && next != "result") {
            return unreadable(misplaced);
        }
        return unreadable(line.bytes.empty() ? "holds no bytes" : "does not end with its result");
    }
    if (IsAttemptAndResult(words, at)) {
        return line;
    }
    if (ends) {
        return unreadable("ends before its attempt and result (is it cut in two?)");
    }
    return unreadable(next != "attempt" ? misplaced : "does not end with its attempt and result");
}

// A port as the user names it: with or without its colon.
std::string WithoutColon(std::string port) {
    if (!port.empty() && port.back() == ':') {
        port.pop_back();
    }
    return port;
}

} // namespace

std::optional<ReplayTrace> ReplayTrace::Read(std::istream& trace, const std::string& port,
                                             std::string& error) {
    std::vector<TraceLine> lines;
    std::set<std::string> ports;
    std::string text;
    for (std::size_t number = 1; std::getline(trace, text); ++number) {
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        // A byte-order mark that an editor put before the first line.
        if (number == 1 && text.starts_with("\xEF\xBB\xBF")) {
            text.erase(0, 3);
        }
        if (text.find_first_not_of(" \t") == std::string::npos) {
            continue;
        }
        std::string reason;
        auto line = ParseLine(text, reason);
        if (!line) {
            error = "line " + std::to_string(number) + " cannot be read: " + reason;
            return std::nullopt;
        }
        if (line->kind == "sent" || line->kind == "recv" || line->kind == "time-out") {
            ports.insert(line->port);
            lines.push_back(std::move(*line));
        }
    }
    std::string chosen;
    if (port.empty()) {
        if (ports.size() != 1) {
            error = ports.empty() ? "the trace holds no request" : "the trace holds several ports:";
            for (const std::string& name : ports) {
                error += " " + name;
            }
            return std::nullopt;
        }
        chosen = *ports.begin();
    } else {
        // "A1" and "A1:" name the same port, as they do for onyx.
        for (const std::string& name : ports) {
            if (WithoutColon(name) == WithoutColon(port)) {
                chosen = name;
            }
        }
        if (chosen.empty()) {
            error = "the trace holds no request on " + port;
            return std::nullopt;
        }
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
            if (!line.failed) {
                pending = std::move(line.bytes);
            }
        } else if (pending) {
            auto& recorded = replay.replies[*pending];
            recorded.queue.push_back({line.kind != "recv", std::move(line.bytes)});
            ++recorded.total;
            ++replay.exchanges;
            pending.reset();
        }
    }
    return replay;
}

std::optional<ReplayTrace::Reply> ReplayTrace::Next(const std::vector<std::uint8_t>& request) {
    const auto found = replies.find(request);
    if (found == replies.end() || found->second.queue.empty()) {
        return std::nullopt;
    }
    RecordedReply recorded = std::move(found->second.queue.front());
    found->second.queue.pop_front();
    if (recorded.silence) {
        return Reply();
    }
    return Reply(std::move(recorded.bytes));
}

std::size_t ReplayTrace::Recorded(const std::vector<std::uint8_t>& request) const {
    const auto found = replies.find(request);
    return found == replies.end() ? 0 : found->second.total;
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
