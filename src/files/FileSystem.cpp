#include "files/FileSystem.h"

#include <atomic>
#include <system_error>

namespace files {

std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::filesystem::path ReplaceTarget(const std::filesystem::path& path) {
    constexpr int MostLinks = 40; // as many as the system follows
    std::filesystem::path target = path;
    for (int link = 0; link < MostLinks; ++link) {
        std::error_code error;
        if (!std::filesystem::is_symlink(target, error)) {
            break;
        }
        const std::filesystem::path next = std::filesystem::read_symlink(target, error);
        if (error) {
            break;
        }
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target;
}

FileResult CreateFileBeside(const std::filesystem::path& target, File& file,
                            std::filesystem::path& fresh) {
    static std::atomic<unsigned> names{0};
    constexpr int Attempts = 100;
    FileResult result;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        fresh = target;
        fresh += ".new-" + std::to_string(CurrentProcessId()) + "-" + std::to_string(names++);
        result = CreateNewFile(fresh, file);
        if (result.status != FileStatus::Exists) {
            break;
        }
    }
    return result;
}

FileResult WriteToDiskAndClose(File& file, std::string_view bytes) {
    FileResult result = file.Write(bytes);
    if (result) {
        result = file.FlushToDisk();
    }
    if (FileResult closed = file.Close(); result && !closed) {
        result = closed;
    }
    return result;
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

std::string KindText(PathKind kind) {
    switch (kind) {
    case PathKind::Folder:
        return "a folder";
    case PathKind::Fifo:
        return "a FIFO (named pipe)";
    case PathKind::Device:
        return "a device";
    default:
        return "not a regular file";
    }
}

FileResult FolderTakesNewFiles(const std::filesystem::path& folder) {
    File probe;
    std::filesystem::path made;
    FileResult result = CreateFileBeside(folder / "probe", probe, made);
    if (!result) {
        return result;
    }
    probe.Close();
    return RemoveFile(made);
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
