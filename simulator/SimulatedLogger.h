#pragma once

#include "Pty.h"
#include "communication/Encodings.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace sim {

// The content of logger memory that holds nothing in particular: every byte
// depends on all three bytes of its address, so no two 256-byte blocks match and
// a block read from the wrong address is caught.
std::uint8_t PatternByte(std::uint32_t address);

// The memory image a dump reads: 0x000000 to 0x041FFF.
constexpr std::uint32_t ImageSize = 0x042000;

// How fast the logger puts its bytes on the line.
enum class Pacing {
    FullSpeed, // as fast as the pseudo-terminal takes them (tests)
    Baud9600,  // one byte per 1.0417 ms both ways, like the real line
};

// Ways a reply can go wrong. The request's effect is applied in every case except
// Vanish; only what goes back on the line changes. A fault is used up only by a
// request that would have been answered (a refused write leaves it waiting).
enum class FaultKind {
    Silence,          // no reply at all
    WrongAcknowledge, // acknowledge byte matches neither sum, CRC correct over it
    BadCrc,           // correct acknowledge byte and payload, CRC wrong
    CutShort,         // only the first `bytes` bytes, then silence
    Split,            // the first `bytes` bytes, `gap` of silence, then the rest
    EmptyPayload,     // acknowledge byte and CRC only (3 bytes)
    Garbage,          // random bytes, as many as the reply would have had
    Vanish,           // the port disappears as the request arrives
};

constexpr int EveryRequest = -1;

struct Fault {
    FaultKind kind = FaultKind::Silence;
    std::optional<std::uint8_t> letter; // empty: any command
    int count = 1;                      // matching requests affected; EveryRequest for all
    std::size_t bytes = 0;              // CutShort, Split: bytes sent first; 0 for half the reply
    std::chrono::milliseconds gap{150}; // Split: silence between the two pieces
};

// The recorded extremes at 0x041FC0: three packed decimals and the elapsed-time counter.
struct Extremes {
    std::array<std::uint8_t, 3> minTemperature = PackDecimal(2, 125, true);   // -1.25
    std::array<std::uint8_t, 3> maxTemperature = PackDecimal(2, 3175, false); // 31.75
    std::array<std::uint8_t, 3> maxPressure = PackDecimal(3, 12345, false);   // 12.345
    std::uint32_t elapsedTime = 123456;                                       // 24-bit
};

struct LoggerConfig {
    std::uint32_t serialNumber = 1234567; // 24-bit
    std::string model = "ONYX-300";       // at most 8 characters
    bool complementedAcknowledge = true;  // false: the plain sum
    Pacing pacing = Pacing::FullSpeed;
    std::uint8_t selfTestMask = 0;
    std::chrono::milliseconds selfTestDuration{0};
    double clockOffsetSeconds = 0.0; // logger clock minus PC local time at start
    double clockDriftPpm = 0.0;      // positive: the logger's clock runs fast
    std::string statusText = "ST+ 95%+ 3.62V+OK+2.10FW\r\n";
    std::string readingsText = "RD+  21.500 deg C+   1.234 m\r\n";
    Extremes extremes;
    std::string portName; // published under this name by Start() when not empty
    // When set, answers each request in place of the logger's own memory and clock
    // (a replayed trace): the bytes to send, or nothing for silence. Called on the
    // logger's thread; it must not call back into the logger.
    std::function<std::optional<std::vector<std::uint8_t>>(const std::vector<std::uint8_t>& frame)>
        replies;
};

// One request frame as the logger received it.
struct RecordedRequest {
    std::vector<std::uint8_t> frame; // prefix byte to CRC
    std::chrono::steady_clock::time_point firstByte;
    std::chrono::steady_clock::time_point lastByte;
    std::uint8_t Letter() const { return frame.size() > 1 ? frame[1] : 0; }
};

// A Wellscribe Onyx logger standing in on a pseudo-terminal: it answers the
// program's requests byte for byte from a thread of its own, keeps a memory
// image, a clock and write access, records what it received and can be told to
// misbehave. All methods may be called from any thread.
class SimulatedLogger {
public:
    explicit SimulatedLogger(LoggerConfig config = {});
    ~SimulatedLogger();
    SimulatedLogger(const SimulatedLogger&) = delete;
    SimulatedLogger& operator=(const SimulatedLogger&) = delete;

    // Opens the pseudo-terminal, publishes it when a port name is set and starts
    // answering. Returns 0 or an errno value.
    int Start();
    // Stops answering, unpublishes and closes the pseudo-terminal. Prompt even in
    // the middle of a self-test or a paced reply.
    void Stop();
    // The port disappears as if the cable were pulled: the program's reads see a
    // hang-up and the published name goes away. Stop() is still needed.
    void Vanish();
    bool Vanished() const;

    std::string SlavePath() const;
    // "NAME:" as the program's port list shows it, or the slave path when unpublished.
    std::string PortName() const;

    // Fault injection.
    void InjectFault(const Fault& fault);
    void ClearFaults();

    // Behaviour.
    void SetAcknowledgeComplemented(bool complemented);
    void SetPacing(Pacing pacing);
    void SetSelfTest(std::uint8_t mask, std::chrono::milliseconds duration);
    void SetStatusText(const std::string& text);
    void SetReadingsText(const std::string& text);
    void SetClockOffset(double seconds);
    void SetClockDrift(double ppm);

    // Memory. Reads and writes outside the image and the parameter block go to a
    // sparse store over the pattern.
    std::vector<std::uint8_t> Memory(std::uint32_t address, std::size_t length) const;
    void SetMemory(std::uint32_t address, std::span<const std::uint8_t> bytes);
    std::array<std::uint8_t, 256> ParameterBlock() const;

    // The logger's clock now, to the second.
    ClockTime LoggerClock() const;
    // Logger clock minus PC local time, in seconds (fraction included).
    double ClockOffsetSeconds() const;

    bool WriteAccessOpen() const;
    // Writes (WriteMemory, PrepareBlockWrite, SetClock) that arrived while write
    // access was closed; they were neither applied nor answered.
    std::size_t RefusedWrites() const;

    // Recording.
    std::vector<RecordedRequest> Requests() const;
    void ClearRequests();
    // True once at least n requests are recorded; false after timeout.
    bool WaitForRequests(std::size_t n, std::chrono::milliseconds timeout) const;
    // Frames dropped: bad CRC, unknown letter or prefix, or cut off by silence.
    std::size_t DiscardedFrames() const;
    bool WaitForDiscardedFrames(std::size_t n, std::chrono::milliseconds timeout) const;

private:
    struct Reply {
        std::vector<std::uint8_t> bytes;
        std::size_t firstPiece = 0; // sent at once; the rest after gap
        std::chrono::milliseconds gap{0};
        std::chrono::milliseconds delay{0}; // before the first byte (self-test)
    };
    using TimePoint = std::chrono::steady_clock::time_point;

    // The thread's side.
    void Run();
    bool ReadAvailable();
    void AcceptByte(std::uint8_t byte, TimePoint arrival);
    std::optional<std::size_t> FrameLength() const;
    void CompleteFrame();
    void DiscardAfterSilence();
    void SendReply(const Reply& reply);
    bool Send(std::span<const std::uint8_t> bytes);
    bool WriteOut(std::span<const std::uint8_t> bytes);
    // False when Stop or Vanish cut the wait short.
    bool SleepUntil(TimePoint deadline);
    bool Interrupted() const;
    void DoVanish();
    void Unpublish();
    void Wake();

    // With the mutex held.
    std::optional<Reply> Answer(const std::vector<std::uint8_t>& frame);
    std::vector<std::uint8_t> Payload(std::uint8_t letter,
                                      std::span<const std::uint8_t> data) const;
    static bool IsWrite(std::uint8_t letter);
    void ApplyWrite(std::uint8_t letter, std::span<const std::uint8_t> data);
    std::optional<Fault> TakeFault(std::uint8_t letter);
    void Spoil(Reply& reply, const Fault& fault, std::span<const std::uint8_t> frame);
    std::uint8_t ByteAt(std::uint32_t address) const;
    void StoreByte(std::uint32_t address, std::uint8_t value);
    double LoggerSeconds(std::chrono::system_clock::time_point now) const;
    void Reanchor(std::chrono::system_clock::time_point now);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    LoggerConfig config_;
    std::vector<std::uint8_t> image_;
    std::array<std::uint8_t, 256> parameters_{};
    std::map<std::uint32_t, std::uint8_t> elsewhere_;
    std::vector<Fault> faults_;
    std::vector<RecordedRequest> requests_;
    std::size_t discarded_ = 0;
    std::size_t refusedWrites_ = 0;
    bool writeAccess_ = false;
    // The clock: logger seconds (local civil time, counted like Unix time) at an anchor.
    std::chrono::system_clock::time_point clockAnchor_;
    double clockAtAnchor_ = 0.0;
    std::mt19937 garbage_{20061117u};

    // Owned by the thread while it runs.
    Pty pty_;
    std::string slavePath_;
    UniqueFd wakeRead_;
    UniqueFd wakeWrite_;
    std::vector<std::uint8_t> pending_;
    TimePoint pendingFirst_{};
    TimePoint lastArrival_{};
    bool discarding_ = false;

    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> vanishRequested_{false};
    std::atomic<bool> vanished_{false};
    std::atomic<bool> running_{false};
    bool published_ = false;
};

} // namespace sim
