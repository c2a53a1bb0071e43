#pragma once

#include <cstdint>
#include <span>
#include <string>

// The memory dump's output file, held with exclusive access from Open until
// Close or destruction. An existing file is reused and cut to zero length, so no
// bytes of an earlier, longer dump survive behind the new one; otherwise a new
// file is created. The file is never deleted.
class DumpFile {
public:
    DumpFile() = default;
    ~DumpFile();
    DumpFile(const DumpFile&) = delete;
    DumpFile& operator=(const DumpFile&) = delete;

    // 0, or OP_ERR_FILE_OPEN when the file can neither be opened nor created, or
    // is held by another dump.
    std::int32_t Open(const std::string& fileName);
    // Appends all of bytes: 0, or OP_ERR_FILE_WRITE.
    std::int32_t Write(std::span<const std::uint8_t> bytes);
    void Close();
    bool IsOpen() const;

private:
#ifdef _WIN32
    void* handle = nullptr; // HANDLE
#else
    int fd = -1;
#endif
};
