#pragma once

// What onyx prints: the ports' results as text in the order the ports were given,
// or as one JSON document.

#include "PortJobs.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

// A port's result as the JSON object of the README.
QJsonObject ResultJson(const PortResult& result);

// Text: the port, then each shown line and the outcome indented.
void PrintResult(std::FILE* out, const PortResult& result);

// Each failure with its text, "PORT: text", on err.
void PrintFailures(std::FILE* err, const std::vector<PortResult>& results);

// The whole document, indented, on out.
void PrintJson(std::FILE* out, const QJsonArray& document);

// Bytes from the logger (labels), as the window shows them: one byte a character.
QString LoggerText(const std::string& bytes);

// A file name from the command line as the file code takes it (UTF-8 on Windows,
// the local 8-bit encoding elsewhere), and back for messages; and as a path.
std::string NameBytes(const QString& name);
QString NameText(const std::string& name);
std::filesystem::path NamePath(const QString& name);
