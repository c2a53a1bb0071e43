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

} // namespace files
