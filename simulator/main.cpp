// onyx-simulator: a simulated Wellscribe Onyx logger on a pseudo-terminal, published
// under a port name so the diagnostics utility lists it and can talk to it.

#include "ReplayTrace.h"
#include "SimulatedLogger.h"
#include "communication/serial/VirtualPorts.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <pthread.h>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* Usage = R"(Usage: onyx-simulator [options]

Stands in for a Wellscribe Onyx logger on a pseudo-terminal until interrupted
(Ctrl+C or SIGTERM).

Options:
  --name NAME             publish the port as NAME: (default ONYXSIM0)
  --serial N              serial number, 0 to 16777215 (default 1234567)
  --model TEXT            model text, up to 8 characters (default ONYX-300)
  --plain-ack             acknowledge with the plain sum instead of the
                          complemented one
  --paced                 send and receive at the pace of a 9600 baud line
  --self-test-mask M      self-test result, 0 to 255 (bit set = test failed;
                          default 0)
  --self-test-seconds S   time the self-test takes before the reply, 0 to 3600
                          (default 0)
  --clock-offset S        logger clock minus PC local time, in seconds
                          (default 0); the logger's clock must fall in the
                          years 2000 to 2099
  --drift PPM             logger clock drift in parts per million, -32768 to
                          32767 (default 0)
  --status TEXT           status text (default "ST+ 95%+ 3.62V+OK+2.10FW\r\n")
  --readings TEXT         readings text
                          (default "RD+  21.500 deg C+   1.234 m\r\n")
                          In both texts \r and \n stand for carriage return and
                          line feed.
  --fault KIND[:LETTER[:COUNT]]
                          misbehave on the next COUNT requests (default 1;
                          "all" for every one) with command LETTER (default or
                          "*": any command). KIND: silence, wrong-ack, bad-crc,
                          cut-short, split, empty-payload, garbage, vanish.
                          Repeatable.
  --replay TRACE          answer each request with the reply recorded for the
                          same request in TRACE, a file written by --trace (in
                          recorded order when a request repeats; silence where
                          the trace recorded a time-out). A request the trace
                          does not hold, or whose replies are used up, is
                          answered with silence and named on stderr. A line of
                          TRACE that cannot be read (one wrapped by a mail
                          program) is named, and nothing is replayed.
  --replay-port PORT      the traced port to replay, when TRACE holds several
                          (with or without its colon)
  --help                  show this text
)";

struct Options {
    sim::LoggerConfig config;
    std::vector<sim::Fault> faults;
    std::string replay;
    std::string replayPort;
    bool help = false;
};

template <typename Number> std::optional<Number> ParseNumber(std::string_view text) {
    Number value{};
    const auto* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || stop != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// A finite decimal number; "nan", "inf", hexadecimal, leading blanks and values
// beyond a double are refused.
std::optional<double> ParseReal(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789+-.eE") != std::string::npos) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// The logger's clock is kept within the years whose dates its calibration log can
// hold (two-digit years, read back as 20yy).
constexpr int FirstClockYear = 2000;
constexpr int LastClockYear = 2099;

// The offsets from the PC's local time now that keep the logger's clock within
// FirstClockYear..LastClockYear, in whole seconds.
std::pair<double, double> ClockOffsetRange() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t whole = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&whole, &local);
    const double pcLocal = static_cast<double>(whole) + static_cast<double>(local.tm_gmtoff);
    const auto secondsOf = [](int year, unsigned month, unsigned day) {
        const sys_days date = year_month_day{std::chrono::year{year}, std::chrono::month{month},
                                             std::chrono::day{day}};
        return static_cast<double>(date.time_since_epoch().count()) * 86400.0;
    };
    return {std::ceil(secondsOf(FirstClockYear, 1, 1) - pcLocal),
            std::floor(secondsOf(LastClockYear + 1, 1, 1) - 1 - pcLocal)};
}

std::string Whole(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

// Lets a shell user write the line ends of the logger's texts.
std::string Unescape(std::string_view text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'r' || text[i + 1] == 'n')) {
            result += text[i + 1] == 'r' ? '\r' : '\n';
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

std::optional<sim::FaultKind> ParseFaultKind(std::string_view name) {
    using sim::FaultKind;
    static constexpr std::pair<std::string_view, FaultKind> Kinds[] = {
        {"silence", FaultKind::Silence}, {"wrong-ack", FaultKind::WrongAcknowledge},
        {"bad-crc", FaultKind::BadCrc},  {"cut-short", FaultKind::CutShort},
        {"split", FaultKind::Split},     {"empty-payload", FaultKind::EmptyPayload},
        {"garbage", FaultKind::Garbage}, {"vanish", FaultKind::Vanish},
    };
    for (const auto& [text, kind] : Kinds) {
        if (text == name) {
            return kind;
        }
    }
    return std::nullopt;
}

std::optional<sim::Fault> ParseFault(std::string_view text) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const auto colon = text.find(':', start);
        parts.push_back(text.substr(start, colon - start));
        if (colon == std::string_view::npos) {
            break;
        }
        start = colon + 1;
    }
    if (parts.size() > 3) {
        return std::nullopt;
    }
    sim::Fault fault;
    const auto kind = ParseFaultKind(parts[0]);
    if (!kind) {
        return std::nullopt;
    }
    fault.kind = *kind;
    if (parts.size() > 1 && parts[1] != "*" && !parts[1].empty()) {
        if (parts[1].size() != 1) {
            return std::nullopt;
        }
        fault.letter = static_cast<std::uint8_t>(parts[1][0]);
    }
    if (parts.size() > 2) {
        if (parts[2] == "all") {
            fault.count = sim::EveryRequest;
        } else if (const auto count = ParseNumber<int>(parts[2]); count && *count > 0) {
            fault.count = *count;
        } else {
            return std::nullopt;
        }
    }
    return fault;
}

// Applies one option with its value; false with a message in error when it is wrong.
bool ApplyOption(Options& options, const std::string& option, const std::string& value,
                 std::string& error) {
    auto& config = options.config;
    const auto bad = [&](const std::string& wanted = {}) {
        error = "invalid value for " + option + ": '" + value + "'" +
                (wanted.empty() ? "" : " (" + wanted + ")");
        return false;
    };
    if (option == "--name") {
        if (!virtual_ports::IsValidName(value)) {
            return bad("1 to 14 letters, digits, '_', '-' or '.', not beginning with '.'");
        }
        config.portName = value;
    } else if (option == "--serial") {
        const auto serial = ParseNumber<std::uint32_t>(value);
        if (!serial || *serial > 0xFFFFFF) {
            return bad("a whole number from 0 to 16777215");
        }
        config.serialNumber = *serial;
    } else if (option == "--model") {
        if (value.size() > 8) {
            return bad("at most 8 characters");
        }
        config.model = value;
    } else if (option == "--self-test-mask") {
        const auto mask = ParseNumber<unsigned>(value);
        if (!mask || *mask > 255) {
            return bad("a whole number from 0 to 255");
        }
        config.selfTestMask = static_cast<std::uint8_t>(*mask);
    } else if (option == "--self-test-seconds") {
        const auto seconds = ParseReal(value);
        if (!seconds || *seconds < 0 || *seconds > 3600) {
            return bad("seconds from 0 to 3600");
        }
        config.selfTestDuration = std::chrono::milliseconds(static_cast<long>(*seconds * 1000));
    } else if (option == "--clock-offset") {
        const auto offset = ParseReal(value);
        const auto [earliest, latest] = ClockOffsetRange();
        if (!offset || *offset < earliest || *offset > latest) {
            return bad("seconds from " + Whole(earliest) + " to " + Whole(latest) +
                       " now, which keep the logger's clock within the years " +
                       std::to_string(FirstClockYear) + " to " + std::to_string(LastClockYear));
        }
        config.clockOffsetSeconds = *offset;
    } else if (option == "--drift") {
        // The drift the logger's correction can hold: a signed 16-bit count of ppm.
        const auto drift = ParseReal(value);
        if (!drift || *drift < -32768 || *drift > 32767) {
            return bad("parts per million from -32768 to 32767");
        }
        config.clockDriftPpm = *drift;
    } else if (option == "--status") {
        config.statusText = Unescape(value);
    } else if (option == "--readings") {
        config.readingsText = Unescape(value);
    } else if (option == "--replay") {
        options.replay = value;
    } else if (option == "--replay-port") {
        options.replayPort = value;
    } else if (option == "--fault") {
        const auto fault = ParseFault(value);
        if (!fault) {
            return bad("KIND[:LETTER[:COUNT]], see --help");
        }
        options.faults.push_back(*fault);
    } else {
        error = "unknown option " + option;
        return false;
    }
    return true;
}

std::optional<Options> ParseArguments(int argc, char** argv, std::string& error) {
    Options options;
    options.config.portName = "ONYXSIM0";
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            options.help = true;
        } else if (option == "--plain-ack") {
            options.config.complementedAcknowledge = false;
        } else if (option == "--paced") {
            options.config.pacing = sim::Pacing::Baud9600;
        } else if (i + 1 >= argc) {
            error =
                option.rfind("--", 0) == 0 ? option + " needs a value" : "unknown option " + option;
            return std::nullopt;
        } else if (!ApplyOption(options, option, argv[++i], error)) {
            return std::nullopt;
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = ParseArguments(argc, argv, error);
    if (!options) {
        std::cerr << "onyx-simulator: " << error << "\nTry onyx-simulator --help\n";
        return 2;
    }
    if (options->help) {
        std::cout << Usage;
        return 0;
    }

    // Blocked before the logger's thread starts, so only sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::LoggerConfig config = options->config;
    if (!options->replay.empty()) {
        std::ifstream file(options->replay, std::ios::binary);
        if (!file) {
            std::cerr << "onyx-simulator: cannot read the trace " << options->replay << ": "
                      << std::strerror(errno) << "\n";
            return 1;
        }
        auto trace = sim::ReplayTrace::Read(file, options->replayPort, error);
        if (!trace) {
            std::cerr << "onyx-simulator: cannot replay " << options->replay << ": " << error
                      << "\n";
            return 1;
        }
        config.replies = [replay = std::make_shared<sim::ReplayTrace>(std::move(*trace))](
                             const std::vector<std::uint8_t>& frame) {
            auto reply = replay->Next(frame);
            if (!reply) {
                const std::size_t recorded = replay->Recorded(frame);
                std::cerr << "onyx-simulator: "
                          << (recorded == 0 ? std::string("not in the trace")
                                            : "replies used up (the trace holds " +
                                                  std::to_string(recorded) + ")")
                          << ", no reply: " << sim::HexText(frame) << std::endl;
                return sim::ReplayTrace::Reply();
            }
            return *reply;
        };
    }
    sim::SimulatedLogger logger(config);
    for (const auto& fault : options->faults) {
        logger.InjectFault(fault);
    }
    if (const int result = logger.Start(); result != 0) {
        std::cerr << "onyx-simulator: cannot start the simulated logger on a pseudo-terminal"
                  << (options->config.portName.empty() ? "" : " as " + options->config.portName)
                  << ": " << std::strerror(result) << "\n";
        return 1;
    }
    std::cout << "Simulated logger ready on " << logger.SlavePath() << " as " << logger.PortName()
              << std::endl;

    int signal = 0;
    sigwait(&stopSignals, &signal);
    logger.Stop(); // unpublishes the port name
    std::cerr << "onyx-simulator: stopped (" << strsignal(signal) << ")\n";
    return 0;
}
