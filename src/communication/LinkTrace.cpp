#include "communication/LinkTrace.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>

namespace link_trace {

class TraceFile {
public:
    explicit TraceFile(std::FILE* opened) : file(opened, std::fclose) {}

    // One whole line, stamped with the local date and time to the millisecond.
    void WriteLine(const std::string& text) {
        std::lock_guard lock(mutex);
        const auto now = std::chrono::system_clock::now();
        const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
        const auto millis =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
            1000;
        std::tm local{};
#ifdef _WIN32
        local = *std::localtime(&seconds); // per thread in the Windows runtime
#else
        localtime_r(&seconds, &local);
#endif
        char stamp[40];
        const std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        std::fprintf(file.get(), "%.*s.%03d %s\n", static_cast<int>(length), stamp,
                     static_cast<int>(millis), text.c_str());
        std::fflush(file.get());
    }

private:
    std::mutex mutex;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file;
};

namespace detail {
std::atomic<TraceFile*> active{nullptr};
}

namespace {

std::unique_ptr<TraceFile>& Owner() {
    static std::unique_ptr<TraceFile> owner;
    return owner;
}

void Write(const std::string& text) {
    if (TraceFile* trace = detail::active.load(std::memory_order_acquire)) {
        trace->WriteLine(text);
    }
}

std::string Hex(std::span<const std::uint8_t> bytes) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const std::uint8_t byte : bytes) {
        text += ' ';
        text += Digits[byte >> 4];
        text += Digits[byte & 0x0F];
    }
    return text;
}

std::string Attempt(int attempt, int attempts, std::int32_t result) {
    return " attempt " + std::to_string(attempt) + "/" + std::to_string(attempts) + " result " +
           std::to_string(result);
}

} // namespace

int Start(const std::string& path) {
    Stop();
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr) {
        return errno != 0 ? errno : EIO;
    }
    Owner() = std::make_unique<TraceFile>(file);
    detail::active.store(Owner().get(), std::memory_order_release);
    return 0;
}

void Stop() {
    detail::active.store(nullptr, std::memory_order_release);
    Owner().reset();
}

void Opened(std::string_view port, std::int32_t result) {
    if (Active()) {
        Write("open  " + std::string(port) + " result " + std::to_string(result));
    }
}

void Purged(std::string_view port) {
    if (Active()) {
        Write("purge " + std::string(port));
    }
}

void Sent(std::string_view port, std::span<const std::uint8_t> frame, std::int32_t result) {
    if (Active()) {
        Write("sent  " + std::string(port) + Hex(frame) +
              (result != 0 ? " result " + std::to_string(result) : std::string{}));
    }
}

void Received(std::string_view port, std::span<const std::uint8_t> frame, int attempt, int attempts,
              std::int32_t result) {
    if (Active()) {
        Write("recv  " + std::string(port) + Hex(frame) + Attempt(attempt, attempts, result));
    }
}

void TimedOut(std::string_view port, std::uint32_t waitedMs, int attempt, int attempts,
              std::int32_t result) {
    if (Active()) {
        Write("time-out " + std::string(port) + " no reply within " + std::to_string(waitedMs) +
              " ms" + Attempt(attempt, attempts, result));
    }
}

} // namespace link_trace
