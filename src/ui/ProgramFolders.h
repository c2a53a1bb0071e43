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

// LogTime.csv lives beside the executable when its folder is writable (a portable
// copy, a build tree), otherwise in the user's application-data folder, which is
// created when missing (an installed program: /usr/bin, C:\Program Files).
QString CalibrationLogFolder(const QString& programFolder = ExecutableFolder());

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
