#include "files/FileSystem.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace files {

namespace {

std::string Reason(int error) {
    char buffer[256] = {};
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    return strerror_r(error, buffer, sizeof buffer);
#else
    return strerror_r(error, buffer, sizeof buffer) == 0 ? buffer
                                                         : "Unknown error " + std::to_string(error);
#endif
}

FileResult Failure(int error) {
    FileStatus status = FileStatus::Failed;
    if (error == ENOENT || error == ENOTDIR) {
        status = FileStatus::NotFound;
    } else if (error == EEXIST) {
        status = FileStatus::Exists;
    }
    return {status, error, Reason(error)};
}

void CloseQuietly(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Makes a rename in the folder last across a power failure.
void FlushFolder(const std::filesystem::path& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

std::filesystem::path PathFromName(std::string_view name) {
    return std::filesystem::path(std::string(name));
}

FileResult ReadWholeFile(const std::filesystem::path& path, std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return Failure(errno);
    }
    std::string text;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        return Failure(EISDIR);
    }
    if (info.st_size > 0) {
        text.reserve(static_cast<std::size_t>(info.st_size));
    }
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            ::close(fd);
            return Failure(error);
        }
        if (got == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    bytes = std::move(text);
    return {};
}

File::File(File&& other) noexcept : fd(other.fd) {
    other.fd = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        CloseQuietly(fd);
        fd = other.fd;
        other.fd = -1;
    }
    return *this;
}

File::~File() {
    CloseQuietly(fd);
}

bool File::IsOpen() const {
    return fd >= 0;
}

FileResult File::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        if (fd < 0) {
            return Failure(EBADF);
        }
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Failure(errno);
        }
        if (written == 0) {
            return Failure(ENOSPC); // no progress: the disk took nothing
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

FileResult File::Truncate() {
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
        return Failure(errno);
    }
    return {};
}

FileResult File::FlushToDisk() {
    return ::fsync(fd) == 0 ? FileResult{} : Failure(errno);
}

FileResult File::Close() {
    const int closing = fd;
    fd = -1;
    return ::close(closing) == 0 ? FileResult{} : Failure(errno);
}

FileResult CreateNewFile(const std::filesystem::path& path, File& file) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return Failure(errno);
    }
    file = File();
    file.fd = fd;
    return {};
}

FileResult OpenExclusive(const std::filesystem::path& path, File& file, bool& created) {
    created = false;
    int fd = -1;
    bool made = false;
    // An existing file first; if it vanishes between the two attempts, or appears
    // between them, one more round settles it.
    for (int round = 0; round < 2 && fd < 0; ++round) {
        fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            made = fd >= 0;
            if (fd < 0 && errno != EEXIST) {
                break;
            }
        } else if (fd < 0) {
            break;
        }
    }
    if (fd < 0) {
        return Failure(errno);
    }
    // The flock keeps the file out of another holder's hands while this one has it.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) {
            return {FileStatus::Busy, EBUSY, Reason(EBUSY)};
        }
        return Failure(error);
    }
    file = File();
    file.fd = fd;
    created = made;
    return {};
}

FileResult RemoveOpenFile(File& file, const std::filesystem::path& path) {
    const FileResult result = ::unlink(path.c_str()) == 0 ? FileResult{} : Failure(errno);
    file = File();
    return result;
}

bool IsReadOnly(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return false;
    }
    // The permission bits as well as access(): the superuser may write anywhere,
    // and still a file its owner marked read-only stays so.
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
           (::access(path.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS));
}

unsigned long CurrentProcessId() {
    return static_cast<unsigned long>(::getpid());
}

bool NameTooLong(const FileResult& result) {
    return result.systemError == ENAMETOOLONG;
}

FileResult RefuseReadOnly(const std::filesystem::path& path) {
    if (!IsReadOnly(path)) {
        return {};
    }
    // EROFS when the whole file system is read-only, so the reason says so.
    const int denied = ::access(path.c_str(), W_OK) != 0 && errno == EROFS ? EROFS : EACCES;
    return {FileStatus::ReadOnly, denied, "the file is read-only"};
}

FileResult MoveOver(File& fresh, const std::filesystem::path& freshPath, File& old,
                    const std::filesystem::path& target) {
    if (struct stat info{}; ::stat(target.c_str(), &info) == 0) {
        ::chmod(freshPath.c_str(), info.st_mode & 07777); // keeps the permissions it had
    }
    FileResult result = fresh.FlushToDisk();
    if (FileResult closed = fresh.Close(); result && !closed) {
        result = closed;
    }
    // The old file stays held until its name has gone to the new one.
    if (result && ::rename(freshPath.c_str(), target.c_str()) != 0) {
        result = Failure(errno);
    }
    old = File();
    if (result) {
        FlushFolder(target.parent_path());
    }
    return result;
}

FileLock::FileLock(FileLock&& other) noexcept : fd(other.fd) {
    other.fd = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Release();
        fd = other.fd;
        other.fd = -1;
    }
    return *this;
}

FileLock::~FileLock() {
    Release();
}

bool FileLock::Held() const {
    return fd >= 0;
}

void FileLock::Release() {
    CloseQuietly(fd); // closing the last descriptor releases the flock
}

FileResult LockFile(const std::filesystem::path& lockFile, FileLock& lock,
                    std::chrono::milliseconds wait) {
    lock.Release();
    int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EACCES) {
        // Another user's lock file: a flock needs no write access to it.
        fd = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) {
        return Failure(errno);
    }
    // flock, not fcntl locks: a flock belongs to the open file, so a second lock
    // within one program is refused as well, and the lock goes with the program.
    constexpr auto Poll = std::chrono::milliseconds(10);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            lock.fd = fd;
            return {};
        }
        const int error = errno;
        if (error == EINTR) {
            continue;
        }
        if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            if (error == EWOULDBLOCK) {
                return {FileStatus::Busy, error, "another program is changing it"};
            }
            return Failure(error);
        }
        std::this_thread::sleep_for(Poll);
    }
}

PathKind KindOf(const std::filesystem::path& path, std::int64_t* systemError) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        return PathKind::Missing;
    }
    if (error) {
        if (systemError != nullptr) {
            *systemError = error.value();
        }
        return PathKind::Unknown;
    }
    switch (status.type()) {
    case std::filesystem::file_type::regular:
        return PathKind::Regular;
    case std::filesystem::file_type::directory:
        return PathKind::Folder;
    case std::filesystem::file_type::fifo:
        return PathKind::Fifo;
    case std::filesystem::file_type::character:
    case std::filesystem::file_type::block:
        return PathKind::Device;
    default:
        return PathKind::Other;
    }
}

FileResult RemoveFile(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::remove(path, error);
    if (error && error != std::errc::no_such_file_or_directory) {
        return {FileStatus::Failed, error.value(), error.message()};
    }
    return {};
}

} // namespace files
