// onyx-wine-link-harness: stands a simulated logger behind a Wine COM port and runs
// the Windows link tests, or the program itself, against it.
//
//   onyx-wine-link-harness [--program] DOSDEVICES -- COMMAND [ARGS...]
//
// Starts the simulated logger on a pseudo-terminal, links DOSDEVICES/com5 to it (Wine
// presents the link as COM5), runs COMMAND (the Windows test program under Wine) with
// a time limit, then checks what the logger received: every ReadMemory request must be
// exactly the serial-number read's frame, the silent command must have been tried, and
// no frame may have been dropped as damaged. Exits non-zero on any failure.
//
// With --program the logger answers everything and its self-test fails test 7; the
// port also goes into Wine's registry (HKLM\Software\Wine\Ports), which is what puts
// COM5: into the spooler's port list and so into the program's COM port box (ONYX_WINE
// and ONYX_WINESERVER name Wine's programs). The logger must then have been asked for
// the information twice and for one self-test: Read Wellscribe Info, then Run Self-Test.

#include "SimulatedLogger.h"
#include "WineLink.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
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

// Wine's server reads its port map when it starts: stop it, enter the port, stop it.
// The spooler lists the ports of its own key, COM1: to COM4: out of the box: there
// COM5: takes their place, so that it is the program's first (and selected) port.
bool EnterPortInRegistry(const std::string& device) {
    const std::string com = "COM" + std::to_string(wine_link::ComNumber);
    const std::string spooler = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
    RunWine("ONYX_WINESERVER", {"-k"});
    RunWine("ONYX_WINESERVER", {"-w"});
    bool entered = RunWine("ONYX_WINE", {"reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", com,
                                         "/d", device, "/f"}) == 0 &&
                   RunWine("ONYX_WINE",
                           {"reg", "add", spooler, "/v", com + ":", "/d", "9600,n,8,1", "/f"}) == 0;
    for (int other = 1; other <= 4; ++other) {
        RunWine("ONYX_WINE",
                {"reg", "delete", spooler, "/v", "COM" + std::to_string(other) + ":", "/f"});
    }
    RunWine("ONYX_WINESERVER", {"-w"});
    return entered;
}

int CheckProgramRequests(const sim::SimulatedLogger& logger) {
    std::string letters;
    for (const auto& request : logger.Requests()) {
        letters += static_cast<char>(request.Letter());
    }
    std::cout << "The logger received the commands " << letters << "\n";
    // Read Wellscribe Info, then Run Self-Test (which reads the information first).
    if (letters != "cckaccckacz") {
        std::cerr << "FAILED: expected the commands cckaccckacz\n";
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool program = argc > 1 && std::string(argv[1]) == "--program";
    if (program) {
        --argc;
        ++argv;
    }
    if (argc < 4 || std::string(argv[2]) != "--") {
        std::cerr << "Usage: onyx-wine-link-harness [--program] DOSDEVICES -- COMMAND [ARGS...]\n";
        return 2;
    }
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
    if (program && !EnterPortInRegistry(logger.SlavePath())) {
        std::cerr << "FAILED: cannot enter COM" << wine_link::ComNumber << " in Wine's registry\n";
        return 1;
    }

    const int testsStatus = RunWithLimit(argv + 3, 240s);
    // Wine's server holds the terminal as long as it runs and is hung up when the logger
    // closes it; let it end first (ONYX_WINESERVER names it, for "wineserver -w").
    if (const char* wineserver = std::getenv("ONYX_WINESERVER"); wineserver != nullptr) {
        std::string server = wineserver;
        std::string wait = "-w";
        char* command[] = {server.data(), wait.data(), nullptr};
        RunWithLimit(command, 30s);
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
        failures += CheckProgramRequests(logger);
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
