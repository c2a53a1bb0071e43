#include "files/FileSystem.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <system_error>

namespace files {

std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    std::string shown(text.begin(), text.end());
#ifdef _WIN32
    // "C:/Program Files/Wellscribe Onyx\LogTime.csv" as Windows writes it, and never
    // with the long-path prefix a caller may have given it.
    std::replace(shown.begin(), shown.end(), '/', '\\');
    if (shown.starts_with("\\\\?\\UNC\\")) {
        shown.erase(2, 6);
    } else if (shown.starts_with("\\\\?\\")) {
        shown.erase(0, 4);
    }
#endif
    return shown;
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
        if (NameTooLong(result)) {
            return CreateShortFileBeside(target, file, fresh);
        }
        if (result.status != FileStatus::Exists) {
            break;
        }
    }
    return result;
}

FileResult CreateShortFileBeside(const std::filesystem::path& target, File& file,
                                 std::filesystem::path& fresh) {
    static std::atomic<std::uint64_t> names{0};
    constexpr int Attempts = 100;
    constexpr std::size_t Longest = 13; // 12 digits: what 64 bits hold
    constexpr std::string_view Digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    // As long as target's name where that is shorter, so the whole path is no longer
    // either; two characters at the least.
    const std::size_t length =
        std::clamp<std::size_t>(target.filename().native().size(), 2, Longest);
    FileResult result;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        // The process, a count and the clock, mixed, so that another process's
        // names, and a name a killed run left, are unlikely to be met.
        std::uint64_t mixed =
            (std::uint64_t{CurrentProcessId()} << 32) ^ (names++ * 0x9E3779B97F4A7C15u) ^
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        mixed ^= mixed >> 29;
        mixed *= 0xBF58476D1CE4E5B9u;
        mixed ^= mixed >> 32;
        std::string name = "~";
        for (std::uint64_t rest = mixed; name.size() < length; rest /= Digits.size()) {
            name += Digits[rest % Digits.size()];
        }
        fresh = target.parent_path() / name;
        result = CreateNewFile(fresh, file);
        if (result.status != FileStatus::Exists) {
            break;
        }
    }
    return result;
}

FileResult ReplaceFileContents(const std::filesystem::path& path, std::string_view bytes) {
    const std::filesystem::path target = ReplaceTarget(path);
    if (FileResult refused = RefuseReadOnly(target); !refused) {
        return refused;
    }
    std::filesystem::path fresh;
    File file;
    FileResult result = CreateFileBeside(target, file, fresh);
    if (!result) {
        return result;
    }
    result = file.Write(bytes);
    if (result) {
        File unopened;
        result = MoveOver(file, fresh, unopened, target);
    }
    if (!result) {
        file = File();
        RemoveFile(fresh);
    }
    return result;
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

} // namespace files
