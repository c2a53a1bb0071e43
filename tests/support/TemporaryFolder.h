#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <system_error>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

// A fresh folder of the test's own in the system's temporary folder, removed with
// everything in it when the object goes (made writable first, for tests that take
// the write permission away).
class TemporaryFolder {
public:
    explicit TemporaryFolder(const std::string& prefix = "onyx-test") {
        static std::atomic<int> folders{0};
#ifdef _WIN32
        const int process = _getpid();
#else
        const int process = static_cast<int>(::getpid());
#endif
        path = std::filesystem::temp_directory_path() /
               (prefix + "-" + std::to_string(process) + "-" + std::to_string(++folders));
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
        std::filesystem::create_directories(path);
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& Path() const {
        return path;
    }
    std::filesystem::path operator/(const std::string& name) const {
        return path / name;
    }

private:
    std::filesystem::path path;
};
