#pragma once

#include "files/FileSystem.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

// The memory dump's output file, held with exclusive access from Open until
// Finish, Close or destruction.
//
// When the chosen name holds no file, it is created and the blocks go straight
// into it. When it holds an earlier file, that file is held and left byte for byte
// as it is: the blocks go to a file beside it (the chosen name with
// DumpPartialSuffix after it, or a short name of its own where that one would be
// too long), and only Finish, for a complete dump, renames that file over the
// earlier one. A dump that ends early keeps its blocks there. A file beside it
// left by an earlier dump is reused, emptied by the first Write.
class DumpFile {
public:
    DumpFile() = default;
    ~DumpFile();
    DumpFile(const DumpFile&) = delete;
    DumpFile& operator=(const DumpFile&) = delete;

    // 0, or OP_ERR_FILE_OPEN when the file, or the file beside it, can be neither
    // opened nor created, is read-only, or is held by another dump.
    std::int32_t Open(const std::string& fileName);
    // Appends all of bytes to the blocks' file, the first call after emptying it:
    // 0, or OP_ERR_FILE_WRITE.
    std::int32_t Write(std::span<const std::uint8_t> bytes);
    // The dump is complete: the blocks take the chosen name, flushed to the disk
    // and renamed over an earlier file. Closes the files: 0, or OP_ERR_FILE_WRITE
    // with the earlier file as it was and the blocks beside it.
    std::int32_t Finish();
    // Closes the files, keeping the blocks written where they are; a file that
    // Open created and no Write reached is removed.
    void Close();
    bool IsOpen() const;
    // Closes the files and removes the blocks' file, if this Open created it: 0,
    // or the system's code.
    std::int32_t Remove();

    // True when Open created the file the blocks go to rather than reusing one.
    bool Created() const { return created; }
    // True when an earlier file held the chosen name: the blocks go to
    // PartialPath() until Finish.
    bool KeepsEarlier() const { return !partial.empty(); }
    const std::filesystem::path& PartialPath() const { return partial; }
    // True when PartialPath() is the chosen name with DumpPartialSuffix after it.
    bool PartialNamedAfterFile() const { return partialNamedAfterFile; }
    // The system's error code of the last failed Open, Write or Finish (errno, or
    // GetLastError on Windows); 0 when none failed.
    std::int32_t SystemError() const { return systemError; }
    // True when that error concerns PartialPath(), not the chosen file.
    bool ErrorOnPartial() const { return errorOnPartial; }

private:
    std::int32_t Failed(const files::FileResult& result, bool onPartial, std::int32_t code);

    files::File earlier;           // the file under the chosen name while the blocks go beside it
    files::File file;              // where the blocks go
    std::filesystem::path chosen;  // the chosen file, through its symbolic links
    std::filesystem::path path;    // the blocks' file: chosen or partial
    std::filesystem::path partial; // empty when no earlier file held the name
    bool partialNamedAfterFile = false;
    bool created = false;
    bool written = false; // a Write reached the blocks' file
    bool emptied = false; // cut to zero length, or new
    std::int32_t systemError = 0;
    bool errorOnPartial = false;
};
