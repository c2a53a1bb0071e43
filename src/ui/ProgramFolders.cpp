#include "ui/ProgramFolders.h"

#include "commands/LogLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

bool FolderIsWritable(const QString& folder) {
    QTemporaryFile probe(QDir(folder).filePath("write-test-XXXXXX"));
    return probe.open();
}

QString ExecutableFolder() {
    return QCoreApplication::applicationDirPath();
}

QString ApplicationDataFolder() {
    return QString::fromStdWString(::UserDataFolder().wstring());
}

QString CalibrationLogFolder(const QString& programFolder) {
    const LogLocation location = CalibrationLogLocation(FilePath(programFolder));
    return location.log.empty() ? QString()
                                : QString::fromStdWString(location.log.parent_path().wstring());
}

QString UnusedCalibrationLog(const QString& programFolder) {
    const LogLocation location = CalibrationLogLocation(FilePath(programFolder));
    return location.unused.empty()
               ? QString()
               : QDir::toNativeSeparators(QString::fromStdWString(location.unused.wstring()));
}

QString DumpDialogFolder(const QString& programFolder) {
    return FolderIsWritable(programFolder)
               ? programFolder
               : QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

QString ReportDialogFolder(const QString& programFolder) {
    return FolderIsWritable(programFolder)
               ? QString()
               : QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

#ifdef _WIN32
std::string FileNameBytes(const QString& name) {
    return name.toStdString();
}

QString FileNameText(const std::string& name) {
    return QString::fromStdString(name);
}

std::filesystem::path FilePath(const QString& name) {
    return std::filesystem::path(name.toStdWString());
}
#else
std::string FileNameBytes(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

QString FileNameText(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
}

std::filesystem::path FilePath(const QString& name) {
    return std::filesystem::path(FileNameBytes(name));
}
#endif
