// onyx-wine-link-harness: stands a simulated logger behind a Wine COM port and runs
// the Windows link tests, or the program itself, against it.
//
//   onyx-wine-link-harness [--program PROGRAM-FOLDER | --serve] DOSDEVICES -- COMMAND [ARGS...]
//
// Starts the simulated logger on a pseudo-terminal, links DOSDEVICES/com5 to it (Wine
// presents the link as COM5), runs COMMAND (the Windows test program under Wine) with
// a time limit, then checks what the logger received: every ReadMemory request must be
// exactly the serial-number read's frame, the silent command must have been tried, and
// no frame may have been dropped as damaged. Exits non-zero on any failure.
//
// With --program the logger answers everything and its self-test fails test 7; the
// port also goes into the spooler's registry key, which is what puts COM5: into the
// program's COM port box (ONYX_WINE names Wine's program). The logger must then have been asked for
// the information twice and for one self-test: Read Wellscribe Info, then Run Self-Test.
// The program driver then steers the logger through files in DOSDEVICES/../drive_c/
// onyx-link ("silence", "answer", "clock-offset S", "clock": the logger clock's offset
// in the answer, "cut N": hang up after N blocks of a dump, writing the time of the
// cut to cut-time), and leaves two dumps in PROGRAM-FOLDER: full.hex,
// which must be the logger's memory byte for byte, and the cut dump, which must be
// whole blocks of it from the start. With --serve the logger only answers, and only the
// driver's own verdict counts.

#include "SimulatedLogger.h"
#include "WineLink.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

const Bytes SerialNumberRead{0x00, 0x63, 0xFF, 0x02, 0x04, 0x00, 0x24, 0xE5, 0x5D};

std::string Hex(const Bytes& bytes) {
    std::string text;
    char two[4];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(two, sizeof two, "%02X ", byte);
        text += two;
    }
    if (!text.empty()) {
        text.pop_back();
    }
    return text;
}

// Runs the command; its exit status, or -1 when it could not run or outlived the limit
// (it is killed, with its process group, then).
int RunWithLimit(char** command, std::chrono::seconds limit) {
    const pid_t child = fork();
    if (child < 0) {
        std::perror("onyx-wine-link-harness: fork");
        return -1;
    }
    if (child == 0) {
        setpgid(0, 0);
        execvp(command[0], command);
        std::perror("onyx-wine-link-harness: exec");
        _exit(127);
    }
    setpgid(child, child);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (true) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            std::perror("onyx-wine-link-harness: waitpid");
            return -1;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            std::cerr << "onyx-wine-link-harness: the tests outlived " << limit.count()
                      << " s; killing them\n";
            kill(-child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(50ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs Wine's program with the arguments, bounded in time; its exit status.
int RunWine(const char* variable, std::vector<std::string> arguments) {
    const char* program = std::getenv(variable);
    if (program == nullptr) {
        std::cerr << "onyx-wine-link-harness: " << variable << " is not set\n";
        return -1;
    }
    arguments.insert(arguments.begin(), program);
    std::vector<char*> command;
    for (std::string& argument : arguments) {
        command.push_back(argument.data());
    }
    command.push_back(nullptr);
    return RunWithLimit(command.data(), 60s);
}

// The spooler lists the ports of its own key, COM1: to COM4: out of the box: there
// COM5: takes their place, so that it is the program's first (and selected) port. The
// spooler reads the key whenever it is asked, so the Wine server (which the Windows run
// keeps for all its programs) goes on; COM5 itself is the link in the device map.
bool EnterPortInRegistry() {
    const std::string com = "COM" + std::to_string(wine_link::ComNumber);
    const std::string spooler = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
    const bool entered = RunWine("ONYX_WINE", {"reg", "add", spooler, "/v", com + ":", "/d",
                                               "9600,n,8,1", "/f"}) == 0;
    for (int other = 1; other <= 4; ++other) {
        RunWine("ONYX_WINE",
                {"reg", "delete", spooler, "/v", "COM" + std::to_string(other) + ":", "/f"});
    }
    return entered;
}

int CheckProgramRequests(const sim::SimulatedLogger& logger) {
    std::string letters;
    for (const auto& request : logger.Requests()) {
        letters += static_cast<char>(request.Letter());
    }
    std::cout << "The logger received the commands " << letters.substr(0, 40)
              << (letters.size() > 40 ? "..." : "") << " (" << letters.size() << ")\n";
    // Read Wellscribe Info (given again when Wine took a click as activation only),
    // then Run Self-Test, which reads the information first: the self-test once.
    if (!std::regex_search(letters, std::regex("^(cckac){2,}z[^z]*$"))) {
        std::cerr << "FAILED: expected the commands to begin cckaccckacz, with one z\n";
        return 1;
    }
    return 0;
}

long long UnixMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::size_t CountOf(const sim::SimulatedLogger& logger, std::uint8_t letter) {
    std::size_t count = 0;
    for (const auto& request : logger.Requests()) {
        count += request.Letter() == letter ? 1 : 0;
    }
    return count;
}

// Carries out the program driver's commands on the logger until told to stop.
// The attempts of Read Wellscribe Info's first command.
constexpr std::size_t SilentAttempts = 5;

void SteerLogger(sim::SimulatedLogger& logger, const std::filesystem::path& folder,
                 const std::atomic<bool>& stop, std::atomic<int>& failures) {
    std::optional<std::size_t> cutAfter; // ReadMemory requests before the hang-up
    std::size_t silentFrom = 0;
    while (!stop) {
        std::this_thread::sleep_for(5ms);
        if (cutAfter && CountOf(logger, 'c') >= *cutAfter) {
            logger.Vanish();
            std::ofstream(folder / "cut-time") << UnixMilliseconds() << "\n";
            std::cout << "The line was cut after " << CountOf(logger, 'c') << " ReadMemory requests"
                      << std::endl;
            cutAfter.reset();
        }
        std::ifstream in(folder / "command");
        std::string word;
        std::size_t number = 0;
        if (!(in >> word)) {
            continue;
        }
        in >> number;
        in.close();
        std::error_code ignored;
        std::filesystem::remove(folder / "command", ignored);
        if (word == "silence" || word == "answer") {
            silentFrom = word == "silence" ? logger.Requests().size() : silentFrom;
        }
        if (word == "answer") {
            // A silent logger is asked as often as the command's attempts say, no more.
            const auto requests = logger.Requests();
            const std::size_t asked = requests.size() - silentFrom;
            std::cout << "While silent the logger was asked " << asked << " times";
            if (asked > 0) {
                std::cout << " within "
                          << std::chrono::duration_cast<std::chrono::milliseconds>(
                                 requests.back().firstByte - requests[silentFrom].firstByte)
                                 .count()
                          << " ms";
            }
            std::cout << std::endl;
            if (asked != SilentAttempts) {
                std::cerr << "FAILED: expected " << SilentAttempts << " attempts\n";
                ++failures;
            }
        }
        if (word == "silence") {
            sim::Fault silence;
            silence.kind = sim::FaultKind::Silence;
            silence.count = sim::EveryRequest;
            logger.InjectFault(silence);
        } else if (word == "answer") {
            logger.ClearFaults();
        } else if (word == "cut") {
            // The dump reads the information first (three ReadMemory requests), then
            // one block a request.
            cutAfter = CountOf(logger, 'c') + 3 + number;
        }
        std::string answer = "ok";
        if (word == "clock-offset") {
            // The logger's clock off by the number of seconds, for the program to set.
            logger.SetClockOffset(static_cast<double>(number));
        } else if (word == "clock") {
            // How far the logger's clock is now from the PC's, in whole seconds.
            answer = std::to_string(std::lround(logger.ClockOffsetSeconds()));
        }
        std::cout << "Driver: " << word << (word == "clock" ? " " + answer : "") << std::endl;
        std::ofstream(folder / "ack.new") << answer << "\n";
        std::filesystem::rename(folder / "ack.new", folder / "ack", ignored);
    }
}

// The dumps the program driver left: full.hex is the whole memory, the other .hex
// file whole blocks from the start of it.
int CheckDumps(const sim::SimulatedLogger& logger, const std::filesystem::path& folder) {
    const std::vector<std::uint8_t> memory = logger.Memory(0, sim::ImageSize);
    int failures = 0;
    bool full = false;
    bool cut = false;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() != ".hex") {
            continue;
        }
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        const bool isFull = entry.path().filename() == "full.hex";
        (isFull ? full : cut) = true;
        const bool whole = bytes.size() % 256 == 0 && bytes.size() <= memory.size() &&
                           std::equal(bytes.begin(), bytes.end(), memory.begin());
        if (!whole || (isFull && bytes.size() != memory.size()) || (!isFull && bytes.empty())) {
            std::cerr << "FAILED: " << entry.path() << " (" << bytes.size() << " bytes) is not "
                      << (isFull ? "the logger's memory" : "whole blocks of it") << "\n";
            ++failures;
        } else {
            std::cout << entry.path().filename().string() << ": " << bytes.size() / 256
                      << " whole blocks, byte for byte the logger's memory\n";
        }
    }
    if (!full || !cut) {
        std::cerr << "FAILED: expected full.hex and the cut dump in " << folder << "\n";
        ++failures;
    }
    return failures;
}

} // namespace

int main(int argc, char** argv) {
    // --serve: the logger for the program, with only the driver's verdict checked.
    const bool serveOnly = argc > 1 && std::string(argv[1]) == "--serve";
    const bool program = serveOnly || (argc > 2 && std::string(argv[1]) == "--program");
    std::filesystem::path programFolder;
    if (serveOnly) {
        argc -= 1;
        argv += 1;
    } else if (program) {
        programFolder = argv[2];
        argc -= 2;
        argv += 2;
    }
    if (argc < 4 || std::string(argv[2]) != "--") {
        std::cerr << "Usage: onyx-wine-link-harness [--program PROGRAM-FOLDER | --serve] "
                     "DOSDEVICES -- COMMAND [ARGS...]\n";
        return 2;
    }
    const std::filesystem::path control =
        std::filesystem::path(argv[1]) / ".." / "drive_c" / "onyx-link";
    const std::filesystem::path link =
        std::filesystem::path(argv[1]) / ("com" + std::to_string(wine_link::ComNumber));

    sim::LoggerConfig config;
    config.serialNumber = wine_link::SerialNumber;
    config.selfTestMask = program ? 0x40 : 0;
    sim::SimulatedLogger logger(config);
    sim::Fault silence;
    silence.kind = sim::FaultKind::Silence;
    silence.letter = wine_link::SilentCommand;
    silence.count = sim::EveryRequest;
    if (!program) {
        logger.InjectFault(silence);
    }
    if (const int error = logger.Start(); error != 0) {
        std::cerr << "onyx-wine-link-harness: cannot start the simulated logger: "
                  << std::strerror(error) << "\n";
        return 1;
    }

    std::error_code ignored;
    std::filesystem::remove(link, ignored);
    std::error_code linkError;
    std::filesystem::create_symlink(logger.SlavePath(), link, linkError);
    if (linkError) {
        std::cerr << "onyx-wine-link-harness: cannot link " << link << ": " << linkError.message()
                  << "\n";
        return 1;
    }
    std::cout << "Simulated logger on " << logger.SlavePath() << " as " << link << std::endl;
    if (program && !EnterPortInRegistry()) {
        std::cerr << "FAILED: cannot enter COM" << wine_link::ComNumber << " in Wine's registry\n";
        return 1;
    }

    std::atomic<bool> stopSteering{false};
    std::atomic<int> steeringFailures{0};
    std::thread steering;
    if (program) {
        std::error_code ignoredError;
        std::filesystem::remove_all(control, ignoredError);
        std::filesystem::create_directories(control);
        steering = std::thread(SteerLogger, std::ref(logger), control, std::cref(stopSteering),
                               std::ref(steeringFailures));
    }
    const int testsStatus = RunWithLimit(argv + 3, 900s);
    stopSteering = true;
    if (steering.joinable()) {
        steering.join();
    }
    std::filesystem::remove(link, ignored);
    logger.Stop();

    int failures = 0;
    if (testsStatus != 0) {
        std::cerr << "FAILED: the Windows " << (program ? "program" : "link tests")
                  << " ended with status " << testsStatus << "\n";
        ++failures;
    }
    if (program) {
        if (!serveOnly) {
            failures += CheckProgramRequests(logger);
            failures += CheckDumps(logger, programFolder);
        }
        failures += steeringFailures;
        std::string verdict;
        std::ifstream(control / "result") >> verdict;
        if (verdict != "passed") {
            std::cerr << "FAILED: the program driver reported "
                      << (verdict.empty() ? "nothing" : verdict) << "\n";
            ++failures;
        }
        if (logger.DiscardedFrames() != 0) {
            std::cerr << "FAILED: the logger dropped " << logger.DiscardedFrames()
                      << " damaged frame(s)\n";
            ++failures;
        }
        return failures == 0 ? 0 : 1;
    }
    std::size_t reads = 0;
    std::size_t silent = 0;
    for (const auto& request : logger.Requests()) {
        if (request.Letter() == 'c') {
            ++reads;
            if (request.frame != SerialNumberRead) {
                std::cerr << "FAILED: ReadMemory request " << Hex(request.frame) << ", expected "
                          << Hex(SerialNumberRead) << "\n";
                ++failures;
            }
        } else if (request.Letter() == wine_link::SilentCommand) {
            ++silent;
        }
    }
    std::cout << "The logger received " << reads << " ReadMemory request(s) and " << silent
              << " to the silent command\n";
    if (reads == 0) {
        std::cerr << "FAILED: no ReadMemory request reached the logger\n";
        ++failures;
    }
    if (silent == 0) {
        std::cerr << "FAILED: no request reached the silent command\n";
        ++failures;
    }
    if (logger.DiscardedFrames() != 0) {
        std::cerr << "FAILED: the logger dropped " << logger.DiscardedFrames()
                  << " damaged frame(s)\n";
        ++failures;
    }
    if (failures == 0) {
        std::cout << "Requests as expected: " << Hex(SerialNumberRead) << "\n";
    }
    return failures == 0 ? 0 : 1;
}
