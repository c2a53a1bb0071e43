#include "communication/serial/VirtualPorts.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace virtual_ports {
namespace {

constexpr const char* FolderName = "wellscribe-ports";

// A folder is safe to resolve names in when it is a real directory (not a link),
// owned by this user and writable by nobody else.
bool IsPrivateDirectory(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return false;
    }
    return S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string PrivateFolderIn(const std::string& parent, const std::string& name, bool create) {
    const std::string path = parent + "/" + name;
    if (create && mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    return IsPrivateDirectory(path) ? path : std::string{};
}

std::string LinkTarget(const std::string& path) {
    char buffer[4096];
    const ssize_t length = readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (length <= 0) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

} // namespace

std::string Directory(bool create) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/' && IsPrivateDirectory(runtime)) {
        return PrivateFolderIn(runtime, FolderName, create);
    }
    return PrivateFolderIn("/tmp", std::string(FolderName) + "-" + std::to_string(geteuid()),
                           create);
}

bool IsValidName(const std::string& name) {
    if (name.empty() || name.size() > MaxNameLength || name.front() == '.') {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '.';
    });
}

int Publish(const std::string& name, const std::string& target) {
    if (!IsValidName(name)) {
        return EINVAL;
    }
    const std::string folder = Directory(true);
    if (folder.empty()) {
        return EACCES;
    }
    // Link under a temporary name, then rename over any stale link: readers never
    // see a half-made entry.
    const std::string path = folder + "/" + name;
    const std::string temporary = folder + "/." + name + "." + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        return errno;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        unlink(temporary.c_str());
        return error;
    }
    return 0;
}

int Unpublish(const std::string& name, const std::string& target) {
    if (!IsValidName(name)) {
        return EINVAL;
    }
    const std::string folder = Directory(false);
    if (folder.empty()) {
        return ENOENT;
    }
    const std::string path = folder + "/" + name;
    if (LinkTarget(path) != target) {
        return ENOENT; // someone else has published the name since
    }
    return unlink(path.c_str()) == 0 ? 0 : errno;
}

std::string Resolve(const std::string& name) {
    if (!IsValidName(name)) {
        return {};
    }
    const std::string folder = Directory(false);
    if (folder.empty()) {
        return {};
    }
    std::string target = LinkTarget(folder + "/" + name);
    if (!target.empty() && target.front() != '/') {
        target = folder + "/" + target; // as the system follows it: from the link's folder
    }
    // Only a terminal can be a port: a file, a FIFO or a folder would be listed and
    // then fail to open, or worse, be opened and written to.
    struct stat info {};
    if (target.empty() || stat(target.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        return {};
    }
    return target;
}

std::vector<std::string> List() {
    std::vector<std::string> names;
    const std::string folder = Directory(false);
    if (folder.empty()) {
        return names;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> directory(opendir(folder.c_str()), closedir);
    if (!directory) {
        return names;
    }
    while (const dirent* entry = readdir(directory.get())) {
        const std::string name = entry->d_name;
        if (IsValidName(name) && !Resolve(name).empty()) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace virtual_ports
