#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

// The link trace for support: every frame sent and received, each purge and each
// time-out, appended as one line to a file named at start-up:
//
//   2026-12-08 01:33:00.662 open  ONYXDEMO2: result 0
//   2026-12-08 01:33:00.807 purge ONYXDEMO2:
//   2026-12-08 01:33:00.807 sent  ONYXDEMO2: 00 65 FF 10 6B
//   2026-12-08 01:33:01.129 time-out ONYXDEMO2: no reply within 322 ms attempt 1/5 result -200
//   2026-12-08 01:33:01.357 recv  ONYXDEMO2: 1C 30 38 ... 0F 26 attempt 2/5 result 0
//
// The trace is process-wide: the protocol objects of every operation write to it.
// It is off unless Start succeeds; when off, each call site costs one load of a
// pointer. Lines are written whole under a lock, so any thread may trace.
//
// The trace never harms the link: a line that cannot be written (a full disk, a
// pipe whose reader went away) stops the trace, and the program goes on. Start
// ignores SIGPIPE for the whole program, so that a closed pipe is a write error
// and not the end of the program.
namespace link_trace {

class TraceFile;

namespace detail {
extern std::atomic<TraceFile*> active;
}

// Called once, on the thread whose line failed, when the trace stops.
using StopHandler = std::function<void(const std::string& message)>;

// Opens path for appending and starts tracing. Returns 0 or the system's error
// code (errno, GetLastError on Windows): a FIFO that no program reads from is
// refused at once (ENXIO) rather than waited for. path is UTF-8 on Windows.
// onStopped, when given, is told when the trace stops; either way the message
// waits for TakeStoppedMessage. Call before any link is in use.
int Start(const std::string& path, StopHandler onStopped = {});

// The message for a failed Start: "cannot open the trace file <path>: <reason>",
// the path with the platform's separators.
std::string StartFailure(const std::string& path, int error);

// Stops tracing and closes the file. Call only when no link is in use.
void Stop();

// "The link trace to <file> stopped: <reason>" once after the trace stopped on a
// failed write; empty otherwise, and after it has been taken.
std::string TakeStoppedMessage();

inline bool Active() {
    return detail::active.load(std::memory_order_acquire) != nullptr;
}

// The line writers; each does nothing when the trace is off.
void Opened(std::string_view port, std::int32_t result);
void Purged(std::string_view port);
void Sent(std::string_view port, std::span<const std::uint8_t> frame, std::int32_t result);
void Received(std::string_view port, std::span<const std::uint8_t> frame, int attempt, int attempts,
              std::int32_t result);
void TimedOut(std::string_view port, std::uint32_t waitedMs, int attempt, int attempts,
              std::int32_t result);

} // namespace link_trace
