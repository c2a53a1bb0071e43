#pragma once

// What the fault tests need from the machine: scratch folders that always go
// away, a tiny file system that fills up, a folder nothing can be written to,
// a file size limit, and child processes that are always reaped.
//
// Mounts are made in a mount namespace of the test process's own (entered once
// at start-up, before any thread exists), so they vanish with the process even
// when it dies in the middle of a test. Only the superuser may mount: the cases
// that need a mount run in the root-only pass (their names start with RootOnly,
// CTest label "root"); elsewhere they are skipped with the reason.

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fault_sandbox {

namespace fs = std::filesystem;

// Empty when the process has a mount namespace of its own, else why not.
inline std::string& MountsUnavailable() {
    static std::string reason = "private mounts were not set up";
    return reason;
}

// Call from main() before anything starts a thread.
inline void EnterPrivateMounts() {
    if (::geteuid() != 0) {
        MountsUnavailable() = "mounting needs the superuser: a case of the root-only pass";
        return;
    }
    if (::unshare(CLONE_NEWNS) != 0) {
        MountsUnavailable() = std::string("no mount namespace of our own: ") + std::strerror(errno);
        return;
    }
    // Nothing mounted here may reach the rest of the machine.
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        MountsUnavailable() =
            std::string("cannot make the mounts private: ") + std::strerror(errno);
        return;
    }
    MountsUnavailable().clear();
}

inline std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The calibration log's bytes for these lines.
inline std::string LogBytes(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += line + "\r\n";
    }
    return bytes;
}

// The names in a folder, sorted.
inline std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh folder of its own, removed with everything in it (and anything
// mounted on it) when the object goes.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "onyx-faults-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path = pattern;
        }
    }
    ~ScratchFolder() {
        if (path.empty()) {
            return;
        }
        if (mounted) {
            ::umount2(path.c_str(), MNT_DETACH);
        }
        std::error_code ignored;
        RestoreWrites(path);
        fs::remove_all(path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& Path() const { return path; }
    fs::path operator/(const std::string& name) const { return path / name; }

    // A tmpfs of `bytes` bytes on the folder: "" or why not.
    std::string MountTiny(std::size_t bytes) {
        if (!MountsUnavailable().empty()) {
            return MountsUnavailable();
        }
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
        if (::mount("onyx-faults", path.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            return std::string("cannot mount a tmpfs: ") + std::strerror(errno);
        }
        mounted = true;
        return {};
    }

    // Takes every byte the file system has left: "" or why not.
    std::string Fill() const {
        const fs::path filler = path / "filler";
        std::FILE* out = std::fopen(filler.c_str(), "wb");
        if (out == nullptr) {
            return std::string("cannot create the filler: ") + std::strerror(errno);
        }
        std::setvbuf(out, nullptr, _IONBF, 0);
        const std::string chunk(512, 'f');
        while (std::fwrite(chunk.data(), 1, chunk.size(), out) == chunk.size()) {
        }
        // Single bytes for the last part of a page.
        while (std::fputc('f', out) != EOF) {
        }
        const int error = errno;
        std::fclose(out);
        return error == ENOSPC ? std::string{}
                               : std::string("the filler stopped early: ") + std::strerror(error);
    }

    // No new file and no change to a file in the folder for this process from
    // now on: a read-only remount for the superuser (whom permission bits do not
    // stop; needs MountTiny first), else permission bits. "" once a probe write
    // has been refused, else why the folder could not be sealed.
    std::string SealReadOnly() {
        if (::geteuid() == 0) {
            if (!mounted) {
                return "the superuser needs a mount to make read-only";
            }
            if (::mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
                return std::string("cannot remount read-only: ") + std::strerror(errno);
            }
        } else {
            for (const auto& entry : fs::directory_iterator(path)) {
                fs::permissions(entry.path(),
                                fs::perms::owner_write | fs::perms::group_write |
                                    fs::perms::others_write,
                                fs::perm_options::remove);
            }
            fs::permissions(path, fs::perms::owner_read | fs::perms::owner_exec);
        }
        const fs::path probe = path / ".probe";
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(probe.c_str());
            return "the folder still takes new files";
        }
        return {};
    }

private:
    static void RestoreWrites(const fs::path& folder) {
        std::error_code ignored;
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ignored);
    }

    fs::path path;
    bool mounted = false;
};

// Writes beyond `bytes` fail with EFBIG (SIGXFSZ ignored) while the object lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        previous = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = saved;
        limit.rlim_cur = bytes;
        active = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool Active() const { return active; }

private:
    struct rlimit saved {};
    void (*previous)(int) = SIG_DFL;
    bool active = false;
};

// A forked child, killed and reaped when the object goes if it still runs.
class Child {
public:
    template <typename Body> explicit Child(Body body) {
        pid = ::fork();
        if (pid == 0) {
            body();
            ::_exit(0);
        }
    }
    ~Child() { Kill(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return pid > 0; }
    // SIGKILL and wait: the status, or -1 when there was no child.
    int Kill() {
        if (pid <= 0) {
            return -1;
        }
        ::kill(pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
        return status;
    }

private:
    pid_t pid = -1;
};

} // namespace fault_sandbox
