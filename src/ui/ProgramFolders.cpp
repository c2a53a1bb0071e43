#include "ui/ProgramFolders.h"

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

namespace {

bool HasCalibrationLog(const QString& folder) {
    return !folder.isEmpty() && QFileInfo::exists(QDir(folder).filePath("LogTime.csv"));
}

} // namespace

QString ApplicationDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString CalibrationLogFolder(const QString& programFolder) {
    const QString data = ApplicationDataFolder();
    if (HasCalibrationLog(programFolder)) {
        return programFolder;
    }
    if (HasCalibrationLog(data)) {
        return data;
    }
    if (FolderIsWritable(programFolder)) {
        return programFolder;
    }
    QDir().mkpath(data);
    return data;
}

QString UnusedCalibrationLog(const QString& programFolder) {
    const QString data = ApplicationDataFolder();
    if (HasCalibrationLog(programFolder) && HasCalibrationLog(data) &&
        QFileInfo(QDir(programFolder).filePath("LogTime.csv")).canonicalFilePath() !=
            QFileInfo(QDir(data).filePath("LogTime.csv")).canonicalFilePath()) {
        return QDir::toNativeSeparators(QDir(data).filePath("LogTime.csv"));
    }
    return {};
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
