#pragma once

// The program's own files on disk (the calibration log, the report, the dump):
// read a file whole, replace a file atomically, create a new file exclusively,
// open a file for this program alone, lock a file against other programs.
// One interface; FileSystem_posix.cpp and FileSystem_win32.cpp hold the system
// calls, as the serial port does. No Qt, no exceptions: every call returns a
// FileResult that says what went wrong and why.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace files {

enum class FileStatus {
    Ok,
    NotFound, // the file (or a folder on its path) does not exist
    Exists,   // a new file was asked for and the name is taken
    ReadOnly, // the file is marked read-only; it was left as it was
    Busy,     // another program holds the lock
    Failed,   // any other system error: see systemError and reason
};

struct FileResult {
    FileStatus status = FileStatus::Ok;
    // errno on POSIX, GetLastError() on Windows; 0 when the status says it all.
    std::int64_t systemError = 0;
    std::string reason; // the system's text for systemError, or ours

    bool Ok() const { return status == FileStatus::Ok; }
    explicit operator bool() const { return Ok(); }
};

// A file name as the program's texts hold it (UTF-8 on Windows, the local bytes
// elsewhere) as a path; on Windows through the program's one UTF-8 to UTF-16
// conversion, so no name passes through the ANSI code page.
std::filesystem::path PathFromName(std::string_view name);
// The path as UTF-8 text for messages: on Windows with Windows' own separators
// ('\') and without the long-path prefix ("\\?\"), whatever the path holds.
std::string PathText(const std::filesystem::path& path);

// The whole file's bytes. NotFound when it does not exist; a permission or I/O
// error fails the whole read, so a caller never takes part of a file for all of it.
FileResult ReadWholeFile(const std::filesystem::path& path, std::string& bytes);

// An open file, closed when the object goes.
class File {
public:
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    ~File();

    bool IsOpen() const;
    // All of bytes at the file position; a file that is not open fails.
    FileResult Write(std::string_view bytes);
    // Cuts the file to zero length; the next Write starts at its beginning.
    FileResult Truncate();
    // The data written so far reaches the disk (fsync, FlushFileBuffers).
    FileResult FlushToDisk();
    // Closes it, reporting a failure the close alone may reveal.
    FileResult Close();

private:
    friend FileResult CreateNewFile(const std::filesystem::path& path, File& file);
    friend FileResult OpenExclusive(const std::filesystem::path& path, File& file, bool& created);
#ifdef _WIN32
    void* handle = nullptr; // HANDLE
#else
    int fd = -1;
#endif
};

// Creates the file for writing; Exists when the name is taken (never opens or
// empties a file someone else made).
FileResult CreateNewFile(const std::filesystem::path& path, File& file);

// Opens the file for reading and writing without emptying it, or creates it when
// it does not exist (created says which), for this program alone until it closes:
// share mode 0 on Windows, an exclusive flock on POSIX. Busy when another holder
// has it under a flock (systemError EBUSY); on Windows that is the system's
// sharing violation.
FileResult OpenExclusive(const std::filesystem::path& path, File& file, bool& created);

// Removes the file at path that file holds open, and closes file: on POSIX while
// still held, so nobody takes the name in between; on Windows just after closing,
// as a file open without sharing cannot be removed there.
FileResult RemoveOpenFile(File& file, const std::filesystem::path& path);

// True when the name, or the whole path, is longer than the system allows
// (ENAMETOOLONG; on Windows a name past 255 characters or a path past MAX_PATH).
bool NameTooLong(const FileResult& result);

// A new file of this call's own beside target, created exclusively for writing;
// fresh is its path: "<target>.new-<process>-<n>" or, where that name is too long
// for the system, a short name (CreateShortFileBeside). So a temporary name fits
// wherever target's own name fits.
FileResult CreateFileBeside(const std::filesystem::path& target, File& file,
                            std::filesystem::path& fresh);
// A new file beside target under a short name of its own: '~' and lowercase letters
// and digits, never longer than target's name (and at most 13 characters), created
// exclusively for writing; fresh is its path.
FileResult CreateShortFileBeside(const std::filesystem::path& target, File& file,
                                 std::filesystem::path& fresh);
// This program's process number, which keeps its new files' names apart from
// another program's.
unsigned long CurrentProcessId();

// The file a replacement writes: the path, or where its symbolic links lead, so
// a link stays a link and the file it points to gets the new bytes.
std::filesystem::path ReplaceTarget(const std::filesystem::path& path);

// True when the file exists and is read-only: no write permission or a read-only
// file system on POSIX, FILE_ATTRIBUTE_READONLY on Windows.
bool IsReadOnly(const std::filesystem::path& path);
// ReadOnly ("the file is read-only", with EACCES, EROFS on a read-only file system,
// or ERROR_ACCESS_DENIED) when the file exists and IsReadOnly; else Ok.
FileResult RefuseReadOnly(const std::filesystem::path& path);

// Puts the file that fresh holds open at freshPath in the place of target, which
// old may hold open: fresh's bytes reach the disk, it takes target's permissions
// (POSIX) or its hidden, system and archive attributes (Windows), and is renamed
// over target. Both files are closed in any case. A failure leaves target as it
// was and fresh's bytes under freshPath.
FileResult MoveOver(File& fresh, const std::filesystem::path& freshPath, File& old,
                    const std::filesystem::path& target);

// Replaces the file (at ReplaceTarget) with the bytes as a whole: they go to a
// new file of this call's own beside it, created exclusively, reach the disk, and
// only then take the file's name; a failure at any point leaves the old file as it
// was and no new file behind. A read-only file is refused (ReadOnly) and left
// as it was; a writable file keeps its permissions.
FileResult ReplaceFileContents(const std::filesystem::path& path, std::string_view bytes);

// An exclusive lock on a lock file, released when the object goes. The system
// releases it when the program holding it ends in any way, so a lock of a
// program that died is simply taken.
class FileLock {
public:
    FileLock() = default;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    ~FileLock();

    bool Held() const;
    void Release();

private:
    friend FileResult LockFile(const std::filesystem::path& lockFile, FileLock& lock,
                               std::chrono::milliseconds wait);
#ifdef _WIN32
    void* handle = nullptr; // HANDLE
#else
    int fd = -1;
#endif
};

// Locks lockFile (created when missing, never removed: removing it would let two
// programs lock two different files). A lock another program holds is tried again
// every 10 ms for up to `wait`; then Busy.
FileResult LockFile(const std::filesystem::path& lockFile, FileLock& lock,
                    std::chrono::milliseconds wait);

// What a path names, looked at without opening it (opening a FIFO would wait for a
// writer, and a device may read without end).
enum class PathKind { Missing, Regular, Folder, Fifo, Device, Other, Unknown };
// Follows symbolic links on POSIX; on Windows a device or pipe is told by its name
// (NUL, COM1, "\\.\pipe\…") and never opened. Unknown when the system cannot tell
// (systemError: errno on POSIX, GetLastError() on Windows).
PathKind KindOf(const std::filesystem::path& path, std::int64_t* systemError = nullptr);
// "a folder", "a FIFO (named pipe)", "a device", "not a regular file".
std::string KindText(PathKind kind);

// Whether a new file can be made in the folder: tried with a file of this call's
// own, removed again, not guessed from permission bits (Windows keeps none).
FileResult FolderTakesNewFiles(const std::filesystem::path& folder);

// Removes the file; a file that is not there counts as removed.
FileResult RemoveFile(const std::filesystem::path& path);

} // namespace files
