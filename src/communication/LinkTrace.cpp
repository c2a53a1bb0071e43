#include "communication/LinkTrace.h"

#include "communication/ResultCodes.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>

#ifdef _WIN32
#include "files/WidePath.h"

#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace link_trace {

namespace {

// The message waiting for TakeStoppedMessage.
std::mutex pendingMutex;
std::string pending;

std::string Shown(std::string path) {
#ifdef _WIN32
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}

#ifdef _WIN32
using Handle = HANDLE;
const Handle NoHandle = INVALID_HANDLE_VALUE;

int LastError() {
    return static_cast<int>(GetLastError());
}

// 0, or the system's code.
int WriteAll(Handle file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                       nullptr)) {
            return LastError();
        }
        if (written == 0) {
            return ERROR_WRITE_FAULT;
        }
        done += written;
    }
    return 0;
}

void CloseFile(Handle file) {
    CloseHandle(file);
}
#else
using Handle = int;

// A pipe whose reader stays but reads nothing must not hold the link: the file is
// non-blocking, and a line waits this long for room before the trace gives up.
constexpr int StalledReaderMs = 5000;
// The code WriteAll gives for that; no system code has this value.
constexpr int StalledReader = -1;

int WriteAll(Handle file, const std::string& bytes) {
    std::size_t done = 0;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(StalledReaderMs);
    while (done < bytes.size()) {
        const ssize_t written = ::write(file, bytes.data() + done, bytes.size() - done);
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd entry{file, POLLOUT, 0};
            if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) == 0) {
                return StalledReader;
            }
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written < 0 ? errno : ENOSPC;
        }
        done += static_cast<std::size_t>(written);
    }
    return 0;
}

void CloseFile(Handle file) {
    ::close(file);
}
#endif

std::string WriteErrorText(int error) {
#ifndef _WIN32
    if (error == StalledReader) {
        return "nothing was read from it for " + std::to_string(StalledReaderMs / 1000) +
               " seconds";
    }
#endif
    return SystemErrorText(error);
}

} // namespace

class TraceFile {
public:
    TraceFile(Handle opened, std::string path, StopHandler onStopped)
        : file(opened), path(std::move(path)), onStopped(std::move(onStopped)) {}
    ~TraceFile() { CloseFile(file); }
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    // One whole line, stamped with the local date and time to the millisecond. A
    // line that cannot be written stops the trace.
    void WriteLine(const std::string& text) {
        std::string message;
        {
            std::lock_guard lock(mutex);
            if (failed) {
                return;
            }
            const int error = WriteAll(file, Stamp() + " " + text + "\n");
            if (error == 0) {
                return;
            }
            failed = true;
            TraceFile* self = this;
            detail::active.compare_exchange_strong(self, nullptr);
            message = "The link trace to " + Shown(path) + " stopped: " + WriteErrorText(error);
        }
        {
            std::lock_guard lock(pendingMutex);
            pending = message;
        }
        if (onStopped) {
            onStopped(message);
        }
    }

private:
    static std::string Stamp() {
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
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(millis));
        return std::string(stamp, length) + fraction;
    }

    std::mutex mutex;
    Handle file;
    std::string path;
    StopHandler onStopped;
    bool failed = false;
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

int Start(const std::string& path, StopHandler onStopped) {
    Stop();
    {
        std::lock_guard lock(pendingMutex);
        pending.clear();
    }
#ifdef _WIN32
    // By its UTF-16 name, so that a folder such as C:\Users\Zoë works, and in its
    // long form where it is longer than MAX_PATH.
    const Handle file =
        CreateFileW(LongPath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == NoHandle) {
        return LastError();
    }
#else
    // A reader that went away must be a write error, not the end of the program.
    std::signal(SIGPIPE, SIG_IGN);
    // Non-blocking: a FIFO without a reader fails at once (ENXIO) instead of
    // holding the program until one comes, and a reader that stops reading cannot
    // hold the link (see WriteAll).
    const Handle file =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (file < 0) {
        return errno;
    }
#endif
    Owner() = std::make_unique<TraceFile>(file, path, std::move(onStopped));
    detail::active.store(Owner().get(), std::memory_order_release);
    return 0;
}

std::string StartFailure(const std::string& path, int error) {
    std::string reason = SystemErrorText(error);
#ifndef _WIN32
    if (error == ENXIO) {
        reason = "no program is reading from it";
    }
#endif
    return "cannot open the trace file " + Shown(path) + ": " + reason;
}

void Stop() {
    detail::active.store(nullptr, std::memory_order_release);
    Owner().reset();
}

std::string TakeStoppedMessage() {
    std::lock_guard lock(pendingMutex);
    std::string message;
    message.swap(pending);
    return message;
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
