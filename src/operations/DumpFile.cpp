#include "operations/DumpFile.h"

#include "communication/ResultCodes.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

DumpFile::~DumpFile() { Close(); }

#ifdef _WIN32

bool DumpFile::IsOpen() const { return handle != nullptr; }

std::int32_t DumpFile::Open(const std::string& fileName) {
    Close();
    // Share mode 0: nobody else may open the file while the dump runs.
    HANDLE file = CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
        file = CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) {
        return OP_ERR_FILE_OPEN;
    }
    if (!SetEndOfFile(file)) { // at offset 0: cut an existing file to nothing
        CloseHandle(file);
        return OP_ERR_FILE_OPEN;
    }
    handle = file;
    return LINK_OK;
}

std::int32_t DumpFile::Write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!IsOpen() ||
            !WriteFile(static_cast<HANDLE>(handle), bytes.data(),
                       static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written == 0) {
            return OP_ERR_FILE_WRITE;
        }
        bytes = bytes.subspan(written);
    }
    return LINK_OK;
}

void DumpFile::Close() {
    if (IsOpen()) {
        CloseHandle(static_cast<HANDLE>(handle));
        handle = nullptr;
    }
}

#else

bool DumpFile::IsOpen() const { return fd >= 0; }

std::int32_t DumpFile::Open(const std::string& fileName) {
    Close();
    int file = -1;
    // An existing file first; if it vanishes between the two attempts, or appears
    // between them, one more round settles it.
    for (int round = 0; round < 2 && file < 0; ++round) {
        file = ::open(fileName.c_str(), O_RDWR | O_CLOEXEC);
        if (file < 0 && errno == ENOENT) {
            file = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (file < 0 && errno != EEXIST) {
                break;
            }
        } else if (file < 0) {
            break;
        }
    }
    if (file < 0) {
        return OP_ERR_FILE_OPEN;
    }
    // The lock comes before the cut, so a file that another dump is writing is
    // left alone.
    if (::flock(file, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(file, 0) != 0) {
        ::close(file);
        return OP_ERR_FILE_OPEN;
    }
    fd = file;
    return LINK_OK;
}

std::int32_t DumpFile::Write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        if (!IsOpen()) {
            return OP_ERR_FILE_WRITE;
        }
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return OP_ERR_FILE_WRITE;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return LINK_OK;
}

void DumpFile::Close() {
    if (IsOpen()) {
        ::close(fd); // releases the lock as well
        fd = -1;
    }
}

#endif
