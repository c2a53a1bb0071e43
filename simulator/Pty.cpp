#include "Pty.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        Reset(other.Release());
    }
    return *this;
}

int UniqueFd::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

namespace {

// Raw bytes both ways, and reads that return at once with whatever is there.
int MakeRaw(int fd) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return errno;
    }
    ::cfmakeraw(&settings);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        return errno;
    }
    return 0;
}

} // namespace

Pty::Pty() {
    master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY));
    if (!master_.IsOpen()) {
        Fail(errno);
        return;
    }
    if (::grantpt(master_.Get()) != 0 || ::unlockpt(master_.Get()) != 0) {
        Fail(errno);
        return;
    }
    const char* name = ::ptsname(master_.Get());
    if (name == nullptr) {
        Fail(errno);
        return;
    }
    slavePath_ = name;
    slave_.Reset(::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (!slave_.IsOpen()) {
        Fail(errno);
        return;
    }
    if (const int error = MakeRaw(slave_.Get()); error != 0) {
        Fail(error);
        return;
    }
    // The logger's thread must never block in a write while the program is not reading.
    const int flags = ::fcntl(master_.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(master_.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        Fail(errno);
        return;
    }
    ::fcntl(master_.Get(), F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_.Get(), F_SETFD, FD_CLOEXEC);
}

int Pty::Fail(int error) {
    error_ = error != 0 ? error : EIO;
    Close();
    slavePath_.clear();
    return error_;
}

void Pty::Close() {
    slave_.Reset();
    master_.Reset();
}

} // namespace sim
