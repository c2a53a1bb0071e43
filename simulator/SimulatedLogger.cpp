#include "SimulatedLogger.h"

#include "communication/Checksums.h"
#include "communication/Commands.h"
#include "communication/serial/VirtualPorts.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace sim {

namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// 10 bits per byte at 9600 baud.
constexpr auto ByteTime = std::chrono::nanoseconds(1'041'667);
// An incomplete request followed by this much silence is dropped, so the next
// request is read from its first byte again.
constexpr auto ResyncSilence = 100ms;

constexpr std::uint8_t Prefix = 0x00;
constexpr std::uint8_t TextRequest = '/';
constexpr std::uint32_t ParameterBlockEnd = ParameterBlockAddress + 256;
constexpr std::size_t SerialOffsetInBlock = ParameterSerialAddress - ParameterBlockAddress;
constexpr std::size_t ExtremesElapsedOffset = 18;
// Clock correction and the three clock coefficients a freshly calibrated logger holds.
constexpr std::size_t ClockCorrectionOffset = 228;
constexpr std::array<std::uint32_t, 3> DefaultCoefficientBits = {0xBCEDDCE8, 0x3F154EF4,
                                                                 0x4004F545};

// Request data length by command letter; empty for letters this logger does not
// know. WriteMemory's depends on its count byte (the fourth frame byte).
std::optional<std::size_t> RequestDataLength(std::uint8_t letter,
                                             std::span<const std::uint8_t> frame) {
    switch (letter) {
    case command_letter::ReadMemory:
    case command_letter::SetAccessCode:
        return 4;
    case command_letter::WriteMemory:
        if (frame.size() < 4) {
            return std::nullopt;
        }
        return std::size_t{frame[3]} + 5;
    case command_letter::PrepareBlockWrite:
        return 2;
    case command_letter::ReadClock:
        return 0;
    case command_letter::SetClock:
        return ClockTextLength;
    case command_letter::ReadStatusText:
    case command_letter::ReadReadings:
    case command_letter::RunSelfTest:
        return 1;
    default:
        return std::nullopt;
    }
}

bool IsKnownLetter(std::uint8_t letter) {
    switch (letter) {
    case command_letter::ReadMemory:
    case command_letter::WriteMemory:
    case command_letter::PrepareBlockWrite:
    case command_letter::ReadClock:
    case command_letter::SetClock:
    case command_letter::SetAccessCode:
    case command_letter::ReadStatusText:
    case command_letter::ReadReadings:
    case command_letter::RunSelfTest:
        return true;
    default:
        return false;
    }
}

void AppendCrc(std::vector<std::uint8_t>& bytes) {
    const std::uint16_t crc = Crc16(bytes);
    bytes.push_back(static_cast<std::uint8_t>(crc >> 8));
    bytes.push_back(static_cast<std::uint8_t>(crc & 0xFF));
}

std::uint32_t Address24(std::span<const std::uint8_t> data) {
    return ReadBigEndian(data.subspan(0, 3));
}

std::vector<std::uint8_t> PaddedText(const std::string& text, std::size_t length) {
    std::vector<std::uint8_t> bytes(length, 0);
    std::copy_n(text.begin(), std::min(text.size(), length), bytes.begin());
    return bytes;
}

// Local civil time as a second count in the manner of Unix time, so calendar
// arithmetic can treat it as UTC.
double PcLocalSeconds(std::chrono::system_clock::time_point now) {
    const std::time_t whole = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    ::localtime_r(&whole, &local);
    const double fraction =
        std::chrono::duration<double>(now - std::chrono::system_clock::from_time_t(whole)).count();
    return static_cast<double>(whole) + static_cast<double>(local.tm_gmtoff) + fraction;
}

double CivilSeconds(const ClockTime& time) {
    using namespace std::chrono;
    const sys_days day = year_month_day{year{time.year}, month{static_cast<unsigned>(time.month)},
                                        std::chrono::day{static_cast<unsigned>(time.day)}};
    return static_cast<double>(day.time_since_epoch().count()) * 86400.0 + time.hour * 3600.0 +
           time.minute * 60.0 + time.second;
}

ClockTime CivilTime(double seconds) {
    using namespace std::chrono;
    const auto whole = static_cast<std::int64_t>(std::floor(seconds));
    auto dayCount = whole / 86400;
    if (whole % 86400 < 0) {
        --dayCount;
    }
    const auto secondOfDay = static_cast<int>(whole - dayCount * 86400);
    const year_month_day date{sys_days{days{dayCount}}};
    return ClockTime{static_cast<int>(date.year()),
                     static_cast<int>(static_cast<unsigned>(date.month())),
                     static_cast<int>(static_cast<unsigned>(date.day())),
                     secondOfDay / 3600,
                     secondOfDay / 60 % 60,
                     secondOfDay % 60};
}

} // namespace

std::uint8_t PatternByte(std::uint32_t address) {
    // An integer hash: a bijection on 32 bits whose low byte depends on every address bit.
    std::uint32_t x = address;
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return static_cast<std::uint8_t>(x);
}

SimulatedLogger::SimulatedLogger(LoggerConfig config)
    : config_(std::move(config)), image_(ImageSize) {
    for (std::uint32_t address = 0; address < ImageSize; ++address) {
        image_[address] = PatternByte(address);
    }
    for (std::uint32_t offset = 0; offset < parameters_.size(); ++offset) {
        parameters_[offset] = PatternByte(ParameterBlockAddress + offset);
    }
    parameters_[ClockCorrectionOffset] = 0;
    parameters_[ClockCorrectionOffset + 1] = 0;
    for (std::size_t i = 0; i < DefaultCoefficientBits.size(); ++i) {
        // Numbers inside the parameter block are little-endian.
        for (std::size_t b = 0; b < 4; ++b) {
            parameters_[ClockCorrectionOffset + 2 + 4 * i + b] =
                static_cast<std::uint8_t>(DefaultCoefficientBits[i] >> (8 * b));
        }
    }

    const auto serial = EncodeUInt24(config_.serialNumber);
    std::copy(serial.begin(), serial.end(), image_.begin() + SerialNumberAddress);
    std::copy(serial.begin(), serial.end(), parameters_.begin() + SerialOffsetInBlock);
    const auto model = PaddedText(config_.model, 8);
    std::copy(model.begin(), model.end(), image_.begin() + ModelNumberAddress);

    const Extremes& extremes = config_.extremes;
    auto* block = image_.data() + ExtremesAddress;
    std::copy(extremes.minTemperature.begin(), extremes.minTemperature.end(), block);
    std::copy(extremes.maxTemperature.begin(), extremes.maxTemperature.end(), block + 3);
    std::copy(extremes.maxPressure.begin(), extremes.maxPressure.end(), block + 6);
    std::fill(block + 9, block + ExtremesElapsedOffset, 0);
    const auto elapsed = EncodeUInt24(extremes.elapsedTime);
    std::copy(elapsed.begin(), elapsed.end(), block + ExtremesElapsedOffset);

    clockAnchor_ = std::chrono::system_clock::now();
    clockAtAnchor_ = PcLocalSeconds(clockAnchor_) + config_.clockOffsetSeconds;
}

SimulatedLogger::~SimulatedLogger() {
    Stop();
}

// ---------------------------------------------------------------------------
// Lifecycle

int SimulatedLogger::Start() {
    if (thread_.joinable()) {
        return EBUSY;
    }
    Pty pty;
    if (!pty.IsOpen()) {
        return pty.Error();
    }
    int pipeFds[2] = {-1, -1};
    if (::pipe(pipeFds) != 0) {
        return errno;
    }
    UniqueFd wakeRead(pipeFds[0]);
    UniqueFd wakeWrite(pipeFds[1]);
    for (const int fd : pipeFds) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }

    std::string name;
    {
        std::lock_guard lock(mutex_);
        name = config_.portName;
    }
    if (!name.empty()) {
        if (!virtual_ports::IsValidName(name)) {
            return EINVAL;
        }
        if (const int error = virtual_ports::Publish(name, pty.SlavePath()); error != 0) {
            return error;
        }
        published_ = true;
    }

    {
        std::lock_guard lock(mutex_);
        slavePath_ = pty.SlavePath();
    }
    pty_ = std::move(pty);
    wakeRead_ = std::move(wakeRead);
    wakeWrite_ = std::move(wakeWrite);
    pending_.clear();
    discarding_ = false;
    stopping_ = false;
    vanishRequested_ = false;
    vanished_ = false;
    running_ = true;
    thread_ = std::thread(&SimulatedLogger::Run, this);
    return 0;
}

void SimulatedLogger::Stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        Wake();
        thread_.join();
    }
    pty_.Close();
    Unpublish();
    wakeRead_.Reset();
    wakeWrite_.Reset();
}

void SimulatedLogger::Vanish() {
    if (thread_.joinable()) {
        vanishRequested_ = true;
        Wake();
        // The thread vanishes the port and ends; afterwards nothing touches it.
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !running_.load(); });
        if (vanished_) {
            return;
        }
    }
    // No thread answers any more: the port is this caller's to close.
    DoVanish();
}

bool SimulatedLogger::Vanished() const {
    return vanished_;
}

void SimulatedLogger::DoVanish() {
    // In this order, so that a program that sees the hang-up also finds the name
    // gone and Vanished() true.
    Unpublish();
    {
        std::lock_guard lock(mutex_);
        vanished_ = true;
        changed_.notify_all();
    }
    pty_.Close();
}

void SimulatedLogger::Unpublish() {
    if (published_) {
        std::string name;
        std::string path;
        {
            std::lock_guard lock(mutex_);
            name = config_.portName;
            path = slavePath_;
        }
        virtual_ports::Unpublish(name, path);
        published_ = false;
    }
}

void SimulatedLogger::Wake() {
    {
        // Taken so a waiter cannot miss the flag between its check and its sleep.
        std::lock_guard lock(mutex_);
    }
    changed_.notify_all();
    if (wakeWrite_.IsOpen()) {
        const std::uint8_t byte = 1;
        [[maybe_unused]] const auto written = ::write(wakeWrite_.Get(), &byte, 1);
    }
}

bool SimulatedLogger::Interrupted() const {
    return stopping_ || vanishRequested_;
}

std::string SimulatedLogger::SlavePath() const {
    std::lock_guard lock(mutex_);
    return slavePath_;
}

std::string SimulatedLogger::PortName() const {
    std::lock_guard lock(mutex_);
    return config_.portName.empty() ? slavePath_ : config_.portName + ":";
}

// ---------------------------------------------------------------------------
// The logger's thread: receiving

void SimulatedLogger::Run() {
    while (!Interrupted()) {
        int timeoutMs = -1;
        if (!pending_.empty() || discarding_) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                lastArrival_ + ResyncSilence - SteadyClock::now());
            timeoutMs = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
        }
        pollfd fds[2] = {{pty_.MasterFd(), POLLIN, 0}, {wakeRead_.Get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
            std::uint8_t drain[64];
            while (::read(wakeRead_.Get(), drain, sizeof drain) > 0) {
            }
        }
        if (Interrupted()) {
            break;
        }
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            if (!ReadAvailable()) {
                break;
            }
        } else if (ready > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            // Cannot happen while the own slave descriptor is open; do not spin on it.
            break;
        }
        if ((!pending_.empty() || discarding_) &&
            SteadyClock::now() >= lastArrival_ + ResyncSilence) {
            DiscardAfterSilence();
        }
    }
    if (vanishRequested_) {
        DoVanish();
    }
    std::lock_guard lock(mutex_);
    running_ = false;
    changed_.notify_all();
}

bool SimulatedLogger::ReadAvailable() {
    std::uint8_t chunk[512];
    const auto count = ::read(pty_.MasterFd(), chunk, sizeof chunk);
    if (count < 0) {
        return errno == EAGAIN || errno == EINTR;
    }
    if (count == 0) {
        return false; // end of file on a master: the pair is gone
    }
    const auto readTime = SteadyClock::now();
    bool paced = false;
    {
        std::lock_guard lock(mutex_);
        paced = config_.pacing == Pacing::Baud9600;
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(count) && !Interrupted(); ++i) {
        // On a paced line a byte cannot have arrived sooner than one byte time after
        // the one before it, however fast the program handed them over.
        auto arrival = readTime;
        if (paced && !pending_.empty()) {
            arrival = std::max(readTime, lastArrival_ + ByteTime);
        }
        AcceptByte(chunk[i], arrival);
    }
    return true;
}

void SimulatedLogger::AcceptByte(std::uint8_t byte, TimePoint arrival) {
    lastArrival_ = arrival;
    if (discarding_) {
        return;
    }
    if (pending_.empty()) {
        pendingFirst_ = arrival;
    }
    pending_.push_back(byte);
    // Without the prefix or a known letter the frame's length is unknown: wait for
    // the line to fall silent and start afresh.
    if ((pending_.size() == 1 && byte != Prefix) ||
        (pending_.size() == 2 && !IsKnownLetter(byte))) {
        pending_.clear();
        discarding_ = true;
        return;
    }
    const auto length = FrameLength();
    if (length && pending_.size() == *length) {
        CompleteFrame();
    }
}

std::optional<std::size_t> SimulatedLogger::FrameLength() const {
    if (pending_.size() < 2) {
        return std::nullopt;
    }
    const auto dataLength = RequestDataLength(pending_[1], pending_);
    if (!dataLength) {
        return std::nullopt;
    }
    return *dataLength + 5;
}

void SimulatedLogger::DiscardAfterSilence() {
    pending_.clear();
    discarding_ = false;
    std::lock_guard lock(mutex_);
    ++discarded_;
    changed_.notify_all();
}

void SimulatedLogger::CompleteFrame() {
    std::vector<std::uint8_t> frame;
    frame.swap(pending_);
    const TimePoint first = pendingFirst_;
    const TimePoint last = lastArrival_;
    // On a paced line the request is not in before its last byte's line time.
    if (last > SteadyClock::now() && !SleepUntil(last)) {
        return;
    }

    const std::span<const std::uint8_t> body(frame.data(), frame.size() - 2);
    const std::uint16_t crc = static_cast<std::uint16_t>(
        ReadBigEndian(std::span<const std::uint8_t>(frame).subspan(frame.size() - 2)));
    if (Crc16(body) != crc) {
        std::lock_guard lock(mutex_);
        ++discarded_;
        changed_.notify_all();
        return;
    }

    std::optional<Reply> reply;
    {
        std::lock_guard lock(mutex_);
        if (!config_.replies) {
            reply = Answer(frame);
        } else if (auto bytes = config_.replies(frame)) {
            reply.emplace();
            reply->bytes = std::move(*bytes);
            reply->firstPiece = reply->bytes.size();
        }
        requests_.push_back(RecordedRequest{frame, first, last});
        changed_.notify_all();
    }
    if (reply) {
        SendReply(*reply);
    }
}

// ---------------------------------------------------------------------------
// Answering (called with the mutex held)

std::optional<SimulatedLogger::Reply>
SimulatedLogger::Answer(const std::vector<std::uint8_t>& frame) {
    const std::uint8_t letter = frame[1];
    const auto data = std::span<const std::uint8_t>(frame).subspan(3, frame.size() - 5);
    if (IsWrite(letter) && !writeAccess_) {
        ++refusedWrites_;
        return std::nullopt;
    }
    const std::optional<Fault> fault = TakeFault(letter);
    if (fault && fault->kind == FaultKind::Vanish) {
        vanishRequested_ = true;
        return std::nullopt;
    }
    if (IsWrite(letter)) {
        ApplyWrite(letter, data);
    } else if (letter == command_letter::SetAccessCode) {
        writeAccess_ = ReadBigEndian(data) == WriteAccessCode;
    }

    Reply reply;
    const std::uint8_t acknowledge = Checksum8(frame, config_.complementedAcknowledge);
    reply.bytes.push_back(acknowledge);
    const auto payload = Payload(letter, data);
    reply.bytes.insert(reply.bytes.end(), payload.begin(), payload.end());
    AppendCrc(reply.bytes);
    reply.firstPiece = reply.bytes.size();
    if (letter == command_letter::RunSelfTest) {
        reply.delay = config_.selfTestDuration;
    }
    if (fault) {
        Spoil(reply, *fault, frame);
    }
    return reply;
}

std::vector<std::uint8_t> SimulatedLogger::Payload(std::uint8_t letter,
                                                   std::span<const std::uint8_t> data) const {
    switch (letter) {
    case command_letter::ReadMemory: {
        std::vector<std::uint8_t> bytes(std::size_t{data[0]} + 1);
        const std::uint32_t address = Address24(data.subspan(1));
        for (std::uint32_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = ByteAt(address + i);
        }
        return bytes;
    }
    case command_letter::ReadClock:
        return PaddedText(
            FormatClockText(CivilTime(LoggerSeconds(std::chrono::system_clock::now()))),
            ClockTextLength);
    case command_letter::SetAccessCode:
        return {static_cast<std::uint8_t>(writeAccess_ ? 1 : 0)};
    case command_letter::ReadStatusText:
        return PaddedText(config_.statusText, std::size_t{data[0]} + 1);
    case command_letter::ReadReadings:
        return PaddedText(config_.readingsText, std::size_t{data[0]} + 1);
    case command_letter::RunSelfTest: {
        // The reply-length rule: one byte for 0 and 0xFF, else half the data byte.
        const std::uint8_t d0 = data[0];
        std::vector<std::uint8_t> bytes(d0 == 0 || d0 == 0xFF ? 1 : d0 / 2, 0);
        if (!bytes.empty()) {
            bytes[0] = config_.selfTestMask;
        }
        return bytes;
    }
    default: // the writes answer with the acknowledge byte alone
        return {};
    }
}

bool SimulatedLogger::IsWrite(std::uint8_t letter) {
    return letter == command_letter::WriteMemory || letter == command_letter::PrepareBlockWrite ||
           letter == command_letter::SetClock;
}

void SimulatedLogger::ApplyWrite(std::uint8_t letter, std::span<const std::uint8_t> data) {
    if (letter == command_letter::WriteMemory) {
        const std::uint32_t address = Address24(data.subspan(1));
        const auto bytes = data.subspan(4);
        for (std::uint32_t i = 0; i < bytes.size(); ++i) {
            StoreByte(address + i, bytes[i]);
        }
    } else if (letter == command_letter::SetClock) {
        const std::string text(data.begin(), data.end());
        // A text that names no real time leaves the clock alone; the logger still
        // acknowledges it, having no way to say otherwise.
        if (const auto time = ParseClockText(text)) {
            clockAnchor_ = std::chrono::system_clock::now();
            clockAtAnchor_ = CivilSeconds(*time);
        }
    }
    // PrepareBlockWrite changes nothing visible.
}

std::optional<Fault> SimulatedLogger::TakeFault(std::uint8_t letter) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->letter && *it->letter != letter) {
            continue;
        }
        Fault fault = *it;
        if (it->count != EveryRequest && --it->count <= 0) {
            faults_.erase(it);
        }
        return fault;
    }
    return std::nullopt;
}

void SimulatedLogger::Spoil(Reply& reply, const Fault& fault, std::span<const std::uint8_t> frame) {
    auto& bytes = reply.bytes;
    const std::size_t firstPiece =
        fault.bytes != 0 ? std::min(fault.bytes, bytes.size()) : bytes.size() / 2;
    switch (fault.kind) {
    case FaultKind::Silence:
        bytes.clear();
        break;
    case FaultKind::WrongAcknowledge: {
        const std::uint8_t plain = Checksum8(frame, false);
        const std::uint8_t complemented = Checksum8(frame, true);
        std::uint8_t wrong = static_cast<std::uint8_t>(plain + 1);
        while (wrong == plain || wrong == complemented) {
            ++wrong;
        }
        bytes[0] = wrong;
        bytes.resize(bytes.size() - 2);
        AppendCrc(bytes);
        break;
    }
    case FaultKind::BadCrc:
        bytes.back() ^= 0x01;
        break;
    case FaultKind::CutShort:
        bytes.resize(firstPiece);
        break;
    case FaultKind::Split:
        reply.firstPiece = firstPiece;
        reply.gap = fault.gap;
        break;
    case FaultKind::EmptyPayload:
        bytes.resize(1);
        AppendCrc(bytes);
        break;
    case FaultKind::Garbage:
        for (auto& byte : bytes) {
            byte = static_cast<std::uint8_t>(garbage_());
        }
        break;
    case FaultKind::Vanish:
        break;
    }
    reply.firstPiece = std::min(reply.firstPiece, bytes.size());
}

// ---------------------------------------------------------------------------
// Sending

void SimulatedLogger::SendReply(const Reply& reply) {
    if (reply.delay > std::chrono::milliseconds::zero() &&
        !SleepUntil(SteadyClock::now() + reply.delay)) {
        return;
    }
    const std::span<const std::uint8_t> bytes(reply.bytes);
    if (!Send(bytes.first(reply.firstPiece))) {
        return;
    }
    if (reply.firstPiece < bytes.size()) {
        if (!SleepUntil(SteadyClock::now() + reply.gap)) {
            return;
        }
        Send(bytes.subspan(reply.firstPiece));
    }
}

bool SimulatedLogger::Send(std::span<const std::uint8_t> bytes) {
    bool paced = false;
    {
        std::lock_guard lock(mutex_);
        paced = config_.pacing == Pacing::Baud9600;
    }
    if (!paced) {
        return WriteOut(bytes);
    }
    // Deadlines on the steady clock, so the sleeps' own lateness does not add up.
    auto deadline = SteadyClock::now();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        deadline += ByteTime;
        if (!SleepUntil(deadline) || !WriteOut(bytes.subspan(i, 1))) {
            return false;
        }
    }
    return true;
}

bool SimulatedLogger::WriteOut(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const auto written = ::write(pty_.MasterFd(), bytes.data(), bytes.size());
        if (written > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && errno != EAGAIN) {
            return false;
        }
        // The program is not reading and the line's buffer is full: wait for room,
        // or for Stop.
        pollfd fds[2] = {{pty_.MasterFd(), POLLOUT, 0}, {wakeRead_.Get(), POLLIN, 0}};
        if ((::poll(fds, 2, -1) < 0 && errno != EINTR) || Interrupted()) {
            return false;
        }
    }
    return true;
}

bool SimulatedLogger::SleepUntil(TimePoint deadline) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_until(lock, deadline, [this] { return Interrupted(); });
}

// ---------------------------------------------------------------------------
// Memory and clock (called with the mutex held)

std::uint8_t SimulatedLogger::ByteAt(std::uint32_t address) const {
    if (address < ImageSize) {
        return image_[address];
    }
    if (address >= ParameterBlockAddress && address < ParameterBlockEnd) {
        return parameters_[address - ParameterBlockAddress];
    }
    const auto it = elsewhere_.find(address);
    return it != elsewhere_.end() ? it->second : PatternByte(address);
}

void SimulatedLogger::StoreByte(std::uint32_t address, std::uint8_t value) {
    if (address < ImageSize) {
        image_[address] = value;
    } else if (address >= ParameterBlockAddress && address < ParameterBlockEnd) {
        parameters_[address - ParameterBlockAddress] = value;
    } else {
        elsewhere_[address] = value;
    }
}

double SimulatedLogger::LoggerSeconds(std::chrono::system_clock::time_point now) const {
    const double elapsed = std::chrono::duration<double>(now - clockAnchor_).count();
    return clockAtAnchor_ + elapsed * (1.0 + config_.clockDriftPpm * 1e-6);
}

void SimulatedLogger::Reanchor(std::chrono::system_clock::time_point now) {
    clockAtAnchor_ = LoggerSeconds(now);
    clockAnchor_ = now;
}

// ---------------------------------------------------------------------------
// Settings and observations for tests

void SimulatedLogger::InjectFault(const Fault& fault) {
    std::lock_guard lock(mutex_);
    faults_.push_back(fault);
}

void SimulatedLogger::ClearFaults() {
    std::lock_guard lock(mutex_);
    faults_.clear();
}

void SimulatedLogger::SetAcknowledgeComplemented(bool complemented) {
    std::lock_guard lock(mutex_);
    config_.complementedAcknowledge = complemented;
}

void SimulatedLogger::SetPacing(Pacing pacing) {
    std::lock_guard lock(mutex_);
    config_.pacing = pacing;
}

void SimulatedLogger::SetSelfTest(std::uint8_t mask, std::chrono::milliseconds duration) {
    std::lock_guard lock(mutex_);
    config_.selfTestMask = mask;
    config_.selfTestDuration = duration;
}

void SimulatedLogger::SetStatusText(const std::string& text) {
    std::lock_guard lock(mutex_);
    config_.statusText = text;
}

void SimulatedLogger::SetReadingsText(const std::string& text) {
    std::lock_guard lock(mutex_);
    config_.readingsText = text;
}

void SimulatedLogger::SetClockOffset(double seconds) {
    std::lock_guard lock(mutex_);
    clockAnchor_ = std::chrono::system_clock::now();
    clockAtAnchor_ = PcLocalSeconds(clockAnchor_) + seconds;
}

void SimulatedLogger::SetClockDrift(double ppm) {
    std::lock_guard lock(mutex_);
    // The clock keeps its present reading and runs at the new rate from here on.
    Reanchor(std::chrono::system_clock::now());
    config_.clockDriftPpm = ppm;
}

std::vector<std::uint8_t> SimulatedLogger::Memory(std::uint32_t address, std::size_t length) const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = ByteAt(address + static_cast<std::uint32_t>(i));
    }
    return bytes;
}

void SimulatedLogger::SetMemory(std::uint32_t address, std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        StoreByte(address + static_cast<std::uint32_t>(i), bytes[i]);
    }
}

std::array<std::uint8_t, 256> SimulatedLogger::ParameterBlock() const {
    std::lock_guard lock(mutex_);
    return parameters_;
}

ClockTime SimulatedLogger::LoggerClock() const {
    std::lock_guard lock(mutex_);
    return CivilTime(LoggerSeconds(std::chrono::system_clock::now()));
}

double SimulatedLogger::ClockOffsetSeconds() const {
    const auto now = std::chrono::system_clock::now();
    std::lock_guard lock(mutex_);
    return LoggerSeconds(now) - PcLocalSeconds(now);
}

bool SimulatedLogger::WriteAccessOpen() const {
    std::lock_guard lock(mutex_);
    return writeAccess_;
}

std::size_t SimulatedLogger::RefusedWrites() const {
    std::lock_guard lock(mutex_);
    return refusedWrites_;
}

std::vector<RecordedRequest> SimulatedLogger::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void SimulatedLogger::ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

bool SimulatedLogger::WaitForRequests(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= n; });
}

std::size_t SimulatedLogger::DiscardedFrames() const {
    std::lock_guard lock(mutex_);
    return discarded_;
}

bool SimulatedLogger::WaitForDiscardedFrames(std::size_t n,
                                             std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return discarded_ >= n; });
}

} // namespace sim
