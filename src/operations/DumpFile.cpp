#include "operations/DumpFile.h"

#include "communication/ResultCodes.h"

#ifdef _WIN32
#include "operations/WidePath.h"

#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

DumpFile::~DumpFile() {
    Close();
}

#ifdef _WIN32

bool DumpFile::IsOpen() const {
    return handle != nullptr;
}

std::int32_t DumpFile::Open(const std::string& fileName) {
    Close();
    created = false;
    systemError = 0;
    // Share mode 0: nobody else may open the file while the dump runs.
    const std::wstring path = WidePath(fileName); // UTF-8 on Windows
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    bool made = false;
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
        file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        made = file != INVALID_HANDLE_VALUE;
    }
    if (file == INVALID_HANDLE_VALUE) {
        systemError = static_cast<std::int32_t>(GetLastError());
        return Raw(OP_ERR_FILE_OPEN);
    }
    handle = file;
    name = fileName;
    created = made;
    emptied = made;
    return Raw(LINK_OK);
}

std::int32_t DumpFile::Write(std::span<const std::uint8_t> bytes) {
    if (IsOpen() && !emptied) {
        emptied = true; // from here on the earlier content is gone, whatever follows
        // Nothing has been written yet, so the file position is still 0.
        if (!SetEndOfFile(static_cast<HANDLE>(handle))) {
            systemError = static_cast<std::int32_t>(GetLastError());
            return Raw(OP_ERR_FILE_WRITE);
        }
    }
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!IsOpen() ||
            !WriteFile(static_cast<HANDLE>(handle), bytes.data(), static_cast<DWORD>(bytes.size()),
                       &written, nullptr) ||
            written == 0) {
            systemError =
                static_cast<std::int32_t>(IsOpen() ? GetLastError() : DWORD{ERROR_INVALID_HANDLE});
            return Raw(OP_ERR_FILE_WRITE);
        }
        bytes = bytes.subspan(written);
    }
    return Raw(LINK_OK);
}

void DumpFile::Close() {
    if (IsOpen()) {
        CloseHandle(static_cast<HANDLE>(handle));
        handle = nullptr;
    }
}

std::int32_t DumpFile::Remove() {
    const bool remove = IsOpen() && created;
    Close();
    if (remove && !DeleteFileW(WidePath(name).c_str())) {
        return static_cast<std::int32_t>(GetLastError());
    }
    return Raw(LINK_OK);
}

#else

bool DumpFile::IsOpen() const {
    return fd >= 0;
}

std::int32_t DumpFile::Open(const std::string& fileName) {
    Close();
    created = false;
    systemError = 0;
    int file = -1;
    bool made = false;
    // An existing file first; if it vanishes between the two attempts, or appears
    // between them, one more round settles it.
    for (int round = 0; round < 2 && file < 0; ++round) {
        file = ::open(fileName.c_str(), O_RDWR | O_CLOEXEC);
        if (file < 0 && errno == ENOENT) {
            file = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            made = file >= 0;
            if (file < 0 && errno != EEXIST) {
                break;
            }
        } else if (file < 0) {
            break;
        }
    }
    if (file < 0) {
        systemError = errno;
        return Raw(OP_ERR_FILE_OPEN);
    }
    // The lock keeps a file that another dump is writing out of this one's hands.
    if (::flock(file, LOCK_EX | LOCK_NB) != 0) {
        systemError = errno == EWOULDBLOCK ? EBUSY : errno; // held by another dump
        ::close(file);
        return Raw(OP_ERR_FILE_OPEN);
    }
    fd = file;
    name = fileName;
    created = made;
    emptied = made;
    return Raw(LINK_OK);
}

std::int32_t DumpFile::Write(std::span<const std::uint8_t> bytes) {
    if (IsOpen() && !emptied) {
        emptied = true; // from here on the earlier content is gone, whatever follows
        // Nothing has been written yet, so the file position is still 0.
        if (::ftruncate(fd, 0) != 0) {
            systemError = errno;
            return Raw(OP_ERR_FILE_WRITE);
        }
    }
    while (!bytes.empty()) {
        if (!IsOpen()) {
            systemError = EBADF;
            return Raw(OP_ERR_FILE_WRITE);
        }
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            systemError = written < 0 ? errno : ENOSPC;
            return Raw(OP_ERR_FILE_WRITE);
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return Raw(LINK_OK);
}

void DumpFile::Close() {
    if (IsOpen()) {
        ::close(fd); // releases the lock as well
        fd = -1;
    }
}

std::int32_t DumpFile::Remove() {
    // Unlinked while still locked, so no other dump can have taken it meanwhile.
    const bool remove = IsOpen() && created;
    const int error = remove && ::unlink(name.c_str()) != 0 ? errno : 0;
    Close();
    return error;
}

#endif
