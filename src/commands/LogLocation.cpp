#include "commands/LogLocation.h"

#include "calibration/CalibrationLog.h"
#include "files/FileSystem.h"

#include <cstdlib>
#include <system_error>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// These two need windows.h before them.
#include <knownfolders.h>
#include <shlobj.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

bool HasLog(const std::filesystem::path& folder) {
    return !folder.empty() &&
           files::KindOf(CalibrationLog::PathIn(folder)) != files::PathKind::Missing;
}

bool SameFile(const std::filesystem::path& one, const std::filesystem::path& other) {
    std::error_code error;
    return std::filesystem::equivalent(one, other, error);
}

#ifndef _WIN32
// The user's home folder: HOME, or the account's own when HOME is not set.
std::filesystem::path HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}
#endif

} // namespace

std::filesystem::path ProgramFolder() {
#ifdef _WIN32
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            return {};
        }
        if (length < name.size()) {
            name.resize(length);
            break;
        }
        name.resize(name.size() * 2);
    }
    return std::filesystem::path(name).parent_path();
#else
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : executable.parent_path();
#endif
}

std::filesystem::path UserDataFolder(std::string* why) {
    const std::filesystem::path title(std::u8string(ProgramTitle.begin(), ProgramTitle.end()));
#ifdef _WIN32
    PWSTR folder = nullptr;
    std::filesystem::path data;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &folder))) {
        data = std::filesystem::path(folder) / title;
    } else if (why != nullptr) {
        *why = "Windows gives this account no application-data folder";
    }
    CoTaskMemFree(folder);
    return data;
#else
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        return std::filesystem::path(xdg) / title;
    }
    const std::filesystem::path home = HomeFolder();
    if (home.empty()) {
        if (why != nullptr) {
            *why = "HOME is not set and the account has no home folder";
        }
        return {};
    }
    return home / ".local" / "share" / title;
#endif
}

LogLocation CalibrationLogLocation(const std::filesystem::path& programFolder) {
    LogLocation location;
    std::string why;
    const std::filesystem::path data = UserDataFolder(&why);
    if (HasLog(programFolder)) {
        location.log = CalibrationLog::PathIn(programFolder);
        if (HasLog(data) && !SameFile(location.log, CalibrationLog::PathIn(data))) {
            location.unused = CalibrationLog::PathIn(data);
        }
        return location;
    }
    if (HasLog(data)) {
        location.log = CalibrationLog::PathIn(data);
        return location;
    }
    if (!programFolder.empty() && files::FolderTakesNewFiles(programFolder)) {
        location.log = CalibrationLog::PathIn(programFolder);
        return location;
    }
    if (data.empty()) {
        location.error = "There is no folder for the calibration log " +
                         std::string(CalibrationLog::FileName) + ": " + why + ".";
        return location;
    }
    std::error_code error;
    std::filesystem::create_directories(data, error);
    if (error) {
        location.error = "Cannot make the folder " + files::PathText(data) +
                         " for the calibration log " + std::string(CalibrationLog::FileName) +
                         ": " + error.message() + ".";
        return location;
    }
    location.log = CalibrationLog::PathIn(data);
    return location;
}
