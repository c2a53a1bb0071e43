#include "ui/ProgramFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryFile>

bool FolderIsWritable(const QString& folder) {
    QTemporaryFile probe(QDir(folder).filePath("write-test-XXXXXX"));
    return probe.open();
}

QString ExecutableFolder() {
    return QCoreApplication::applicationDirPath();
}

QString CalibrationLogFolder(const QString& programFolder) {
    if (FolderIsWritable(programFolder)) {
        return programFolder;
    }
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);
    return data;
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
