// POSIX backend of CSerial, on a termios terminal device.

#include "communication/ResultCodes.h"
#include "communication/serial/SERIAL.h"
#include "communication/serial/VirtualPorts.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/sysmacros.h>
#endif
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct BaudRate {
    std::uint32_t rate;
    speed_t code;
};

constexpr BaudRate BaudRates[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

// The device a port entry names, or empty when the entry can name no device.
// "ttyUSB0:" is /dev/ttyUSB0, and so is "ttyUSB0", typed on a command line without
// the colon: only a colon is taken off, never another character. A name without a
// /dev entry may be a published virtual port. A name that would leave /dev (a '/'
// or a dot name) names nothing.
std::string DevicePath(const std::string& entry) {
    const std::string name =
        !entry.empty() && entry.back() == ':' ? entry.substr(0, entry.size() - 1) : entry;
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        return {};
    }
    std::string device = "/dev/" + name;
    struct stat info {};
    if (stat(device.c_str(), &info) == 0) {
        return device;
    }
    std::string published = virtual_ports::Resolve(name);
    return published.empty() ? device : published;
}

// Whether a program holds a flock on the device at path, from /proc/locks, which
// names each lock's file as "major:minor:inode" of its file system. Empty when that
// cannot be told.
std::optional<bool> HeldUnderLock(const std::string& path) {
#ifndef __linux__
    (void)path;
    return std::nullopt;
#else
    struct stat info {};
    std::ifstream locks("/proc/locks");
    if (stat(path.c_str(), &info) != 0 || !locks) {
        return std::nullopt;
    }
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(info.st_dev), minor(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream words(line);
        bool flock = false;
        bool ours = false;
        for (std::string word; words >> word;) {
            flock = flock || word == "FLOCK";
            ours = ours || word == id;
        }
        if (flock && ours) {
            return true;
        }
    }
    return false;
#endif
}

int WaitFor(int fd, short events, Clock::time_point deadline, short& revents) {
    for (;;) {
        const auto remaining = deadline - Clock::now();
        // Round up, so a wait never ends a fraction of a millisecond early.
        const auto wait = std::chrono::ceil<milliseconds>(remaining).count();
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, wait > 0 ? static_cast<int>(wait) : 0);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return errno;
        }
        revents = entry.revents;
        return 0;
    }
}

// The settings of an open port's terminal, for the getters. A failure is left in
// lastError (NotOpenError for a closed port); a success leaves lastError alone.
bool ReadSettings(bool open, int fd, termios& settings, std::int32_t& lastError) {
    if (open && tcgetattr(fd, &settings) == 0) {
        return true;
    }
    lastError = open ? errno : CSerial::NotOpenError;
    return false;
}

} // namespace

struct CSerial::SavedLine {
    termios settings{};
};

// Defined here, where SavedLine is complete.
CSerial::CSerial() = default;

CSerial::~CSerial() {
    CSerial::Close();
}

bool CSerial::IsOpen() const {
    return handle != InvalidHandle();
}

std::int32_t CSerial::Open(const char* portName, std::uint32_t /*inQueue*/,
                           std::uint32_t /*outQueue*/) {
    lastError = 0;
    const std::string entry = portName != nullptr ? portName : "";
    if (entry.size() > MaxPortNameLength) {
        return Fail(ENAMETOOLONG);
    }
    if (IsOpen()) {
        return Fail(AlreadyOpenError);
    }
    const std::string path = DevicePath(entry);
    if (path.empty()) {
        return Fail(ENOENT);
    }
    // Non-blocking, so that a modem line without carrier cannot stall the open;
    // every wait afterwards is a poll with a deadline.
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        // A terminal in exclusive mode refuses the open. Every program of ours that
        // sets the mode holds the lock too, and the lock ends with its holder: with
        // no lock on the device, the mode was left behind by a program that was
        // killed, and no other program is using the port.
        if (error == EBUSY && HeldUnderLock(path) == false) {
            return Fail(LeftExclusiveError);
        }
        return Fail(error);
    }
    // Exclusive access: flock first, which also holds between two opens in one
    // process, then TIOCEXCL against programs that do not take the lock.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        return Fail(error);
    }
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        const int error = errno;
        close(fd);
        return Fail(error);
    }
    savedLine = std::make_unique<SavedLine>(SavedLine{settings});
    ioctl(fd, TIOCEXCL);
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &settings);
    handle = fd;

    SetLine(9600, 8, 0, 0);
    SetTimeouts(300);
    SetHandshake(HandshakeNone);
    // Raise DTR; a pseudo-terminal refuses it, which does not matter.
    int dtr = TIOCM_DTR;
    ioctl(fd, TIOCMBIS, &dtr);
    return lastError;
}

std::int32_t CSerial::Close() {
    lastError = 0;
    if (IsOpen()) {
        // Exclusive mode belongs to the terminal, not to our descriptor: left on, it
        // outlives the close while anyone else (a terminal program, the logger's
        // other side) keeps the device open, and every later open by an ordinary
        // user fails with EBUSY. Take it off, and the lock, before closing; and
        // first put back the settings the terminal had (a terminal left raw and
        // without its line-end translation is of no use to whoever comes next).
        if (savedLine) {
            tcsetattr(handle, TCSANOW, &savedLine->settings);
            savedLine.reset();
        }
        ioctl(handle, TIOCNXCL);
        flock(handle, LOCK_UN);
        close(handle);
        handle = InvalidHandle();
    }
    return 0;
}

std::int32_t CSerial::SetLine(std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                              std::uint8_t stopBits) {
    lastError = 0;
    if (!IsOpen()) {
        return NotOpen();
    }
    termios settings{};
    if (tcgetattr(handle, &settings) != 0) {
        return Fail(errno);
    }
    const BaudRate* rate = nullptr;
    for (const BaudRate& candidate : BaudRates) {
        if (candidate.rate == baudRate) {
            rate = &candidate;
        }
    }
    // Parity and stop bits use the Windows codes: parity 0 none, 1 odd, 2 even;
    // stop bits 0 one, 2 two (1.5 has no POSIX counterpart).
    if (rate == nullptr || dataBits < 5 || dataBits > 8 || parity > 2 ||
        (stopBits != 0 && stopBits != 2)) {
        return Fail(EINVAL);
    }
    cfsetispeed(&settings, rate->code);
    cfsetospeed(&settings, rate->code);
    constexpr tcflag_t Sizes[] = {CS5, CS6, CS7, CS8};
    settings.c_cflag = (settings.c_cflag & ~CSIZE) | Sizes[dataBits - 5];
    settings.c_cflag &= ~(PARENB | PARODD);
    if (parity != 0) {
        settings.c_cflag |= PARENB | (parity == 1 ? PARODD : 0);
    }
    settings.c_cflag = stopBits == 2 ? (settings.c_cflag | CSTOPB) : (settings.c_cflag & ~CSTOPB);
    if (tcsetattr(handle, TCSANOW, &settings) != 0) {
        return Fail(errno);
    }
    return 0;
}

std::int32_t CSerial::SetHandshake(std::uint8_t mode) {
    lastError = 0;
    if (!IsOpen()) {
        return NotOpen();
    }
    if (mode > HandshakeSoftware) {
        assert(false);
        return Fail(InvalidArgumentError);
    }
    termios settings{};
    if (tcgetattr(handle, &settings) != 0) {
        return Fail(errno);
    }
    settings.c_cflag &= ~CRTSCTS;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (mode == HandshakeHardware) {
        settings.c_cflag |= CRTSCTS;
    } else if (mode == HandshakeSoftware) {
        settings.c_iflag |= IXON | IXOFF;
    }
    if (tcsetattr(handle, TCSANOW, &settings) != 0) {
        return Fail(errno);
    }
    return 0;
}

std::int32_t CSerial::SetTimeouts(std::uint32_t readTotalTimeoutConstantMs) {
    lastError = 0;
    if (!IsOpen()) {
        return NotOpen();
    }
    readTotalTimeoutConstant = readTotalTimeoutConstantMs;
    return 0;
}

std::int32_t CSerial::GetBaudRate() {
    termios settings{};
    if (!ReadSettings(IsOpen(), handle, settings, lastError)) {
        return -1;
    }
    const speed_t code = cfgetospeed(&settings);
    for (const BaudRate& candidate : BaudRates) {
        if (candidate.code == code) {
            return static_cast<std::int32_t>(candidate.rate);
        }
    }
    return -1;
}

std::uint8_t CSerial::GetByteSize() {
    termios settings{};
    if (!ReadSettings(IsOpen(), handle, settings, lastError)) {
        return 0xFF;
    }
    switch (settings.c_cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

std::uint8_t CSerial::GetParity() {
    termios settings{};
    if (!ReadSettings(IsOpen(), handle, settings, lastError)) {
        return 0xFF;
    }
    if ((settings.c_cflag & PARENB) == 0) {
        return 0;
    }
    return (settings.c_cflag & PARODD) != 0 ? 1 : 2;
}

std::uint8_t CSerial::GetStopBits() {
    termios settings{};
    if (!ReadSettings(IsOpen(), handle, settings, lastError)) {
        return 0xFF;
    }
    return (settings.c_cflag & CSTOPB) != 0 ? 2 : 0;
}

std::uint8_t CSerial::GetHandshake() {
    termios settings{};
    if (!ReadSettings(IsOpen(), handle, settings, lastError)) {
        return 0xFF;
    }
    if ((settings.c_cflag & CRTSCTS) != 0) {
        return HandshakeHardware;
    }
    if ((settings.c_iflag & IXON) != 0 && (settings.c_iflag & IXOFF) != 0) {
        return HandshakeSoftware;
    }
    return HandshakeNone;
}

std::int32_t CSerial::Write(const void* data, std::uint32_t count, std::uint32_t* pdwWritten) {
    assert(pdwWritten);
    std::uint32_t local = 0;
    std::uint32_t& written = pdwWritten != nullptr ? *pdwWritten : local;
    written = 0;
    lastError = 0;
    if (!IsOpen()) {
        return NotOpen();
    }
    // The line drains at about a millisecond a byte with no flow control, so a
    // write that cannot finish in twice that plus a second never will.
    const auto deadline = Clock::now() + milliseconds(1000 + 2 * count);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (written < count) {
        const ssize_t sent = write(handle, bytes + written, count - written);
        if (sent > 0) {
            written += static_cast<std::uint32_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && errno != EAGAIN) {
            return Fail(errno);
        }
        if (Clock::now() >= deadline) {
            return Fail(ETIMEDOUT);
        }
        short revents = 0;
        if (const int error = WaitFor(handle, POLLOUT, deadline, revents); error != 0) {
            return Fail(error);
        }
        if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            return Fail(EIO);
        }
    }
    // The reply time-out starts once the request has left, as after a synchronous
    // write on Windows: wait, within the same deadline, for the driver's queue to
    // empty (about a millisecond a byte), then for its last bytes to leave the line.
    int queued = 0;
    while (ioctl(handle, TIOCOUTQ, &queued) == 0 && queued > 0) {
        const auto now = Clock::now();
        if (now >= deadline) {
            return Fail(ETIMEDOUT);
        }
        std::this_thread::sleep_for(
            std::min<Clock::duration>(milliseconds(queued), deadline - now));
    }
    while (tcdrain(handle) != 0) {
        if (errno != EINTR) {
            return Fail(errno);
        }
    }
    return 0;
}

std::int32_t CSerial::Read(void* buffer, std::uint32_t count, std::uint32_t* pdwRead) {
    assert(pdwRead);
    std::uint32_t local = 0;
    std::uint32_t& received = pdwRead != nullptr ? *pdwRead : local;
    received = 0;
    lastError = 0;
    if (!IsOpen()) {
        return NotOpen();
    }
    // One deadline for the whole read (count + C ms), and a second one that moves
    // with every arrival once the first byte is in (the 100 ms gap).
    const auto start = Clock::now();
    const auto totalDeadline =
        start +
        milliseconds(std::uint64_t{count} * ReadTotalTimeoutMultiplier + readTotalTimeoutConstant);
    auto deadline = totalDeadline;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    while (received < count && Clock::now() < deadline) {
        short revents = 0;
        if (const int error = WaitFor(handle, POLLIN, deadline, revents); error != 0) {
            return Fail(error);
        }
        if (revents == 0) {
            continue; // the deadline has passed
        }
        const ssize_t got = read(handle, bytes + received, count - received);
        if (got > 0) {
            received += static_cast<std::uint32_t>(got);
            deadline = std::min(totalDeadline, Clock::now() + milliseconds(ReadIntervalTimeout));
            continue;
        }
        const bool hungUp = (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if (got < 0 && (errno == EINTR || (errno == EAGAIN && !hungUp))) {
            continue;
        }
        // Hang-up: the device is gone (an unplugged adapter, a closed pseudo-terminal
        // master). Hand over what arrived; the next read reports the error.
        if (received > 0) {
            break;
        }
        return Fail(got < 0 ? errno : EIO);
    }
    return received == 0 ? Raw(LINK_ERR_TIMEOUT) : 0;
}

std::int32_t CSerial::Purge() {
    if (!IsOpen()) {
        return NotOpen();
    }
    if (tcflush(handle, TCIOFLUSH) != 0) {
        return Fail(errno);
    }
    return lastError;
}
