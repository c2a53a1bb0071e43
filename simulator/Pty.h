#pragma once

#include <string>

namespace sim {

// Owns one file descriptor and closes it when it goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    int Release();
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

// A pseudo-terminal pair in raw mode. The master side is the logger's end of the
// line; the slave path is what the program under test opens as its serial port.
// The pair also keeps a slave descriptor of its own for its whole life, so the
// master never sees a hang-up when the program closes and reopens the slave.
class Pty {
public:
    // Opens the pair; on failure IsOpen() is false and Error() holds the errno value.
    Pty();
    ~Pty() = default;
    Pty(Pty&&) noexcept = default;
    Pty& operator=(Pty&&) noexcept = default;
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool IsOpen() const { return master_.IsOpen(); }
    int Error() const { return error_; }
    // Non-blocking master descriptor.
    int MasterFd() const { return master_.Get(); }
    const std::string& SlavePath() const { return slavePath_; }

    // Closes both ends held here; a program still holding the slave then reads a hang-up.
    void Close();

private:
    int Fail(int error);

    UniqueFd master_;
    UniqueFd slave_;
    std::string slavePath_;
    int error_ = 0;
};

} // namespace sim
