// onyx-bench: how close the link and the memory dump come to what the serial
// line allows, how exact the read time-outs are, and what waiting and dumping
// cost in CPU time and memory. Runs against the simulated logger and a bare
// pseudo-terminal; nothing here needs a real logger.

#include "Pty.h"
#include "SimulatedLogger.h"
#include "calibration/CalibrationLog.h"
#include "communication/LinkSession.h"
#include "communication/Protocols.h"
#include "communication/ResultCodes.h"
#include "communication/serial/SERIAL.h"
#include "communication/serial/VirtualPorts.h"
#include "operations/Operations.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The memory image a dump reads: 1024 blocks of region 1 and 32 of region 2.
constexpr std::uint32_t DumpBlocks = sim::ImageSize / BlockSize;
constexpr std::uint32_t LastRegionBlocks = 32;

// The line: 9600 baud, 10 bits a byte (start, 8 data, stop).
constexpr double SecondsPerByte = 10.0 / 9600.0;
// A ReadMemory request with N and a 3-byte address (9 bytes) and its 256-byte reply (259).
constexpr double RequestBytes = 9;
constexpr double ReplyBytes = 259;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The shortest time n blocks can take on the line, the 50 ms pause after each included.
double LineLimitSeconds(std::uint32_t blocks) {
    const double pause = std::chrono::duration<double>(CommandPause).count();
    return blocks * ((RequestBytes + ReplyBytes) * SecondsPerByte + pause);
}

std::string UniqueName(std::string_view prefix) {
    return std::string(prefix) + std::to_string(getpid() % 1000000);
}

// A scratch folder removed on the way out.
class ScratchFolder {
public:
    ScratchFolder() : path(fs::temp_directory_path() / ("onyx-bench-" + std::to_string(getpid()))) {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    fs::path path;
};

// The dump file against the logger's memory from `first` on, one block at a time,
// so that checking does not add to the memory a dump's measurement sees.
bool MatchesMemory(const fs::path& file, const sim::SimulatedLogger& logger, std::uint32_t first,
                   std::uint32_t blocks) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::uint8_t> block(BlockSize);
    for (std::uint32_t i = 0; i < blocks; ++i) {
        if (!in.read(reinterpret_cast<char*>(block.data()), BlockSize) ||
            block != logger.Memory(first + i * BlockSize, BlockSize)) {
            return false;
        }
    }
    return in.peek() == std::ifstream::traits_type::eof();
}

int Fail(const char* what, std::int32_t code) {
    if (code > 0) {
        std::fprintf(stderr, "onyx-bench: %s: system error %d (%s)\n", what, code,
                     std::strerror(code));
    } else {
        std::fprintf(stderr, "onyx-bench: %s: %s\n", what, LinkErrorText(code).c_str());
    }
    return 1;
}

// The last `blocks` blocks of the image, the way DumpMemory reads them: ReadMemory
// of 256 bytes with 5 attempts at 300 ms, each block written to the file as it
// arrives, then the pause. DumpMemory itself always reads the whole image.
std::int32_t DumpLastBlocks(const std::string& portName, const fs::path& file, std::uint32_t blocks,
                            bool pauses) {
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr) {
        return Raw(OP_ERR_FILE_OPEN);
    }
    LinkSession link(pauses ? Protocols::Sleeper{} : Protocols::Sleeper{[](milliseconds) {}});
    std::int32_t result = link.Open(portName);
    link.Configure(Protocols::DefaultTimeout, ST_Base_Protocol::DefaultRetryCount);
    std::array<std::uint8_t, BlockSize> block{};
    for (std::uint32_t i = DumpBlocks - blocks; result == LINK_OK && i < DumpBlocks; ++i) {
        result = link.ReadMemory(i * BlockSize, block);
        if (result == LINK_OK && std::fwrite(block.data(), 1, block.size(), out) != block.size()) {
            result = Raw(OP_ERR_FILE_WRITE);
        }
        if (result == LINK_OK) {
            link.Pause();
        }
    }
    link.Close();
    if (std::fclose(out) != 0 && result == LINK_OK) {
        result = Raw(OP_ERR_FILE_WRITE);
    }
    return result;
}

// One dump of `blocks` blocks against a fresh simulated logger; the whole image
// through DumpMemory, fewer through DumpLastBlocks. Checks the file against the
// logger's memory. Returns the wall time, or a negative value on failure.
double TimedDump(std::uint32_t blocks, sim::Pacing pacing, bool pauses) {
    sim::LoggerConfig config;
    config.pacing = pacing;
    config.portName = UniqueName("Bench");
    sim::SimulatedLogger logger(config);
    if (const int error = logger.Start(); error != 0) {
        Fail("starting the simulated logger", error);
        return -1;
    }
    ScratchFolder scratch;
    const fs::path file = scratch.path / "dump.hex";
    const auto noPause = [](milliseconds) {};

    const auto start = Clock::now();
    const std::int32_t result =
        blocks == DumpBlocks
            ? DumpMemory(logger.PortName(), file.string(),
                         pauses ? Protocols::Sleeper{} : Protocols::Sleeper{noPause})
                  .Number()
            : DumpLastBlocks(logger.PortName(), file, blocks, pauses);
    const auto elapsed = Clock::now() - start;
    if (result != LINK_OK) {
        Fail("dump", result);
        return -1;
    }
    const std::uint32_t first = (DumpBlocks - blocks) * BlockSize;
    if (!MatchesMemory(file, logger, first, blocks)) {
        std::fprintf(stderr, "onyx-bench: the dump file differs from the logger's memory\n");
        return -1;
    }
    return Seconds(elapsed);
}

std::uint32_t ParseBlocks(const char* text) {
    const long value = std::strtol(text, nullptr, 10);
    return value >= 1 && value <= static_cast<long>(DumpBlocks) ? static_cast<std::uint32_t>(value)
                                                                : 0;
}

int Dump(std::uint32_t blocks) {
    std::printf("dump: %u blocks (%s) from the simulated logger at 9600 baud...\n", blocks,
                blocks == DumpBlocks ? "DumpMemory, the whole image"
                                     : "the last blocks, ReadMemory loop with DumpMemory's pauses");
    std::fflush(stdout);
    const double measured = TimedDump(blocks, sim::Pacing::Baud9600, true);
    if (measured < 0) {
        return 1;
    }
    const double limit = LineLimitSeconds(blocks);
    std::printf("dump: %u blocks: measured %.2f s, line limit %.2f s, ratio %.3f\n", blocks,
                measured, limit, measured / limit);
    return 0;
}

// Error statistics of a series of time-out measurements, in ms.
void PrintErrors(const char* what, std::vector<double> errors) {
    std::sort(errors.begin(), errors.end());
    const double median = errors[errors.size() / 2];
    const double worst = std::max(std::fabs(errors.front()), std::fabs(errors.back()));
    std::printf(
        "timeouts: %-40s runs %zu, median error %+.2f ms, worst %.2f ms, range %+.2f..%+.2f ms\n",
        what, errors.size(), median, worst, errors.front(), errors.back());
}

// A bare pseudo-terminal published under a name CSerial opens; the bench writes
// the device's bytes on the master side.
struct BenchPort {
    sim::Pty pty;
    std::string name = UniqueName("BenchTo");
    bool published = false;
    BenchPort() { published = pty.IsOpen() && virtual_ports::Publish(name, pty.SlavePath()) == 0; }
    ~BenchPort() {
        if (published) {
            virtual_ports::Unpublish(name, pty.SlavePath());
        }
    }
    BenchPort(const BenchPort&) = delete;
    BenchPort& operator=(const BenchPort&) = delete;
    std::string PortName() const { return name + ":"; }
};

int Timeouts(int runs) {
    BenchPort line;
    if (!line.published) {
        return Fail("opening a pseudo-terminal", line.pty.Error() != 0 ? line.pty.Error() : EIO);
    }
    CSerial port;
    if (const std::int32_t result = port.Open(line.PortName().c_str(), 2048, 2048); result != 0) {
        return Fail("opening the port", result);
    }

    // Total time-out: nothing arrives; a read of n bytes ends after n + C ms.
    constexpr std::uint32_t Constant = 50;
    constexpr std::uint32_t Count = 22;
    std::vector<double> total;
    port.SetTimeouts(Constant);
    for (int i = 0; i < runs; ++i) {
        std::array<std::uint8_t, Count> buffer{};
        std::uint32_t got = 0;
        const auto start = Clock::now();
        const std::int32_t result = port.Read(buffer.data(), Count, &got);
        const auto elapsed = Clock::now() - start;
        if (result != LINK_ERR_TIMEOUT) {
            return Fail("a read on a silent line", result);
        }
        total.push_back(Milliseconds(elapsed) - (Count + Constant));
    }

    // Inter-byte time-out: a few bytes, then silence; the read ends 100 ms after
    // the last byte. The total time-out is far away, so only the gap can end it.
    port.SetTimeouts(2000);
    std::vector<double> gap;
    for (int i = 0; i < runs; ++i) {
        Clock::time_point sent;
        std::thread device([&] {
            std::this_thread::sleep_for(milliseconds(20));
            const std::uint8_t bytes[5] = {1, 2, 3, 4, 5};
            sent = Clock::now();
            if (write(line.pty.MasterFd(), bytes, sizeof bytes) != sizeof bytes) {
                std::abort();
            }
        });
        std::array<std::uint8_t, 64> buffer{};
        std::uint32_t got = 0;
        const std::int32_t result = port.Read(buffer.data(), buffer.size(), &got);
        const auto end = Clock::now();
        device.join();
        if (result != LINK_OK || got != 5) {
            return Fail("a read of five bytes", result != LINK_OK ? result : Raw(LINK_ERR_CRC));
        }
        gap.push_back(Milliseconds(end - sent) - CSerial::ReadIntervalTimeout);
    }
    PrintErrors("total (22 bytes + 50 ms, nothing comes):", total);
    PrintErrors("inter-byte (100 ms after the last byte):", gap);
    return 0;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int IdleCpu(int seconds) {
    BenchPort line;
    if (!line.published) {
        return Fail("opening a pseudo-terminal", line.pty.Error() != 0 ? line.pty.Error() : EIO);
    }
    CSerial port;
    if (const std::int32_t result = port.Open(line.PortName().c_str(), 2048, 2048); result != 0) {
        return Fail("opening the port", result);
    }
    // The self-test's wait: one read of its 4-byte reply with a long time-out, on a
    // logger that stays silent.
    port.SetTimeouts(static_cast<std::uint32_t>(seconds) * 1000u);
    std::array<std::uint8_t, 4> reply{};
    std::uint32_t got = 0;
    const double cpuBefore = CpuSeconds();
    const auto start = Clock::now();
    const std::int32_t result = port.Read(reply.data(), reply.size(), &got);
    const double wall = Seconds(Clock::now() - start);
    const double cpu = CpuSeconds() - cpuBefore;
    if (result != LINK_ERR_TIMEOUT) {
        return Fail("the silent read", result);
    }
    std::printf("idle-cpu: a %d s read on a silent line took %.3f s and used %.2f ms of CPU "
                "(%.4f%% of one core)\n",
                seconds, wall, cpu * 1000.0, 100.0 * cpu / wall);
    return 0;
}

// Peak resident size of this process so far, in KiB.
long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Runs in a child of its own, so each dump's peak is its own.
int MemoryRun(std::uint32_t blocks) {
    const double seconds = TimedDump(blocks, sim::Pacing::FullSpeed, false);
    if (seconds < 0) {
        return 1;
    }
    std::printf("memory-run: %u blocks in %.2f s, peak RSS %ld KiB\n", blocks, seconds,
                PeakRssKiB());
    return 0;
}

// The peak RSS of `self memory-run blocks`, from its exit; -1 on failure.
long ChildPeakRss(const char* self, std::uint32_t blocks) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        const std::string count = std::to_string(blocks);
        execl(self, self, "memory-run", count.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return usage.ru_maxrss;
}

int Memory() {
    // /proc/self/exe: the same program, whatever the current directory.
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    // The last region, half the image and the whole image: a dump that kept what
    // it read would show the second half in the last figure.
    const std::uint32_t sizes[] = {LastRegionBlocks, DumpBlocks / 2, DumpBlocks};
    long peaks[3] = {};
    for (std::size_t i = 0; i < 3; ++i) {
        peaks[i] = ChildPeakRss(self.c_str(), sizes[i]);
        if (peaks[i] < 0) {
            std::fprintf(stderr, "onyx-bench: the memory run of %u blocks failed\n", sizes[i]);
            return 1;
        }
    }
    std::printf("memory: peak RSS %ld KiB for %u blocks, %ld KiB for %u, %ld KiB for %u "
                "(the second half of the image added %+ld KiB)\n",
                peaks[0], sizes[0], peaks[1], sizes[1], peaks[2], sizes[2], peaks[2] - peaks[1]);
    return 0;
}

// LogTime.csv of `lines` lines, every other one completed: how long reading it
// whole (with its line states) and one change under the lock (a start's record)
// take, against the second a user waits at most for the dialog's list.
int Log(std::size_t lines) {
    ScratchFolder scratch;
    const fs::path path = CalibrationLog::PathIn(scratch.path);
    {
        std::ofstream out(path, std::ios::binary);
        for (std::size_t i = 0; i < lines; ++i) {
            out << (1000000 + i) << ",11/17/06 14:03:22";
            if (i % 2 == 0) {
                out << ",11/18/06 14:05:10,  23.456, 2 s/day";
            }
            out << "\r\n";
        }
    }
    CalibrationLog log(path);
    const auto before = Clock::now();
    if (log.Load().status != CalibrationLog::LoadStatus::Loaded || log.Count() != lines) {
        std::fprintf(stderr, "onyx-bench: the log of %zu lines did not load\n", lines);
        return 1;
    }
    std::size_t completed = 0;
    for (std::size_t i = 0; i < log.Count(); ++i) {
        completed += log.IsCompleted(i) ? 1 : 0;
    }
    const auto loaded = Clock::now();
    if (log.AppendLine("9999999,11/17/06 14:03:22").Failed()) {
        std::fprintf(stderr, "onyx-bench: the change to the log of %zu lines failed\n", lines);
        return 1;
    }
    const auto changed = Clock::now();
    std::printf("log: %zu lines (%zu completed): load %.1f ms (limit 1000 ms for 10000 lines), "
                "one change under the lock %.1f ms\n",
                lines, completed, Milliseconds(loaded - before), Milliseconds(changed - loaded));
    return 0;
}

int Usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: onyx-bench COMMAND [ARGUMENT]\n"
                 "  dump [BLOCKS]      dump at 9600 baud against the line's limit; BLOCKS 1056\n"
                 "                     (default, the whole image through DumpMemory, ~6 min) or\n"
                 "                     fewer (the last BLOCKS blocks, e.g. 32: ~11 s)\n"
                 "  timeouts [RUNS]    accuracy of the total and inter-byte read time-outs\n"
                 "                     (default 50 runs each)\n"
                 "  idle-cpu [SECONDS] CPU time used by a long read on a silent line\n"
                 "                     (default 15 s)\n"
                 "  memory             peak RSS of full-speed dumps of 32, 528 and 1056 blocks\n"
                 "  log [LINES]        loading LogTime.csv of LINES lines (default 10000) and\n"
                 "                     one change to it under its lock\n");
    return out == stdout ? 0 : 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage(stderr);
    }
    const std::string_view command = argv[1];
    const char* argument = argc > 2 ? argv[2] : nullptr;
    if (command == "dump") {
        const std::uint32_t blocks = argument != nullptr ? ParseBlocks(argument) : DumpBlocks;
        return blocks == 0 ? Usage(stderr) : Dump(blocks);
    }
    if (command == "timeouts") {
        const int runs = argument != nullptr ? std::atoi(argument) : 50;
        return runs < 1 ? Usage(stderr) : Timeouts(runs);
    }
    if (command == "idle-cpu") {
        const int seconds = argument != nullptr ? std::atoi(argument) : 15;
        return seconds < 1 || seconds > 3600 ? Usage(stderr) : IdleCpu(seconds);
    }
    if (command == "memory") {
        return Memory();
    }
    if (command == "log") {
        const long lines = argument != nullptr ? std::atol(argument) : 10000;
        return lines < 1 ? Usage(stderr) : Log(static_cast<std::size_t>(lines));
    }
    if (command == "memory-run" && argument != nullptr && ParseBlocks(argument) != 0) {
        return MemoryRun(ParseBlocks(argument));
    }
    if (command == "--help" || command == "-h" || command == "help") {
        return Usage(stdout);
    }
    return Usage(stderr);
}
