#include "files/FileSystem.h"
#include "files/WidePath.h"

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <thread>
#include <windows.h>

namespace files {

namespace {

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

std::string Reason(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length > 0 && buffer != nullptr ? std::wstring(buffer, length) : L"";
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                             text.back() == L'.')) {
        text.pop_back();
    }
    return text.empty() ? "System error " + std::to_string(error) : Utf8(text);
}

FileResult Failure(DWORD error) {
    FileStatus status = FileStatus::Failed;
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        status = FileStatus::NotFound;
    } else if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
        status = FileStatus::Exists;
    }
    return {status, static_cast<std::int64_t>(error), Reason(error)};
}

FileResult LastFailure() {
    return Failure(GetLastError());
}

void CloseQuietly(void*& handle) {
    if (handle != nullptr) {
        CloseHandle(static_cast<HANDLE>(handle));
        handle = nullptr;
    }
}

// Null for INVALID_HANDLE_VALUE, so one "no handle" value is kept.
void* Kept(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

} // namespace

std::filesystem::path PathFromName(std::string_view name) {
    return std::filesystem::path(WidePath(name));
}

FileResult ReadWholeFile(const std::filesystem::path& path, std::string& bytes) {
    HANDLE handle = CreateFileW(LongPath(path.native()).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return LastFailure();
    }
    std::string text;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(handle, &size) && size.QuadPart > 0) {
        text.reserve(static_cast<std::size_t>(size.QuadPart));
    }
    char buffer[64 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(handle, buffer, sizeof buffer, &got, nullptr)) {
            const FileResult failure = LastFailure();
            CloseHandle(handle);
            return failure;
        }
        if (got == 0) {
            break;
        }
        text.append(buffer, got);
    }
    CloseHandle(handle);
    bytes = std::move(text);
    return {};
}

File::File(File&& other) noexcept : handle(other.handle) {
    other.handle = nullptr;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        CloseQuietly(handle);
        handle = other.handle;
        other.handle = nullptr;
    }
    return *this;
}

File::~File() {
    CloseQuietly(handle);
}

bool File::IsOpen() const {
    return handle != nullptr;
}

FileResult File::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        if (handle == nullptr) {
            return Failure(ERROR_INVALID_HANDLE);
        }
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(handle), bytes.data(), chunk, &written, nullptr)) {
            return LastFailure();
        }
        if (written == 0) {
            return Failure(ERROR_DISK_FULL); // no progress: the disk took nothing
        }
        bytes.remove_prefix(written);
    }
    return {};
}

FileResult File::Truncate() {
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(static_cast<HANDLE>(handle), start, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(static_cast<HANDLE>(handle))) {
        return LastFailure();
    }
    return {};
}

FileResult File::FlushToDisk() {
    return FlushFileBuffers(static_cast<HANDLE>(handle)) ? FileResult{} : LastFailure();
}

FileResult File::Close() {
    HANDLE closing = static_cast<HANDLE>(handle);
    handle = nullptr;
    return CloseHandle(closing) ? FileResult{} : LastFailure();
}

FileResult CreateNewFile(const std::filesystem::path& path, File& file) {
    HANDLE handle = CreateFileW(LongPath(path.native()).c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return LastFailure();
    }
    file = File();
    file.handle = handle;
    return {};
}

FileResult OpenExclusive(const std::filesystem::path& path, File& file, bool& created) {
    created = false;
    const std::wstring name = LongPath(path.native());
    // Share mode 0: nobody else may open the file while this handle is open.
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool made = false;
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
        handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        made = handle != INVALID_HANDLE_VALUE;
    }
    if (handle == INVALID_HANDLE_VALUE) {
        return LastFailure();
    }
    file = File();
    file.handle = handle;
    created = made;
    return {};
}

FileResult RemoveOpenFile(File& file, const std::filesystem::path& path) {
    file = File();
    return DeleteFileW(LongPath(path.native()).c_str()) ? FileResult{} : LastFailure();
}

bool IsReadOnly(const std::filesystem::path& path) {
    const DWORD attributes = GetFileAttributesW(LongPath(path.native()).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

unsigned long CurrentProcessId() {
    return GetCurrentProcessId();
}

bool NameTooLong(const FileResult& result) {
    // A path past MAX_PATH is told as a path not found; in a folder that does exist
    // only the length can be the cause.
    return result.systemError == ERROR_FILENAME_EXCED_RANGE ||
           result.systemError == ERROR_PATH_NOT_FOUND;
}

FileResult RefuseReadOnly(const std::filesystem::path& path) {
    if (!IsReadOnly(path)) {
        return {};
    }
    return {FileStatus::ReadOnly, ERROR_ACCESS_DENIED, "the file is read-only"};
}

FileResult MoveOver(File& fresh, const std::filesystem::path& freshPath, File& old,
                    const std::filesystem::path& target) {
    FileResult result = fresh.IsOpen() ? fresh.FlushToDisk() : Failure(ERROR_INVALID_HANDLE);
    if (fresh.IsOpen()) {
        if (FileResult closed = fresh.Close(); result && !closed) {
            result = closed;
        }
    }
    // A file open without sharing can be neither renamed nor replaced: both handles
    // go before the move.
    old = File();
    // The old file's attributes (hidden, archive) stay with the name.
    if (const DWORD attributes = GetFileAttributesW(LongPath(target.native()).c_str());
        result && attributes != INVALID_FILE_ATTRIBUTES) {
        SetFileAttributesW(LongPath(freshPath.native()).c_str(),
                           attributes &
                               (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
    }
    if (result &&
        !MoveFileExW(LongPath(freshPath.native()).c_str(), LongPath(target.native()).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        result = LastFailure();
    }
    return result;
}

FileLock::FileLock(FileLock&& other) noexcept : handle(other.handle) {
    other.handle = nullptr;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Release();
        handle = other.handle;
        other.handle = nullptr;
    }
    return *this;
}

FileLock::~FileLock() {
    Release();
}

bool FileLock::Held() const {
    return handle != nullptr;
}

void FileLock::Release() {
    if (handle != nullptr) {
        OVERLAPPED whole{};
        UnlockFileEx(static_cast<HANDLE>(handle), 0, 1, 0, &whole);
        CloseQuietly(handle);
    }
}

FileResult LockFile(const std::filesystem::path& lockFile, FileLock& lock,
                    std::chrono::milliseconds wait) {
    lock.Release();
    HANDLE handle = CreateFileW(LongPath(lockFile.native()).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return LastFailure();
    }
    constexpr auto Poll = std::chrono::milliseconds(10);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        OVERLAPPED first{}; // the lock covers the file's first byte
        if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                       &first)) {
            lock.handle = Kept(handle);
            return {};
        }
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION || std::chrono::steady_clock::now() >= deadline) {
            CloseHandle(handle);
            if (error == ERROR_LOCK_VIOLATION) {
                return {FileStatus::Busy, static_cast<std::int64_t>(error),
                        "another program is changing it"};
            }
            return Failure(error);
        }
        std::this_thread::sleep_for(Poll);
    }
}

namespace {

// A name the system takes for a device in any folder and with any extension:
// CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9 ("C:\Logs\nul.csv" is NUL).
bool IsDeviceName(const std::wstring& path) {
    const std::size_t start = path.find_last_of(L"\\/:") + 1; // npos + 1 is 0
    std::wstring base = path.substr(start, path.find_first_of(L'.', start) - start);
    while (!base.empty() && base.back() == L' ') {
        base.pop_back();
    }
    for (wchar_t& c : base) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
        base == L"CONOUT$") {
        return true;
    }
    return base.size() == 4 && (base.starts_with(L"COM") || base.starts_with(L"LPT")) &&
           base[3] >= L'1' && base[3] <= L'9';
}

} // namespace

PathKind KindOf(const std::filesystem::path& path, std::int64_t* systemError) {
    const std::wstring& name = path.native();
    // Told by the name alone: asking the system about a pipe or a device would open it.
    if (name.starts_with(L"\\\\.\\pipe\\")) {
        return PathKind::Fifo;
    }
    if (name.starts_with(L"\\\\.\\") || IsDeviceName(name)) {
        return PathKind::Device;
    }
    const DWORD attributes = GetFileAttributesW(LongPath(name).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_INVALID_DRIVE || error == ERROR_BAD_NETPATH ||
            error == ERROR_BAD_NET_NAME) {
            return PathKind::Missing;
        }
        if (systemError != nullptr) {
            *systemError = error;
        }
        return PathKind::Unknown;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Folder : PathKind::Regular;
}

FileResult RemoveFile(const std::filesystem::path& path) {
    if (DeleteFileW(LongPath(path.native()).c_str())) {
        return {};
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileResult{}
                                                                          : Failure(error);
}

} // namespace files
