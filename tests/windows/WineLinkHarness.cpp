// onyx-wine-link-harness: stands a simulated logger behind a Wine COM port and runs
// the Windows link tests against it.
//
//   onyx-wine-link-harness DOSDEVICES -- COMMAND [ARGS...]
//
// Starts the simulated logger on a pseudo-terminal, links DOSDEVICES/com5 to it (Wine
// presents the link as COM5), runs COMMAND (the Windows test program under Wine) with
// a time limit, then checks what the logger received: every ReadMemory request must be
// exactly the serial-number read's frame, the silent command must have been tried, and
// no frame may have been dropped as damaged. Exits non-zero on any failure.

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

} // namespace

int main(int argc, char** argv) {
    if (argc < 4 || std::string(argv[2]) != "--") {
        std::cerr << "Usage: onyx-wine-link-harness DOSDEVICES -- COMMAND [ARGS...]\n";
        return 2;
    }
    const std::filesystem::path link =
        std::filesystem::path(argv[1]) / ("com" + std::to_string(wine_link::ComNumber));

    sim::LoggerConfig config;
    config.serialNumber = wine_link::SerialNumber;
    sim::SimulatedLogger logger(config);
    sim::Fault silence;
    silence.kind = sim::FaultKind::Silence;
    silence.letter = wine_link::SilentCommand;
    silence.count = sim::EveryRequest;
    logger.InjectFault(silence);
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
        std::cerr << "FAILED: the Windows link tests ended with status " << testsStatus << "\n";
        ++failures;
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
