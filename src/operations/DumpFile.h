#pragma once

#include "files/FileSystem.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

// The memory dump's output file, held with exclusive access from Open until
// Close or destruction. An existing file is reused, but left as it is until the
// first Write: that cuts it to zero length, so no bytes of an earlier, longer dump
// survive behind the new one, and a dump that reads nothing keeps the earlier one.
// Otherwise a new file is created. Only a file this dump created itself is ever
// removed, by Remove.
class DumpFile {
public:
    DumpFile() = default;
    ~DumpFile();
    DumpFile(const DumpFile&) = delete;
    DumpFile& operator=(const DumpFile&) = delete;

    // 0, or OP_ERR_FILE_OPEN when the file can neither be opened nor created, or
    // is held by another dump.
    std::int32_t Open(const std::string& fileName);
    // Appends all of bytes, the first call after emptying the file: 0, or
    // OP_ERR_FILE_WRITE.
    std::int32_t Write(std::span<const std::uint8_t> bytes);
    void Close();
    bool IsOpen() const;
    // Closes the file and removes it, if this Open created it: 0, or the system's code.
    std::int32_t Remove();

    // True when Open created the file rather than reusing one that existed.
    bool Created() const { return created; }
    // True when a file that existed before Open has been changed (emptied by the
    // first Write).
    bool Changed() const { return !created && emptied; }
    // The system's error code of the last failed Open or Write (errno, or
    // GetLastError on Windows); 0 when none failed.
    std::int32_t SystemError() const { return systemError; }

private:
    files::File file;
    std::filesystem::path path;
    bool created = false;
    bool emptied = false; // cut to zero length, or new
    std::int32_t systemError = 0;
};
