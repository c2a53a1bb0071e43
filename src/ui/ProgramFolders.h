#pragma once

// Where the program keeps its calibration log and where its save dialogs start, and
// how file names pass between Qt and the Qt-free code.

#include <QString>
#include <filesystem>
#include <string>

// True when a file can be created in the folder (tried, not guessed from the
// permission bits, which Windows does not keep).
bool FolderIsWritable(const QString& folder);

// The folder that holds the program's executable.
QString ExecutableFolder();

// The folder of LogTime.csv. A log that exists is used: the one beside the
// executable first, else the one in the user's application-data folder, so a
// calibration started from one place is stopped from the same log. With no log
// yet, beside the executable when its folder is writable (a portable copy, a
// build tree), otherwise the application-data folder, created when missing (an
// installed program: /usr/bin, C:\Program Files).
QString CalibrationLogFolder(const QString& programFolder = ExecutableFolder());
// The folder where programs that cannot write beside themselves keep the log.
QString ApplicationDataFolder();
// When logs exist in both places: the path of the one not used (in the
// application-data folder), for the user to be told once; else empty.
QString UnusedCalibrationLog(const QString& programFolder = ExecutableFolder());

// The folder the save dialogs start in: the executable's folder when writable, else
// the user's documents folder; for the report dialog, which names no folder of its
// own, an empty text when the executable's folder is writable.
QString DumpDialogFolder(const QString& programFolder = ExecutableFolder());
QString ReportDialogFolder(const QString& programFolder = ExecutableFolder());

// A file name for the Qt-free code: UTF-8 on Windows (the file code turns it into
// UTF-16), the local 8-bit encoding elsewhere; and back.
std::string FileNameBytes(const QString& name);
QString FileNameText(const std::string& name);
std::filesystem::path FilePath(const QString& name);
