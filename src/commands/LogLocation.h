#pragma once

// Which LogTime.csv the program uses, the same for the window and onyx, so that a
// calibration started from one is stopped from the other on the same log.

#include <filesystem>
#include <string>
#include <string_view>

// The program's title, which also names its folder of per-user files.
constexpr std::string_view ProgramTitle = "Corvane Wellscribe Onyx Diagnostics Utility";

// The folder that holds the running program's executable.
std::filesystem::path ProgramFolder();

// The folder where a program that cannot write beside itself keeps its log: the
// user's application-data folder (XDG_DATA_HOME or ~/.local/share; the roaming
// AppData folder on Windows) and the program's title. Empty, with why, when the
// user has no such folder.
std::filesystem::path UserDataFolder(std::string* why = nullptr);

struct LogLocation {
    std::filesystem::path log;    // the LogTime.csv used; empty when none can be
    std::filesystem::path unused; // another LogTime.csv not read, to be told about once
    std::string error;            // why there is no log, naming the folder
};

// A log that exists is used: the one beside the executable first, else the one in
// the application-data folder, so a calibration started from one place is stopped
// from the same log. With no log yet, beside the executable when its folder takes
// new files (a portable copy, a build tree), otherwise in the application-data
// folder, created when missing (an installed program: /usr/bin, C:\Program Files).
LogLocation CalibrationLogLocation(const std::filesystem::path& programFolder = ProgramFolder());
